#pragma once
// UTF-8 text as JSON string values, for output that scripts parse.

#include <string>

// The text as a JSON string, quotes included: '"' and '\' get a backslash, control characters
// become \n, \t... or \u00XX, and each byte that is no UTF-8 becomes U+FFFD, so the result is
// always valid UTF-8 JSON. Other characters stay as they are.
std::string JsonStringFromUtf8(const std::string& utf8);
