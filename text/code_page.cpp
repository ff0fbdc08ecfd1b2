#include "text/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>

#include "text/utf8.h"

namespace {

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

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);

// Opening a descriptor costs far more than a short conversion, so each thread keeps the ones it
// has used. An iconv_t carries shift state and must not be shared between threads; the state is
// reset on every hand-out.
iconv_t Descriptor(const std::string& to, const std::string& from) {
    thread_local std::map<std::pair<std::string, std::string>, IconvHandle> descriptors;
    const auto [entry, added] =
        descriptors.try_emplace(std::pair(to, from), to.c_str(), from.c_str());
    if (!entry->second.valid())
        return kNoDescriptor;
    iconv(entry->second.get(), nullptr, nullptr, nullptr, nullptr);
    return entry->second.get();
}

const std::string kCharsetGbk = "CP936";
const std::string kCharsetUtf8 = "UTF-8";
const std::string kCharsetUtf16 = "UTF-16LE";
// U+FFFD in UTF-16LE and in UTF-8.
constexpr std::string_view kReplacementWide = "\xFD\xFF";
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

std::string CharsetName(int codePage) {
    switch (codePage) {
        case kCodePageAnsi:
        case kCodePageGbk:
            return kCharsetGbk;
        case kCodePageUtf8:
            return kCharsetUtf8;
        default:
            return "CP" + std::to_string(codePage);
    }
}

// Appends the conversion of input to output. A sequence the source cannot decode or the target
// cannot hold is skipped by skipBadInput(remaining input) bytes and replaced by `substitute`; a
// sequence cut off at the end of the input counts as bad bytes too. The buffer only ever
// doubles and a substitute is written into it in place, so the time is linear in the input
// however many bad sequences it holds.
template <typename SkipFn>
void AppendConverted(iconv_t cd, std::string_view input, std::string_view substitute,
                     SkipFn skipBadInput, std::string& output) {
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t written = output.size();
    // Room for the usual expansion.
    output.resize(written + inLeft * 2 + substitute.size() + 16);
    while (inLeft > 0) {
        char* out = output.data() + written;
        size_t outLeft = output.size() - written;
        const size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
        written = static_cast<size_t>(out - output.data());
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG) {
            output.resize(output.size() * 2);
            continue;
        }
        // EILSEQ (bad sequence) or EINVAL (sequence truncated by the end of the input).
        const size_t skip = skipBadInput(std::string_view(in, inLeft));
        in += skip;
        inLeft -= skip;
        if (output.size() - written < substitute.size())
            output.resize(output.size() * 2);
        std::memcpy(output.data() + written, substitute.data(), substitute.size());
        written += substitute.size();
    }
    output.resize(written);
}

template <typename SkipFn>
std::string Convert(const std::string& to, const std::string& from, std::string_view input,
                    std::string_view substitute, SkipFn skipBadInput) {
    std::string output;
    if (input.empty())
        return output;
    const iconv_t cd = Descriptor(to, from);
    if (cd == kNoDescriptor)
        return output;
    AppendConverted(cd, input, substitute, skipBadInput, output);
    char flush[16];
    char* out = flush;
    size_t outLeft = sizeof flush;
    iconv(cd, nullptr, nullptr, &out, &outLeft);
    output.append(flush, out);
    return output;
}

size_t SkipOneByte(std::string_view) {
    return 1;
}

std::string_view UpToZero(const std::string& text) {
    return std::string_view(text.data(), std::min(text.find('\0'), text.size()));
}

// Decodes bytes of a code page to UTF-16LE; each undecodable byte becomes U+FFFD.
std::string Decode(std::string_view bytes, int codePage) {
    return Convert(kCharsetUtf16, CharsetName(codePage), bytes, kReplacementWide, SkipOneByte);
}

// Encodes UTF-16LE units; a character the code page cannot hold becomes its default
// character, a surrogate pair counting as one character.
std::string Encode(std::string_view wide, int codePage) {
    const bool toUtf8 = codePage == kCodePageUtf8;
    return Convert(
        CharsetName(codePage), kCharsetUtf16, wide,
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

bool IsAscii(char c) {
    return static_cast<unsigned char>(c) < 0x80;
}

// Length of the run of ASCII bytes text begins with, eight bytes at a time.
size_t AsciiPrefixLength(std::string_view text) {
    size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + at, sizeof word);
        if ((word & 0x8080808080808080u) != 0)
            break;
    }
    while (at < text.size() && IsAscii(text[at]))
        ++at;
    return at;
}

// ASCII is the same in UTF-8 and code page 936, so runs of it are copied and only the other
// runs go through iconv. runEnd(text, at) gives the end of the run starting with the non-ASCII
// byte at `at`; it must end on a character boundary.
template <typename RunEndFn, typename SkipFn>
std::string ConvertAroundAscii(const std::string& to, const std::string& from,
                               std::string_view input, std::string_view substitute, RunEndFn runEnd,
                               SkipFn skipBadInput) {
    std::string output;
    const iconv_t cd = Descriptor(to, from);
    if (cd == kNoDescriptor)
        return output;
    output.reserve(input.size());
    size_t at = 0;
    while (at < input.size()) {
        const size_t ascii = AsciiPrefixLength(input.substr(at));
        output.append(input.data() + at, ascii);
        at += ascii;
        if (at == input.size())
            break;
        const size_t end = runEnd(input, at);
        AppendConverted(cd, input.substr(at, end - at), substitute, skipBadInput, output);
        at = end;
    }
    return output;
}

// The UTF-8 character at the start of rest as the two-step conversion by way of UTF-16 sees
// it: its length when UTF-16 can hold it, otherwise 1 (a bad byte).
size_t Utf8CharacterOrBadByte(std::string_view rest) {
    const Utf8Character character = NextUtf8Character(rest, 0);
    return character.value < 0 ? 1 : character.length;
}

// UTF-8 straight to code page 936. A bad byte and a character the code page cannot hold each
// become one "?".
std::string Utf8ToGbk(std::string_view utf8) {
    // Continuation bytes are never ASCII, so a run ends at the first ASCII byte.
    const auto runEnd = [](std::string_view text, size_t at) {
        while (at < text.size() && !IsAscii(text[at]))
            ++at;
        return at;
    };
    return ConvertAroundAscii(kCharsetGbk, kCharsetUtf8, utf8, "?", runEnd, Utf8CharacterOrBadByte);
}

// Code page 936 straight to UTF-8; each undecodable byte becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk) {
    // A trail byte may be ASCII, but a byte after an ASCII byte always starts a character (that
    // ASCII byte was a character or a trail byte), so a run ends at two ASCII bytes in a row.
    const auto runEnd = [](std::string_view text, size_t at) {
        for (++at; at < text.size(); ++at)
            if (IsAscii(text[at]) && IsAscii(text[at - 1]))
                break;
        return at;
    };
    return ConvertAroundAscii(kCharsetUtf8, kCharsetGbk, gbk, kReplacementUtf8, runEnd,
                              SkipOneByte);
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
    return Utf8ToGbk(UpToZero(text));
}

std::string AnsiTextToUtf8(const std::string& text) {
    return GbkToUtf8(UpToZero(text));
}

std::string Utf8BytesToAnsi(const std::string& bytes) {
    // Only a zero byte gives a zero byte, and it can be no part of a longer character.
    return Utf8ToGbk(UpToZero(bytes));
}
