#pragma once

#include <string>

// Percent-encodes every byte (upper-case hex); with keepUnreserved the bytes A-Z a-z 0-9 - .
// stay as they are; with asUtf8 the UTF-8 form of the GBK text is encoded.
std::string PercentEncode(const std::string& text, bool keepUnreserved = false,
                          bool asUtf8 = false);
