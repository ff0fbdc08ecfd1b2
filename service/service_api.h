#pragma once
// The contract with the dubbing service: where it lives, the header blocks it expects and the
// addresses of its endpoints. Every service address ends in "T=" and a timestamp the caller
// made with MakeTimestamp, so that the caller decides which requests share one.

#include <cstddef>
#include <string>

// The most the service's JSON answers may hold: far above any real catalogue or status answer.
// A download or a track may hold the engine's default limit.
inline constexpr std::size_t kJsonAnswerLimit = std::size_t{16} << 20;

inline constexpr const char* kDefaultServiceOrigin = "http://127.0.0.1:8017";

// Scheme, host and optional port, without a trailing "/".
std::string ServiceOrigin();
// The host[:port] part of ServiceOrigin, as the Host line carries it.
std::string ServiceHost();
// Takes effect for every request built afterwards; trailing "/" are dropped. An empty text
// restores the default. Meant for start-up, before any request runs.
void SetServiceOrigin(const std::string& origin);

// The access token of the Authorization line of CatalogueHeaderBlock. An empty text restores
// the local server's development token.
std::string CatalogueAccessToken();
void SetCatalogueAccessToken(const std::string& token);

// Header block of the background-list requests, each line ended by CR LF.
std::string CatalogueHeaderBlock();
// Header block of the submit request, each line ended by CR LF; it holds an Authorization line
// with an empty value.
std::string SynthesisHeaderBlock();

// The cookie text of one synthesis job: starts empty, travels with the submit and every status
// request of that job and collects what the service sets. Catalogue requests, track requests
// and the download send none.
using JobCookies = std::string;

// readerInfo for speaker category 1 to 5 (anything else is category 1).
std::string SpeakerCategoryUrl(int category, const std::string& t);
// customBgVoxList for list 1, bgVoxInfo for lists 2 to 10; empty for any other number.
std::string BackgroundListUrl(int list, const std::string& t);

std::string SpeechSynthUrl(const std::string& t);
std::string QueryProcessUrl(const std::string& serial, const std::string& t);
std::string QuerySynthTingResultUrl(const std::string& serial, const std::string& t);
std::string RecordExportUrl(const std::string& serial, const std::string& t);
std::string QuerySynthResultUrl(const std::string& serial, const std::string& t);
