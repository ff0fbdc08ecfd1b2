#include "service/catalogue.h"

#include "http/http_request.h"
#include "service/service_api.h"
#include "text/code_page.h"
#include "text/text_scan.h"

namespace {

// The answers are read by markers, not as JSON: the list between ":[" and the first "]"
// behind it, one piece per object (the split at "}," eats every closing brace but the last).
std::vector<std::string> ListPieces(const std::string& body) {
    std::string list = TextBetween(Utf8TextToAnsi(body), ":[", "]");
    if (list.empty()) {
        return {};
    }
    return SplitText(list, "},");
}

struct BackgroundKeys {
    const char* id;
    const char* voxUrl;
    const char* name;
    const char* synCount;  // null: the list carries no count
    const char* insertTime;
};

constexpr BackgroundKeys kCustomListKeys = {"id\":", "bgVoxUrl\":\"", "bgVoxName\":\"", nullptr,
                                            "insertTime\":"};
constexpr BackgroundKeys kCategoryListKeys = {"biId\":", "biVoxurl\":\"", "biName\":\"",
                                              "biSyncount\":", "biInserttime\":"};

}  // namespace

SharedCatalogue<SpeakerRecord>& SpeakerCatalogue() {
    static SharedCatalogue<SpeakerRecord> catalogue;
    return catalogue;
}

SharedCatalogue<BackgroundRecord>& BackgroundCatalogue() {
    static SharedCatalogue<BackgroundRecord> catalogue;
    return catalogue;
}

std::vector<SpeakerRecord> ParseSpeakerCategory(const std::string& body, int category) {
    if (category < 1 || category > 5) {
        category = 1;
    }
    std::vector<SpeakerRecord> records;
    for (const std::string& piece : ListPieces(body)) {
        SpeakerRecord record;
        record.id = TextBetween(piece, "riId\":", ",");
        if (record.id.empty()) {
            continue;
        }
        record.category = category;
        record.name = TextBetween(piece, "riName\":\"", "\"");
        record.param = TextBetween(piece, "riParam\":\"", "\"");
        record.picUrl = TextBetween(piece, "riPicurl\":\"", "\"");
        record.voxUrl = TextBetween(piece, "riVoxurl\":\"", "\"");
        record.synCount = TextBetween(piece, "riSyncount\":", ",");
        record.insertTime = TextBetween(piece, "riInserttime\":", ",");
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<BackgroundRecord> ParseBackgroundList(const std::string& body, int list) {
    const BackgroundKeys& keys = list == 1 ? kCustomListKeys : kCategoryListKeys;
    std::vector<BackgroundRecord> records;
    for (const std::string& piece : ListPieces(body)) {
        BackgroundRecord record;
        record.category = list;
        record.id = TextBetween(piece, keys.id, ",");
        record.voxUrl = TextBetween(piece, keys.voxUrl, "\"");
        if (record.id.empty() || record.voxUrl.empty()) {
            continue;
        }
        record.name = TextBetween(piece, keys.name, "\"");
        if (keys.synCount != nullptr) {
            record.synCount = TextBetween(piece, keys.synCount, ",");
        }
        // The brace the split removed comes back so the last member is found up to "}".
        record.insertTime = TextBetween(piece + "}", keys.insertTime, "}");
        records.push_back(std::move(record));
    }
    return records;
}

int FetchSpeakerCategory(std::vector<SpeakerRecord>& records, int category,
                         CatalogueExchange* exchange) {
    records.clear();
    CatalogueExchange scratch;
    CatalogueExchange& result = exchange != nullptr ? *exchange : scratch;
    result = {};
    std::string body = PerformHttpRequest({.url = SpeakerCategoryUrl(category, MakeTimestamp()),
                                           .statusCode = &result.status,
                                           .error = &result.error,
                                           .bodyLimit = kJsonAnswerLimit});
    records = ParseSpeakerCategory(body, category);
    return static_cast<int>(records.size());
}

int FetchBackgroundList(std::vector<BackgroundRecord>& records, int list,
                        CatalogueExchange* exchange) {
    records.clear();
    if (list < 1 || list > 10) {
        return 0;
    }
    CatalogueExchange scratch;
    CatalogueExchange& result = exchange != nullptr ? *exchange : scratch;
    result = {};
    std::string headers = CatalogueHeaderBlock();
    std::string body = PerformHttpRequest({.url = BackgroundListUrl(list, MakeTimestamp()),
                                           .method = kHttpGet,
                                           .headers = &headers,
                                           .statusCode = &result.status,
                                           .error = &result.error,
                                           .bodyLimit = kJsonAnswerLimit});
    records = ParseBackgroundList(body, list);
    return static_cast<int>(records.size());
}
