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
// glibc's own UCS-4 (wchar_t units in host order). Every conversion goes through it in two
// single-step iconv conversions: a direct conversion between two outside charsets is two steps
// inside glibc, and an error in its second step re-converts the whole buffer of the first, which
// made each character the target cannot hold cost microseconds.
const std::string kCharsetUcs4 = "WCHAR_T";
static_assert(sizeof(wchar_t) == 4, "WCHAR_T is UCS-4");
constexpr wchar_t kReplacementCharacter = 0xFFFD;
// U+FFFD in UTF-8.
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
// doubles, a substitute is written into it in place, and iconv is handed the input a slice at a
// time (a checker may look at all it is handed on every call, as AddressSanitizer's does), so the
// time is linear in the input however many bad sequences it holds.
template <typename SkipFn>
void AppendConverted(iconv_t cd, std::string_view input, std::string_view substitute,
                     SkipFn skipBadInput, std::string& output) {
    constexpr size_t kSliceBytes = 1024;
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t written = output.size();
    // Room for the usual expansion.
    output.resize(written + inLeft * 2 + substitute.size() + 16);
    while (inLeft > 0) {
        char* out = output.data() + written;
        size_t outLeft = output.size() - written;
        const size_t slice = std::min(inLeft, kSliceBytes);
        size_t sliceLeft = slice;
        const size_t rc = iconv(cd, &in, &sliceLeft, &out, &outLeft);
        inLeft -= slice - sliceLeft;
        written = static_cast<size_t>(out - output.data());
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG) {
            output.resize(output.size() * 2);
            continue;
        }
        // A sequence cut by the end of the slice, not of the input: the next slice starts with it.
        if (errno == EINVAL && slice < inLeft + (slice - sliceLeft))
            continue;
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

size_t SkipOneByte(std::string_view) {
    return 1;
}

size_t SkipOneUnit(std::string_view rest) {
    return std::min(rest.size(), size_t{2});
}

size_t SkipOneUcs4Character(std::string_view rest) {
    return std::min(rest.size(), sizeof(wchar_t));
}

std::string_view UpToZero(const std::string& text) {
    return std::string_view(text.data(), std::min(text.find('\0'), text.size()));
}

std::string_view Ucs4(const wchar_t& character) {
    return std::string_view(reinterpret_cast<const char*>(&character), sizeof character);
}

// UTF-8 to UCS-4 with the one UTF-8 walker: a bad byte (overlong, surrogate, out of range or
// truncated sequences count as bad bytes one by one) becomes `bad`.
void AppendUtf8Decoded(std::string_view utf8, wchar_t bad, std::string& ucs4) {
    size_t written = ucs4.size();
    ucs4.resize(written + utf8.size() * sizeof(wchar_t));  // never more characters than bytes
    for (size_t i = 0; i < utf8.size();) {
        const Utf8Character character = NextUtf8Character(utf8, i);
        const wchar_t unit = character.value < 0 ? bad : static_cast<wchar_t>(character.value);
        std::memcpy(ucs4.data() + written, &unit, sizeof unit);
        written += sizeof unit;
        i += character.length;
    }
    ucs4.resize(written);
}

// Appends input, decoded from the code page, to ucs4; each byte that starts no character of it
// becomes `bad`.
void AppendDecoded(int codePage, std::string_view input, const wchar_t& bad, std::string& ucs4) {
    if (codePage == kCodePageUtf8) {
        AppendUtf8Decoded(input, bad, ucs4);
        return;
    }
    const iconv_t cd = Descriptor(kCharsetUcs4, CharsetName(codePage));
    if (cd != kNoDescriptor)
        AppendConverted(cd, input, Ucs4(bad), SkipOneByte, ucs4);
}

// Appends the UCS-4 characters, encoded in charset, to output; a character the charset cannot
// hold becomes substitute.
void AppendEncoded(const std::string& charset, std::string_view ucs4, std::string_view substitute,
                   std::string& output) {
    const iconv_t cd = Descriptor(charset, kCharsetUcs4);
    if (cd != kNoDescriptor)
        AppendConverted(cd, ucs4, substitute, SkipOneUcs4Character, output);
}

// What a byte that is no character becomes on its way to the code page: U+FFFD, which code
// page 936 cannot hold either, so there it is "?" at once.
const wchar_t& BadInputFor(int codePage) {
    static constexpr wchar_t kQuestionMark = L'?';
    return codePage == kCodePageUtf8 ? kReplacementCharacter : kQuestionMark;
}

// The default character of a code page: "?" for 936, U+FFFD where the code page can hold it.
std::string_view DefaultCharacter(int codePage) {
    return codePage == kCodePageUtf8 ? kReplacementUtf8 : std::string_view("?");
}

// Decodes bytes of a code page to UTF-16LE; each undecodable byte becomes U+FFFD.
std::string Decode(std::string_view bytes, int codePage) {
    std::string ucs4;
    AppendDecoded(codePage, bytes, kReplacementCharacter, ucs4);
    std::string wide;
    AppendEncoded(kCharsetUtf16, ucs4, "\xFD\xFF", wide);
    return wide;
}

// Encodes UTF-16LE units; a lone surrogate and a character the code page cannot hold each
// become its default character, a surrogate pair counting as one character.
std::string Encode(std::string_view wide, int codePage) {
    std::string ucs4;
    const iconv_t cd = Descriptor(kCharsetUcs4, kCharsetUtf16);
    if (cd != kNoDescriptor)
        AppendConverted(cd, wide, Ucs4(BadInputFor(codePage)), SkipOneUnit, ucs4);
    std::string text;
    AppendEncoded(CharsetName(codePage), ucs4, DefaultCharacter(codePage), text);
    return text;
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
// runs are converted. runEnd(text, at) gives the end of the run starting with the non-ASCII byte
// at `at`; it must end on a character boundary.
template <typename RunEndFn>
std::string ConvertAroundAscii(int to, int from, std::string_view input, RunEndFn runEnd) {
    std::string output;
    output.reserve(input.size());
    std::string ucs4;
    size_t at = 0;
    while (at < input.size()) {
        const size_t ascii = AsciiPrefixLength(input.substr(at));
        output.append(input.data() + at, ascii);
        at += ascii;
        if (at == input.size())
            break;
        const size_t end = runEnd(input, at);
        ucs4.clear();
        AppendDecoded(from, input.substr(at, end - at), BadInputFor(to), ucs4);
        AppendEncoded(CharsetName(to), ucs4, DefaultCharacter(to), output);
        at = end;
    }
    return output;
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
    return ConvertAroundAscii(kCodePageGbk, kCodePageUtf8, utf8, runEnd);
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
    return ConvertAroundAscii(kCodePageUtf8, kCodePageGbk, gbk, runEnd);
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
