#pragma once
// The server's JSON answers: {"code":..,"message":..,"data":..}, members in the order the
// client's literal markers expect them.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace dubserver {

using Json = nlohmann::ordered_json;

// The answer document; data null when it carries none.
Json Answer(int code, std::string_view message, Json data = nullptr);
// Code 200 with the service's success message.
Json Success(Json data);
// Compact text; bytes that are no UTF-8 become U+FFFD instead of an exception.
std::string Dump(const Json& json);

}  // namespace dubserver
