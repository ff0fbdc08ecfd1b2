#include "service/catalogue_loader.h"

#include <optional>
#include <vector>

#include "http/request_object.h"
#include "service/catalogue.h"
#include "service/waiting.h"

namespace {

bool Aborted(const std::atomic<bool>* abort) {
    return abort != nullptr && abort->load();
}

}  // namespace

void LoadCatalogues(const std::function<void()>& fillLists, const std::atomic<bool>* abort) {
    std::optional<HttpAbortGuard> guard;
    if (abort != nullptr) {
        guard.emplace(*abort);
    }
    std::vector<SpeakerRecord> speakers;
    for (int category = 1; category <= 5; ++category) {
        if (Aborted(abort)) {
            return;
        }
        FetchSpeakerCategory(speakers, category);
        SpeakerCatalogue().Append(speakers);
    }
    std::vector<BackgroundRecord> tracks;
    for (int list = 1; list <= 10; ++list) {
        if (Aborted(abort)) {
            return;
        }
        FetchBackgroundList(tracks, list);
        BackgroundCatalogue().Append(tracks);
        WaitWithEvents(1);
    }
    if (Aborted(abort) || !fillLists) {
        return;
    }
    fillLists();
}
