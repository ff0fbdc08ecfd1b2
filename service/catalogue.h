#pragma once
// The service's speakers and background tracks: the records, the two process-wide catalogues
// and the fetches that read one category or list from the service. Texts are code page 936.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/request_object.h"

struct SpeakerRecord {
    std::string id{};
    std::string name{};
    std::string picUrl{};
    std::string voxUrl{};
    std::string param{};
    std::string synCount{};
    std::string insertTime{};
    int32_t category = 0;

    bool operator==(const SpeakerRecord&) const = default;
};

struct BackgroundRecord {
    std::string id{};
    std::string name{};
    std::string voxUrl{};
    std::string synCount{};
    std::string insertTime{};
    int32_t category = 0;

    bool operator==(const BackgroundRecord&) const = default;
};

// A growing array of records shared by one writer (the loader thread) and readers on the
// window's thread. Every operation holds the lock for its whole duration, so a reader sees
// each append either completely or not at all.
template <typename Record>
class SharedCatalogue {
  public:
    void Clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
    }

    void Append(const std::vector<Record>& records) {
        std::lock_guard lock(mutex_);
        records_.insert(records_.end(), records.begin(), records.end());
    }

    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return records_.size();
    }

    // The record at a 1-based position; nullopt outside 1..Count().
    std::optional<Record> At(std::size_t position) const {
        std::lock_guard lock(mutex_);
        if (position < 1 || position > records_.size()) {
            return std::nullopt;
        }
        return records_[position - 1];
    }

    // A copy of every record, in catalogue order.
    std::vector<Record> Snapshot() const {
        std::lock_guard lock(mutex_);
        return records_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Record> records_;
};

SharedCatalogue<SpeakerRecord>& SpeakerCatalogue();
SharedCatalogue<BackgroundRecord>& BackgroundCatalogue();

// Turns a readerInfo answer (the raw body) into records of the given category; a category
// outside 1 to 5 is taken as 1.
std::vector<SpeakerRecord> ParseSpeakerCategory(const std::string& body, int category);
// Turns a customBgVoxList (list 1) or bgVoxInfo (lists 2 to 10) answer into records.
std::vector<BackgroundRecord> ParseBackgroundList(const std::string& body, int list);

// How a catalogue exchange went, for callers that tell the user why a list is empty.
struct CatalogueExchange {
    int status = 0;     // what the service answered with; 0 when it did not answer
    HttpError error{};  // why the exchange failed; kind None when it completed
};

// One exchange each: replace the caller's records with those of the category or list and
// return their number. A failed exchange or an answer without a list gives 0 records.
// exchange (when given) receives how the exchange went.
int FetchSpeakerCategory(std::vector<SpeakerRecord>& records, int category,
                         CatalogueExchange* exchange = nullptr);
// A list number outside 1 to 10 gives 0 records without asking the service (exchange then
// stays as it was given).
int FetchBackgroundList(std::vector<BackgroundRecord>& records, int list,
                        CatalogueExchange* exchange = nullptr);
