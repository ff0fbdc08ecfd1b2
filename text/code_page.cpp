#include "text/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

namespace {

// One conversion descriptor per call: iconv_t carries shift state and must not be shared
// between threads.
class IconvHandle {
  public:
    IconvHandle(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (valid())
            iconv_close(handle_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

  private:
    iconv_t handle_;
};

constexpr std::string_view kUtf16 = "UTF-16LE";
// U+FFFD in UTF-16LE and in UTF-8.
constexpr std::string_view kReplacementWide = "\xFD\xFF";
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

std::string CharsetName(int codePage) {
    switch (codePage) {
        case kCodePageAnsi:
        case kCodePageGbk:
            return "CP936";
        case kCodePageUtf8:
            return "UTF-8";
        default:
            return "CP" + std::to_string(codePage);
    }
}

// Runs iconv over the whole input. A sequence the source cannot decode or the target cannot
// hold is skipped by skipBadInput(remaining input) bytes and replaced by `substitute`; a
// sequence cut off at the end of the input counts as bad bytes too.
template <typename SkipFn>
std::string Convert(const std::string& to, const std::string& from, std::string_view input,
                    std::string_view substitute, SkipFn skipBadInput) {
    std::string output;
    if (input.empty())
        return output;
    IconvHandle cd(to.c_str(), from.c_str());
    if (!cd.valid())
        return output;

    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd.get(), &in, &inLeft, &out, &outLeft);
        output.append(buffer, out);
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ (bad sequence) or EINVAL (sequence truncated by the end of the input).
        const size_t skip = skipBadInput(std::string_view(in, inLeft));
        in += skip;
        inLeft -= skip;
        output.append(substitute);
    }
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd.get(), nullptr, nullptr, &out, &outLeft);
    output.append(buffer, out);
    return output;
}

std::string_view UpToZero(const std::string& text) {
    return std::string_view(text.data(), std::min(text.find('\0'), text.size()));
}

// Decodes bytes of a code page to UTF-16LE; each undecodable byte becomes U+FFFD.
std::string Decode(std::string_view bytes, int codePage) {
    return Convert(std::string(kUtf16), CharsetName(codePage), bytes, kReplacementWide,
                   [](std::string_view) { return size_t{1}; });
}

// Encodes UTF-16LE units; a character the code page cannot hold becomes its default
// character, a surrogate pair counting as one character.
std::string Encode(std::string_view wide, int codePage) {
    const bool toUtf8 = codePage == kCodePageUtf8;
    return Convert(
        CharsetName(codePage), std::string(kUtf16), wide,
        toUtf8 ? kReplacementUtf8 : std::string_view("?"), [](std::string_view rest) -> size_t {
            if (rest.size() < 2)
                return rest.size();
            const auto unit = [&](size_t i) {
                return static_cast<unsigned>(static_cast<unsigned char>(rest[i])) |
                       static_cast<unsigned>(static_cast<unsigned char>(rest[i + 1])) << 8;
            };
            const bool pair = rest.size() >= 4 && unit(0) >= 0xD800 && unit(0) <= 0xDBFF &&
                              unit(2) >= 0xDC00 && unit(2) <= 0xDFFF;
            return pair ? size_t{4} : size_t{2};
        });
}

}  // namespace

std::string TextToWide(const std::string& text, int codePage) {
    const std::string_view content = UpToZero(text);
    if (content.empty())
        return {};
    std::string wide = Decode(content, codePage);
    wide.append(2, '\0');
    return wide;
}

std::string WideToText(const std::string& wide, int codePage) {
    size_t units = 0;
    while (units * 2 + 1 < wide.size() && (wide[units * 2] != '\0' || wide[units * 2 + 1] != '\0'))
        ++units;
    return Encode(std::string_view(wide.data(), units * 2), codePage);
}

std::string Utf8TextToAnsi(const std::string& text) {
    return WideToText(TextToWide(text, kCodePageUtf8), kCodePageGbk);
}

std::string AnsiTextToUtf8(const std::string& text) {
    return WideToText(TextToWide(text, kCodePageGbk), kCodePageUtf8);
}

std::string Utf8BytesToAnsi(const std::string& bytes) {
    // A zero byte decodes to a zero unit and ends the text there.
    std::string ansi = Encode(Decode(bytes, kCodePageUtf8), kCodePageGbk);
    ansi.resize(UpToZero(ansi).size());
    return ansi;
}
