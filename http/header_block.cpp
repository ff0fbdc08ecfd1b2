#include "http/header_block.h"

#include <vector>

#include "text/text_scan.h"

std::string CapitalizeFirstLetter(const std::string& text) {
    std::string result = text;
    if (!result.empty() && result[0] >= 'a' && result[0] <= 'z') {
        result[0] = static_cast<char>(result[0] - 'a' + 'A');
    }
    return result;
}

std::string NormalizeHeaderBlock(const std::string& block) {
    std::string result;
    for (const std::string& piece : SplitText(block, "\r\n")) {
        int colon = FindText(piece, ":");
        if (colon < 0) {
            continue;
        }
        std::string name = piece.substr(0, colon - 1);
        std::string newName;
        if (FindText(name, "-") > 0) {
            std::vector<std::string> words = SplitText(name, "-");
            for (std::size_t i = 0; i < words.size(); ++i) {
                newName += (i == 0 ? "" : "-") + CapitalizeFirstLetter(words[i]);
            }
        } else {
            newName = CapitalizeFirstLetter(name);
        }
        // Trailing dashes dropped by the split come back with the rest of the piece.
        result += newName + piece.substr(newName.size()) + "\r\n";
    }
    if (!result.empty()) {
        result.resize(result.size() - 2);
    }
    return result;
}
