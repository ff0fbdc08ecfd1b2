#pragma once

#include <cstddef>
#include <string>

// A jar holds at most this many items, each of at most this many bytes, as a browser's does.
inline constexpr std::size_t kMaxCookieItems = 50;
inline constexpr std::size_t kMaxCookieItemBytes = 4096;

// Folds the received cookies into the jar: new items first, old ones whose name was not set
// again after them, "=deleted" items dropped, repeats dropped. Items larger than
// kMaxCookieItemBytes or holding CR, LF or a zero byte are ignored (an older item of the name
// stays); beyond kMaxCookieItems the oldest items go. Both variables lose their spaces; the
// merged text is stored in jar and returned. Time is linear in the size of both texts.
std::string MergeCookieJar(std::string& jar, std::string& received);

// The trimmed text before an item's first "=" (the whole item trimmed when it has none).
std::string CookieItemName(const std::string& item);

// The pieces of text split at separator, each kept only at its first occurrence.
std::string DistinctItems(const std::string& text, const std::string& separator);
