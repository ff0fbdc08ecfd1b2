#pragma once

#include <string>

// Standard RFC 4648 Base64 with "=" padding and no line breaks.
std::string Base64Encode(const std::string& bytes);
