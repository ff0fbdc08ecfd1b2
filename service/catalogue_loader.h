#pragma once
// The start-up load of the whole catalogue, meant to run on a thread of its own.

#include <atomic>
#include <functional>

// Asks the service for speaker categories 1 to 5, then background lists 1 to 10, one request
// after another, appending each answer's records to SpeakerCatalogue and BackgroundCatalogue,
// with WaitWithEvents(1) after each background list; then calls fillLists.
//
// With an abort flag, the exchanges run under an HttpAbortGuard on it, and once the flag is
// set the load stops before its next request and returns without calling fillLists (the
// window it would fill may be gone by then).
void LoadCatalogues(const std::function<void()>& fillLists,
                    const std::atomic<bool>* abort = nullptr);
