#include "text/text_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
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

}  // namespace
