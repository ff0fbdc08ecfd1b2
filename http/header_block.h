#pragma once

#include <string>

// Drops empty and colon-less lines and capitalises each hyphen-separated word of every header
// name; values stay as they are. Lines are CR LF separated; no CR LF at the end.
std::string NormalizeHeaderBlock(const std::string& block);

// Upper-cases the first byte when it is an ASCII lower-case letter.
std::string CapitalizeFirstLetter(const std::string& text);
