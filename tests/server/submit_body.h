#pragma once
// Submit bodies as the client writes them, for the server's tests.

#include <cstddef>
#include <string>

// The placeholders of the client's body template other than the text, as the client inserts
// them: unquoted numbers, quoted background fields.
struct SubmitFields {
    std::string readerId = "101";
    std::string bgId = "";
    std::string bgPath = "";
    std::string speed = "50";
    std::string volume = "-5";  // the background music's
    std::string readerVolume = "10";
    std::string pitch = "50";
};

// The client's body template with its placeholders filled; content is already percent-encoded.
std::string SubmitBody(const std::string& content, const SubmitFields& fields = {});

// piece, times times over: texts at and past the length limits.
std::string Repeated(const std::string& piece, std::size_t times);
