// The recording server is the eye of every wire test: it must keep what arrived byte for byte.
#include "tests/support/recording_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using ::testing::ElementsAre;

// A blocking loopback client that sends raw bytes and reads raw answers.
class RawClient {
  public:
    explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        timeval timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return connected_; }
    void Send(const std::string& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads until the text contains marker, the peer closes or nothing comes for 5 s.
    std::string ReadUntil(const std::string& marker) {
        while (received_.find(marker) == std::string::npos) {
            char chunk[4096];
            ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                break;
            }
            received_.append(chunk, static_cast<std::size_t>(n));
        }
        return received_;
    }

  private:
    int fd_;
    bool connected_ = false;
    std::string received_;
};

TEST(RecordingServer, RecordsRawLinesInOrderWithBody) {
    RecordingServer server;
    RawClient client(server.Port());
    ASSERT_TRUE(client.Connected());
    client.Send("POST /p?q=1 HTTP/1.1\r\nHost: h\r\nEmpty:\r\nx-lower:  two  \r\n");
    client.Send("Content-Length: 5\r\n\r\nab");
    client.Send("cde");
    client.ReadUntil("\r\n\r\n");

    std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& request = requests[0];
    EXPECT_EQ(request.requestLine, "POST /p?q=1 HTTP/1.1");
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/p?q=1");
    EXPECT_THAT(request.headerLines,
                ElementsAre("Host: h", "Empty:", "x-lower:  two  ", "Content-Length: 5"));
    EXPECT_EQ(request.body, "abcde");
    EXPECT_EQ(request.raw,
              "POST /p?q=1 HTTP/1.1\r\nHost: h\r\nEmpty:\r\nx-lower:  two  \r\n"
              "Content-Length: 5\r\n\r\nabcde");
    EXPECT_EQ(request.Header("X-LOWER"), "two  ");
    EXPECT_EQ(request.Header("empty"), "");
    EXPECT_EQ(request.Header("Missing"), std::nullopt);
}

TEST(RecordingServer, AnswersFromHandlerQueueRouteAndDefault) {
    RecordingServer server;
    server.Route("/r", {.status = 302, .reason = "Found", .headerLines = {"Location: /x"}});
    server.Queue({.body = "queued"});
    RawClient client(server.Port());
    client.Send("GET /r HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.ReadUntil("queued"), "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nqueued");
    client.Send("GET /r?a=1 HTTP/1.1\r\n\r\n");
    EXPECT_THAT(
        client.ReadUntil("302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n"),
        ::testing::EndsWith("HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n"));
    client.Send("GET /other HTTP/1.1\r\n\r\n");
    EXPECT_THAT(client.ReadUntil("404"), ::testing::HasSubstr("HTTP/1.1 404 Not Found\r\n"));
    // All three on one kept-alive connection.
    EXPECT_EQ(server.ConnectionCount(), 1);

    RecordingServer echo(
        [](const RecordedRequest& request) { return Reply{.body = "echo " + request.target}; });
    RawClient echoClient(echo.Port());
    echoClient.Send("GET /e HTTP/1.1\r\n\r\n");
    EXPECT_THAT(echoClient.ReadUntil("echo /e"), ::testing::EndsWith("\r\n\r\necho /e"));
}

TEST(RecordingServer, ContinuesExpectingClientBeforeItSendsTheBody) {
    RecordingServer server;
    RawClient client(server.Port());
    client.Send("PUT / HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n");
    EXPECT_EQ(client.ReadUntil("\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
    client.Send("ok");
    ASSERT_TRUE(server.WaitForRequests(1, 5000));
    EXPECT_EQ(server.Requests()[0].body, "ok");
}

TEST(RecordingServer, TearsDownPromptlyWhileStalled) {
    auto start = std::chrono::steady_clock::now();
    {
        RecordingServer server;
        server.Route("/", {.neverAnswer = true});
        RawClient stalled(server.Port());
        stalled.Send("GET / HTTP/1.1\r\n\r\n");
        RawClient idle(server.Port());
        ASSERT_TRUE(server.WaitForRequests(1, 5000));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
