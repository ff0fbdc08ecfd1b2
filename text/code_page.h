#pragma once
// Conversion between code page 936 (GBK) texts and UTF-8, by way of UTF-16. Characters GBK
// cannot hold become "?"; invalid or truncated input becomes "?" one bad byte at a time and
// conversion goes on. Nothing here fails or throws.

#include <string>

constexpr int kCodePageAnsi = 0;  // the system ANSI code page: 936 here
constexpr int kCodePageGbk = 936;
constexpr int kCodePageUtf8 = 65001;

// Wide byte values are UTF-16LE code units, two bytes each, ending in a zero unit.
std::string TextToWide(const std::string& text, int codePage = kCodePageUtf8);
std::string WideToText(const std::string& wide, int codePage = kCodePageAnsi);

// text stops at its first zero byte.
std::string Utf8TextToAnsi(const std::string& text);
std::string AnsiTextToUtf8(const std::string& text);
// bytes may hold zero bytes; the result ends at the first one.
std::string Utf8BytesToAnsi(const std::string& bytes);
