// Runs a harness over saved inputs, without libFuzzer: each argument is a file or a folder
// whose files (in name order) are each passed once to LLVMFuzzerTestOneInput. Every input must
// finish within a time limit (a parser that turns quadratic fails here), and an argument that
// holds no input is an error, so an emptied corpus cannot pass unnoticed.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

constexpr double kSecondsPerInput = 10.0;

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::vector<std::filesystem::path> Inputs(const std::filesystem::path& argument) {
    if (!std::filesystem::is_directory(argument))
        return {argument};
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(argument))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER...\n", argv[0]);
        return 2;
    }
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::vector<std::filesystem::path> inputs = Inputs(argv[i]);
        if (inputs.empty()) {
            std::fprintf(stderr, "%s: no inputs\n", argv[i]);
            ++failures;
        }
        for (const auto& path : inputs) {
            std::ifstream file(path, std::ios::binary);
            if (!file) {
                std::fprintf(stderr, "%s: cannot read\n", path.c_str());
                ++failures;
                continue;
            }
            const std::string bytes{std::istreambuf_iterator<char>(file),
                                    std::istreambuf_iterator<char>()};
            const double start = MonotonicSeconds();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            const double seconds = MonotonicSeconds() - start;
            std::printf("%s: %zu bytes, %.3f s\n", path.c_str(), bytes.size(), seconds);
            if (seconds > kSecondsPerInput) {
                std::fprintf(stderr, "%s: took %.1f s, more than %.0f s\n", path.c_str(), seconds,
                             kSecondsPerInput);
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
