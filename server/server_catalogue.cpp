#include "server/server_catalogue.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "server/catalogue_tables.h"
#include "server/file_paths.h"
#include "server/json_answer.h"
#include "server/mp3_encoding.h"
#include "text/utf8.h"

namespace dubserver {
namespace {

constexpr int64_t kCatalogueEpochMs = 1698768000000;  // when the catalogue was "published"
constexpr int64_t kDayMs = 86400000;

int64_t InsertTime(int id) {
    return kCatalogueEpochMs + static_cast<int64_t>(id % 97) * kDayMs;
}

int SynthesisCount(int id) {
    return 1000 + (id * 7919) % 50000;
}

template <typename Record>
const Record* FindById(const std::vector<Record>& records, int id) {
    const auto found = std::find_if(records.begin(), records.end(),
                                    [id](const Record& record) { return record.id == id; });
    return found == records.end() ? nullptr : &*found;
}

// One value per entry of a fixed table, made on first use and once only, however many requests
// ask for it at the same time.
template <typename Value>
class MadeOnce {
  public:
    explicit MadeOnce(size_t count) : slots_(std::make_unique<Slot[]>(count)) {}

    template <typename Make>
    const Value& Get(size_t index, Make make) {
        Slot& slot = slots_[index];
        std::call_once(slot.made, [&] { slot.value = make(); });
        return slot.value;
    }

  private:
    struct Slot {
        std::once_flag made;
        Value value;
    };
    std::unique_ptr<Slot[]> slots_;
};

}  // namespace

const std::vector<Speaker>& Speakers() {
    static const std::vector<Speaker> offered = [] {
        const InstalledVoices installed = ListInstalledVoices();
        std::vector<Speaker> speakers = SpeakerTable();
        std::erase_if(speakers, [&](const Speaker& speaker) {
            return !installed.voices.contains(speaker.voice) ||
                   (!speaker.variant.empty() && !installed.variants.contains(speaker.variant));
        });
        return speakers;
    }();
    return offered;
}

const Speaker* FindSpeaker(int id) {
    return FindById(Speakers(), id);
}

std::string VoiceOf(const Speaker& speaker) {
    return speaker.variant.empty() ? speaker.voice : speaker.voice + "+" + speaker.variant;
}

std::string DefaultVoice() {
    const Speaker* first = FindSpeaker(101);
    return first != nullptr ? VoiceOf(*first) : std::string(kMandarinVoice);
}

const std::vector<BackgroundTrack>& BackgroundTracks() {
    static const std::vector<BackgroundTrack> tracks = TrackTable();
    return tracks;
}

const BackgroundTrack* FindBackgroundTrack(int id) {
    return FindById(BackgroundTracks(), id);
}

const TrackAudio& AudioOfTrack(const BackgroundTrack& track) {
    static MadeOnce<TrackAudio> audio(BackgroundTracks().size());
    return audio.Get(static_cast<size_t>(&track - BackgroundTracks().data()), [&] {
        TrackAudio made{.samples = RenderMusic(track.mood), .mp3 = {}};
        made.mp3 = EncodeMp3(made.samples);
        return made;
    });
}

const std::string& SampleOfSpeaker(const Speaker& speaker) {
    static MadeOnce<std::string> samples(Speakers().size());
    return samples.Get(static_cast<size_t>(&speaker - Speakers().data()), [&] {
        const Samples spoken = SynthesizeSpeech(speaker.sampleText, {.voice = VoiceOf(speaker)});
        return spoken.empty() ? std::string() : EncodeMp3(spoken);
    });
}

std::string PictureOfSpeaker(const Speaker& speaker) {
    // The first character of the name, whatever its UTF-8 length.
    const size_t length = speaker.name.empty() ? 0 : NextUtf8Character(speaker.name, 0).length;
    const int hue = (speaker.id * 47) % 360;
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"96\" height=\"96\">"
           "<circle cx=\"48\" cy=\"48\" r=\"46\" fill=\"hsl(" +
           std::to_string(hue) +
           ",55%,55%)\"/><text x=\"48\" y=\"63\" font-size=\"44\" text-anchor=\"middle\" "
           "fill=\"#fff\">" +
           speaker.name.substr(0, length) + "</text></svg>";
}

std::string TrackAddress(std::string_view origin, int trackId) {
    return std::string(origin) + kTrackPath + std::to_string(trackId);
}

std::string TrackFileAddress(std::string_view origin, int trackId) {
    return std::string(origin) + kTrackFilesPath + std::to_string(trackId) + ".mp3";
}

std::string SpeakerListAnswer(int category, std::string_view origin) {
    Json list = Json::array();
    int sort = 0;
    for (const Speaker& speaker : Speakers()) {
        if (std::find(speaker.categories.begin(), speaker.categories.end(), category) ==
            speaker.categories.end()) {
            continue;
        }
        const std::string files =
            std::string(origin) + kSpeakerFilesPath + std::to_string(speaker.id);
        // The client cuts riSyncount and riInserttime up to the next comma: neither may be the
        // object's last member.
        list.push_back(Json{{"riId", speaker.id},
                            {"riName", speaker.name},
                            {"riPicurl", files + ".svg"},
                            {"riVoxurl", files + ".mp3"},
                            {"riParam", VoiceOf(speaker)},
                            {"riSyncount", SynthesisCount(speaker.id)},
                            {"riInserttime", InsertTime(speaker.id)},
                            {"riSort", ++sort}});
    }
    return Dump(Success(std::move(list)));
}

std::string TrackListAnswer(int category, std::string_view origin) {
    Json list = Json::array();
    for (const BackgroundTrack& track : BackgroundTracks()) {
        if (category == 0 || track.category != category) {
            continue;
        }
        // biInserttime is cut up to the object's closing brace: it must come last.
        list.push_back(Json{{"biId", track.id},
                            {"biName", track.name},
                            {"biVoxurl", TrackAddress(origin, track.id)},
                            {"biSyncount", SynthesisCount(track.id)},
                            {"biInserttime", InsertTime(track.id)}});
    }
    return Dump(Success(std::move(list)));
}

std::string CustomTrackListAnswer(int page, int pageCount, std::string_view origin) {
    std::vector<const BackgroundTrack*> custom;
    for (const BackgroundTrack& track : BackgroundTracks()) {
        if (track.category == 0) {
            custom.push_back(&track);
        }
    }
    page = std::max(page, 1);
    pageCount = std::max(pageCount, 1);
    Json list = Json::array();
    const size_t first = static_cast<size_t>(page - 1) * static_cast<size_t>(pageCount);
    for (size_t i = first; i < custom.size() && i < first + static_cast<size_t>(pageCount); ++i) {
        // "id" first (the client takes the first key ending in id), insertTime last.
        list.push_back(Json{{"id", custom[i]->id},
                            {"bgVoxName", custom[i]->name},
                            {"bgVoxUrl", TrackAddress(origin, custom[i]->id)},
                            {"insertTime", InsertTime(custom[i]->id)}});
    }
    return Dump(Success(Json{{"total", custom.size()},
                             {"page", page},
                             {"pageCount", pageCount},
                             {"list", std::move(list)}}));
}

}  // namespace dubserver
