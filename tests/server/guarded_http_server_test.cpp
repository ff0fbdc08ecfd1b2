#include "server/guarded_http_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/server/loopback_socket.h"

namespace {

using dubserver::BodyRead;
using dubserver::ConnectionLimits;
using dubserver::GuardedHttpServer;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kMaxBody = 16 * 1024;

// A server with tight limits: GET /hello, and POST /echo answering the length of a body of at
// most 16 KiB.
class GuardedHttpServerTest : public testing::Test {
  protected:
    void SetUp() override {
        server_.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello", "text/plain");
        });
        server_.Post("/echo", [](const httplib::Request& req, httplib::Response& res,
                                 const httplib::ContentReader& reader) {
            std::string body;
            const BodyRead read = dubserver::ReadBody(req, reader, kMaxBody, &body);
            res.status = read == BodyRead::kComplete   ? 200
                         : read == BodyRead::kTooLarge ? 413
                                                       : 400;
            res.set_content(std::to_string(body.size()), "text/plain");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port_, 0);
        listener_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(1ms);
        }
    }

    void TearDown() override {
        server_.stop();
        if (listener_.joinable()) {
            listener_.join();
        }
    }

    GuardedHttpServer server_{ConnectionLimits{.idle = 200ms,
                                               .silence = 200ms,
                                               .request = 600ms,
                                               .write = 1s,
                                               .requestBytes = 64 * 1024,
                                               .workers = 4}};
    std::thread listener_;
    int port_ = -1;
};

TEST_F(GuardedHttpServerTest, KeptAliveConnectionServesRequestAfterRequest) {
    LoopbackSocket connection(port_);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(connection.Send("GET /hello HTTP/1.1\r\nHost: x\r\n\r\n"));
        // The answer is complete once "hello" arrived; the connection stays open.
        EXPECT_FALSE(connection.ClosedWithin(100ms));
    }
    ASSERT_TRUE(connection.Send("GET /hello HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    const std::string answer = connection.ReadUntilClosed(2s);
    EXPECT_EQ(StatusOf(answer), 200) << answer;
    EXPECT_EQ(BodyOf(answer), "hello");
}

// A connection that sends bytes at some pace (all at once when every is zero): the server must
// end it within a bound, whatever the peer keeps doing.
struct SlowPeer {
    const char* name;
    std::string bytes;
    std::chrono::milliseconds every;  // between bytes
    std::chrono::milliseconds endsWithin;
};

void PrintTo(const SlowPeer& c, std::ostream* os) {
    *os << c.name;
}

class SlowPeerTest : public GuardedHttpServerTest, public testing::WithParamInterface<SlowPeer> {};

TEST_P(SlowPeerTest, ConnectionEndsInTime) {
    const SlowPeer& peer = GetParam();
    LoopbackSocket connection(port_);
    const auto start = Clock::now();
    bool closed = false;
    if (peer.every.count() == 0) {
        connection.Send(peer.bytes);
        closed = connection.ClosedWithin(peer.endsWithin);
    } else {
        for (size_t sent = 0; !closed && Clock::now() - start < peer.endsWithin; ++sent) {
            closed = !connection.Send(peer.bytes.substr(sent % peer.bytes.size(), 1)) ||
                     connection.ClosedWithin(peer.every);
        }
    }
    EXPECT_TRUE(closed) << "still open after " << peer.endsWithin.count() << " ms";
    EXPECT_LT(Clock::now() - start, peer.endsWithin + 500ms);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SlowPeerTest,
    testing::Values(SlowPeer{"idle", "", 0ms, 1s},
                    SlowPeer{"silent_inside_the_headers", "GET /hello HTTP/1.1\r\nHost", 0ms, 1s},
                    // Never silent for long, but the whole request takes too long.
                    SlowPeer{"trickling_headers",
                             "GET /hello HTTP/1.1\r\nX-Slow: aaaaaaaaaaaaaaaaaaaaaaaaa", 50ms, 2s},
                    SlowPeer{"trickling_body",
                             "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n" +
                                 std::string(100, 'b'),
                             50ms, 2s},
                    // Far past the byte budget, without a line break the library would stop at.
                    SlowPeer{"endless_request_line", "GET /" + std::string(4 * 1024 * 1024, 'a'),
                             0ms, 2s}),
    [](const auto& info) { return std::string(info.param.name); });

// Bodies up to the cap are read, chunked or not; larger ones are refused without reading them
// and the connection ends, since the rest of the body is still on the way.
struct BodyCase {
    const char* name;
    std::string head;  // request line and headers, blank line included
    std::string chunk;
    size_t chunks;  // how many times chunk follows, 0-terminated when chunked
    bool chunked;
    int status;
    std::string answered;  // body of the answer, when the status is 200
};

void PrintTo(const BodyCase& c, std::ostream* os) {
    *os << c.name;
}

class BodyCapTest : public GuardedHttpServerTest, public testing::WithParamInterface<BodyCase> {};

std::string ChunkOf(size_t size) {
    char header[32];
    std::snprintf(header, sizeof header, "%zx\r\n", size);
    return header + std::string(size, 'c') + "\r\n";
}

TEST_P(BodyCapTest, CapHoldsHoweverTheBodyIsFramed) {
    const BodyCase& c = GetParam();
    LoopbackSocket connection(port_);
    const auto start = Clock::now();
    bool sending = connection.Send(c.head);
    size_t sent = 0;
    for (; sending && sent < c.chunks; ++sent) {
        sending = connection.Send(c.chunk);
    }
    if (sending && c.chunked) {
        connection.Send("0\r\n\r\n");
    }
    const std::string answer = connection.ReadUntilClosed(3s);
    EXPECT_EQ(StatusOf(answer), c.status) << answer;
    if (c.status == 200) {
        EXPECT_EQ(BodyOf(answer), c.answered);
    } else {
        EXPECT_LT(sent * c.chunk.size(), 16u * 1024 * 1024) << "the server kept reading";
    }
    // Closed well before the read above gave up: at once after a refusal, after the idle
    // limit otherwise.
    EXPECT_LT(Clock::now() - start, 2s);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BodyCapTest,
    testing::Values(
        BodyCase{"chunked_within_the_cap",
                 "POST /echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
                 ChunkOf(4096), 4, true, 200, "16384"},
        BodyCase{"sized_within_the_cap",
                 "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 16384\r\n\r\n",
                 std::string(4096, 'c'), 4, false, 200, "16384"},
        // 512 MB announced in chunks: refused after the first 16 KiB, the rest never read.
        BodyCase{"chunked_past_the_cap",
                 "POST /echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
                 ChunkOf(4096), 512 * 256, true, 413, ""},
        BodyCase{"declared_past_the_cap",
                 "POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: 536870912\r\n\r\n",
                 std::string(4096, 'c'), 0, false, 413, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
