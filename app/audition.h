#pragma once
// Audition: the sample of a speaker or a background track, fetched once from the address the
// catalogue lists and kept in the user's cache folder, so it can be heard without a synthesis
// job. The window and the command line both play or save what this gives. No Qt here.

#include <atomic>
#include <string>

#include "http/request_object.h"

// Where samples are kept: "$XDG_CACHE_HOME/dubdesk/samples", or "$HOME/.cache/dubdesk/samples"
// when that variable is unset or not an absolute path.
std::string SampleCacheFolder();
// The file that keeps the sample of an address: named by a hash of the whole address.
std::string SampleCachePath(const std::string& address);

// True when the sample of the address is in the cache: FetchSample will not ask for it.
bool SampleIsCached(const std::string& address);

// Why no sample could be had.
enum class SampleFailure {
    None,
    NoAddress,   // the catalogue lists none
    Exchange,    // the exchange failed: error says why
    HttpStatus,  // answered with a status other than 200
    NotAudio,    // the answer is empty or does not decode as MP3
    CacheWrite,  // the sample came but could not be kept: errorNumber says why
};

struct SampleOutcome {
    SampleFailure failure = SampleFailure::None;
    HttpError error{};    // with Exchange
    int status = 0;       // with HttpStatus
    int errorNumber = 0;  // with CacheWrite
    bool fromCache = false;
};

// The cached file of the sample at address, fetched first when it is not cached yet: one GET
// with the engine's default header lines and nothing else (no cookies, no token), redirects
// followed, the body capped like a download. Only MP3 is kept. Returns the file's path; empty on
// failure, with outcome (when given) saying why. While cancel (when given) is raised the
// exchange gives up at once.
std::string FetchSample(const std::string& address, SampleOutcome* outcome = nullptr,
                        const std::atomic<bool>* cancel = nullptr);
