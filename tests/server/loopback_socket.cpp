#include "tests/server/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <charconv>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

LoopbackSocket::LoopbackSocket(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A peer that stops reading fails a send after a while instead of blocking the test.
    const timeval sendLimit{.tv_sec = 10, .tv_usec = 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

LoopbackSocket::~LoopbackSocket() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

LoopbackSocket::LoopbackSocket(LoopbackSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

LoopbackSocket& LoopbackSocket::operator=(LoopbackSocket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
}

bool LoopbackSocket::Send(std::string_view bytes) {
    while (fd_ >= 0 && !bytes.empty()) {
        const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return fd_ >= 0;
}

std::string LoopbackSocket::ReadUntilClosed(std::chrono::milliseconds limit) {
    std::string received;
    const auto deadline = Clock::now() + limit;
    char buffer[16384];
    while (fd_ >= 0) {
        pollfd ready{.fd = fd_, .events = POLLIN, .revents = 0};
        if (poll(&ready, 1, Remaining(deadline)) <= 0) {
            break;
        }
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(got));
    }
    return received;
}

bool LoopbackSocket::ClosedWithin(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    char buffer[16384];
    while (fd_ >= 0) {
        pollfd ready{.fd = fd_, .events = POLLIN, .revents = 0};
        if (poll(&ready, 1, Remaining(deadline)) <= 0) {
            return false;
        }
        if (recv(fd_, buffer, sizeof buffer, 0) <= 0) {
            return true;
        }
    }
    return false;
}

std::string Exchange(int port, const std::string& request, std::chrono::milliseconds limit) {
    LoopbackSocket connection(port);
    if (!connection.Send(request)) {
        return {};
    }
    return connection.ReadUntilClosed(limit);
}

int StatusOf(const std::string& answer) {
    // "HTTP/1.1 200 OK"
    if (!answer.starts_with("HTTP/1.") || answer.size() < 12) {
        return 0;
    }
    int status = 0;
    std::from_chars(answer.data() + 9, answer.data() + 12, status);
    return status;
}

std::string BodyOf(const std::string& answer) {
    const size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}
