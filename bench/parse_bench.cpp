// Conversions, percent-encoding and the cookie merge on hostile inputs: every undecodable byte
// and every cookie must cost a bounded amount of work, so these times grow linearly with size.
#include <benchmark/benchmark.h>

#include <string>

#include "http/cookie_jar.h"
#include "text/code_page.h"
#include "text/percent_encoding.h"

namespace {

// Invalid UTF-8 (a lead byte never followed by a continuation) and invalid GBK (0xFF).
void Utf8TextToAnsiInvalid(benchmark::State& state) {
    const std::string input(static_cast<size_t>(state.range(0)), '\xE4');
    for (auto _ : state)
        benchmark::DoNotOptimize(Utf8TextToAnsi(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(Utf8TextToAnsiInvalid)
    ->Arg(64 << 10)
    ->Arg(512 << 10)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond);

// Characters code page 936 cannot hold (Thai letters, three bytes each).
void Utf8TextToAnsiOutsideGbk(benchmark::State& state) {
    std::string input;
    while (input.size() + 3 <= static_cast<size_t>(state.range(0)))
        input += "\xE0\xB8\x81";
    for (auto _ : state)
        benchmark::DoNotOptimize(Utf8TextToAnsi(input));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}
BENCHMARK(Utf8TextToAnsiOutsideGbk)->Arg(512 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

void Utf8BytesToAnsiInvalid(benchmark::State& state) {
    const std::string input(static_cast<size_t>(state.range(0)), '\xBF');
    for (auto _ : state)
        benchmark::DoNotOptimize(Utf8BytesToAnsi(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(Utf8BytesToAnsiInvalid)->Arg(512 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

void AnsiTextToUtf8Invalid(benchmark::State& state) {
    const std::string input(static_cast<size_t>(state.range(0)), '\xFF');
    for (auto _ : state)
        benchmark::DoNotOptimize(AnsiTextToUtf8(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(AnsiTextToUtf8Invalid)->Arg(512 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

void TextToWideInvalid(benchmark::State& state) {
    const std::string input(static_cast<size_t>(state.range(0)), '\xE4');
    for (auto _ : state)
        benchmark::DoNotOptimize(TextToWide(input));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(TextToWideInvalid)->Arg(512 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

// Lone low surrogates: UTF-16 that no code page can encode.
void WideToTextInvalid(benchmark::State& state) {
    std::string wide;
    for (int64_t i = 0; i < state.range(0) / 2; ++i)
        wide.append("\x00\xDC", 2);
    wide.append(2, '\0');
    for (auto _ : state)
        benchmark::DoNotOptimize(WideToText(wide, kCodePageUtf8));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(WideToTextInvalid)->Arg(512 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

// U+FFFD, which code page 936 cannot hold.
void WideToTextOutsideGbk(benchmark::State& state) {
    std::string wide;
    for (int64_t i = 0; i < state.range(0) / 2; ++i)
        wide.append("\xFD\xFF", 2);
    wide.append(2, '\0');
    for (auto _ : state)
        benchmark::DoNotOptimize(WideToText(wide, kCodePageGbk));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(WideToTextOutsideGbk)->Arg(512 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

void PercentEncodeInvalid(benchmark::State& state) {
    const std::string input(static_cast<size_t>(state.range(0)), '\xFF');
    for (auto _ : state)
        benchmark::DoNotOptimize(PercentEncode(input, true, true));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(PercentEncodeInvalid)->Arg(512 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

// Valid Chinese text, the everyday case, for comparison.
void AnsiTextToUtf8Chinese(benchmark::State& state) {
    std::string input;
    while (input.size() < static_cast<size_t>(state.range(0)))
        input += "\xD3\xEF\xD2\xF4\xBA\xCF\xB3\xC9, ";  // 语音合成,
    for (auto _ : state)
        benchmark::DoNotOptimize(AnsiTextToUtf8(input));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}
BENCHMARK(AnsiTextToUtf8Chinese)->Arg(512 << 10)->Unit(benchmark::kMillisecond);

std::string ManyCookies(int64_t count, const char* prefix) {
    std::string text;
    for (int64_t i = 0; i < count; ++i)
        text += (i == 0 ? "" : "; ") + (prefix + std::to_string(i)) + "=v" + std::to_string(i);
    return text;
}

// A service that sets count new cookies into a jar of count cookies.
void MergeCookieJarMany(benchmark::State& state) {
    const std::string oldJar = ManyCookies(state.range(0), "old");
    const std::string newCookies = ManyCookies(state.range(0), "new");
    for (auto _ : state) {
        std::string jar = oldJar;
        std::string received = newCookies;
        benchmark::DoNotOptimize(MergeCookieJar(jar, received));
    }
}
BENCHMARK(MergeCookieJarMany)->Arg(2'000)->Arg(40'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
