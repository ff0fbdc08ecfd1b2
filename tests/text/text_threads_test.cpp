#include "text/code_page.h"
#include "text/text_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// Both threads of the client make request values at the same time.
TEST(RequestValuesAcrossThreads, AddressesAndTimestampsStayWellFormed) {
    constexpr int kCalls = 500;
    const auto work = [](std::vector<std::string>& addresses, std::vector<std::string>& stamps) {
        for (int i = 0; i < kCalls; ++i) {
            addresses.push_back(RandomClientAddress());
            stamps.push_back(MakeTimestamp());
        }
    };
    std::vector<std::string> addresses[2];
    std::vector<std::string> stamps[2];
    std::thread other(work, std::ref(addresses[1]), std::ref(stamps[1]));
    work(addresses[0], stamps[0]);
    other.join();

    const auto isAddress = [](const std::string& address) {
        int parts = 0;
        for (size_t at = 0; at <= address.size(); ++parts) {
            const size_t end = std::min(address.find(':', at), address.size());
            const std::string number = address.substr(at, end - at);
            if (number.empty() || number.size() > 3 || number[0] == '0' ||
                !std::all_of(number.begin(), number.end(),
                             [](char c) { return c >= '0' && c <= '9'; }) ||
                std::stoi(number) > 255)
                return false;
            at = end + 1;
        }
        return parts == 3;
    };
    const auto isStamp = [](const std::string& stamp) {
        return stamp.size() == 13 &&
               std::all_of(stamp.begin(), stamp.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    for (int t = 0; t < 2; ++t) {
        ASSERT_EQ(addresses[t].size(), static_cast<size_t>(kCalls));
        for (int i = 0; i < kCalls; ++i) {
            ASSERT_TRUE(isAddress(addresses[t][i])) << addresses[t][i];
            ASSERT_TRUE(isStamp(stamps[t][i])) << stamps[t][i];
        }
    }
}

// The loader converts catalogue answers while the window thread converts the user's text;
// each thread keeps converters of its own.
TEST(ConversionsAcrossThreads, EachThreadGetsItsOwnResults) {
    const auto utf8 = [](std::u8string_view text) { return std::string(text.begin(), text.end()); };
    struct Case {
        std::string utf8;
        std::string gbk;
        std::string backToUtf8;
    };
    const Case cases[2] = {
        {utf8(u8"{\"biName\":\"欢快的背景音乐\"}ก\xFF"), "{\"biName\":\"欢快的背景音乐\"}??",
         utf8(u8"{\"biName\":\"欢快的背景音乐\"}??")},
        {utf8(u8"正在合成语音，请稍候...[1秒]😀"), "正在合成语音，请稍候...[1秒]?",
         utf8(u8"正在合成语音，请稍候...[1秒]?")},
    };
    constexpr int kCalls = 300;
    const auto work = [](const Case& c, int& mismatches) {
        for (int i = 0; i < kCalls; ++i) {
            mismatches += Utf8TextToAnsi(c.utf8) != c.gbk;
            mismatches += AnsiTextToUtf8(c.gbk) != c.backToUtf8;
            mismatches += WideToText(TextToWide(c.gbk, kCodePageGbk)) != c.gbk;
        }
    };
    int mismatches[2] = {0, 0};
    std::thread other(work, std::cref(cases[1]), std::ref(mismatches[1]));
    work(cases[0], mismatches[0]);
    other.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}

}  // namespace
