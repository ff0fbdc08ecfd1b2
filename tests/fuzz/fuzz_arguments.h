#pragma once
// Command-line arguments from a fuzz input: the bytes split at each zero byte, as a program
// receives them. An empty input is no argument; adjacent zero bytes give an empty argument.

#include <string>
#include <vector>

inline std::vector<std::string> FuzzArguments(const std::string& bytes) {
    std::vector<std::string> arguments;
    if (bytes.empty())
        return arguments;
    size_t start = 0;
    for (size_t end = bytes.find('\0'); end != std::string::npos;
         start = end + 1, end = bytes.find('\0', start))
        arguments.push_back(bytes.substr(start, end - start));
    arguments.push_back(bytes.substr(start));
    return arguments;
}
