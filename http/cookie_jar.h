#pragma once

#include <string>

// Folds the received cookies into the jar: new items first, old ones whose name was not set
// again after them, "=deleted" items dropped, repeats dropped. Both variables lose their
// spaces; the merged text is stored in jar and returned.
std::string MergeCookieJar(std::string& jar, std::string& received);

// The trimmed text before an item's first "=" (the whole item trimmed when it has none).
std::string CookieItemName(const std::string& item);

// The pieces of text split at separator, each kept only at its first occurrence.
std::string DistinctItems(const std::string& text, const std::string& separator);
