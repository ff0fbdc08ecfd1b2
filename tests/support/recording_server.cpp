#include "tests/support/recording_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<std::string> HeaderValue(const std::vector<std::string>& lines,
                                       const std::string& name) {
    for (const std::string& line : lines) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos || !SameNameIgnoringCase(line.substr(0, colon), name)) {
            continue;
        }
        std::size_t start = line.find_first_not_of(" \t", colon + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return std::nullopt;
}

// The path a reply is routed by: no scheme and authority (proxy requests), no query.
std::string RoutedPath(const std::string& target) {
    std::string path = target;
    std::size_t scheme = path.find("://");
    if (scheme != std::string::npos) {
        std::size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    return path.substr(0, path.find('?'));
}

bool SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("recording server: ") + what);
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(const std::string& name) const {
    return HeaderValue(headerLines, name);
}

RecordingServer::RecordingServer() : RecordingServer(Handler()) {}

RecordingServer::RecordingServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        Fail("socket");
    }
    int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listenFd_);
        Fail("bind/listen");
    }
    port_ = ntohs(address.sin_port);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        Fail("pipe");
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    acceptor_ = std::thread(&RecordingServer::AcceptLoop, this);
}

RecordingServer::~RecordingServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    // The byte is never read, so the pipe stays readable and wakes every waiting thread.
    [[maybe_unused]] ssize_t written = ::write(wakeWrite_, "x", 1);
    acceptor_.join();
    for (std::thread& connection : connections_) {
        connection.join();
    }
    ::close(listenFd_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

std::string RecordingServer::HostPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string RecordingServer::Url(const std::string& path) const {
    return "http://" + HostPort() + path;
}

void RecordingServer::Route(const std::string& path, Reply reply) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(reply);
}

void RecordingServer::Queue(Reply reply) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(reply));
}

std::vector<RecordedRequest> RecordingServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool RecordingServer::WaitForRequests(std::size_t count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return recorded_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return requests_.size() >= count; });
}

int RecordingServer::ConnectionCount() const {
    std::lock_guard lock(mutex_);
    return connectionCount_;
}

void RecordingServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        int connection = connectionCount_++;
        connections_.emplace_back(&RecordingServer::Serve, this, fd, connection);
    }
}

bool RecordingServer::Pause(int timeoutMs) const {
    pollfd wake{wakeRead_, POLLIN, 0};
    return ::poll(&wake, 1, timeoutMs) == 0;
}

Reply RecordingServer::ChooseReply(const RecordedRequest& request) {
    if (handler_) {
        return handler_(request);
    }
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
        Reply reply = std::move(queue_.front());
        queue_.erase(queue_.begin());
        return reply;
    }
    auto route = routes_.find(RoutedPath(request.target));
    if (route != routes_.end()) {
        return route->second;
    }
    return Reply{.status = 404, .reason = "Not Found"};
}

void RecordingServer::Serve(int fd, int connection) {
    std::string buffer;
    // Reads more bytes into buffer; false on end of stream, error or tear-down.
    auto readMore = [&] {
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (fds[1].revents != 0) {
                return false;
            }
            char chunk[8192];
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
    };

    for (;;) {
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!readMore()) {
                ::close(fd);
                return;
            }
        }
        RecordedRequest request;
        request.connection = connection;
        std::size_t lineStart = 0;
        bool first = true;
        while (lineStart < headEnd) {
            std::size_t lineEnd = buffer.find("\r\n", lineStart);
            std::string line = buffer.substr(lineStart, lineEnd - lineStart);
            if (first) {
                request.requestLine = line;
                first = false;
            } else {
                request.headerLines.push_back(line);
            }
            lineStart = lineEnd + 2;
        }
        std::size_t space = request.requestLine.find(' ');
        request.method = request.requestLine.substr(0, space);
        if (space != std::string::npos) {
            std::size_t secondSpace = request.requestLine.find(' ', space + 1);
            request.target = request.requestLine.substr(space + 1, secondSpace - space - 1);
        }

        std::optional<std::string> expect = request.Header("Expect");
        if (expect && SameNameIgnoringCase(*expect, "100-continue")) {
            SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
        }
        std::size_t bodyLength = 0;
        if (std::optional<std::string> length = request.Header("Content-Length")) {
            bodyLength = std::strtoull(length->c_str(), nullptr, 10);
        }
        std::size_t total = headEnd + 4 + bodyLength;
        while (buffer.size() < total) {
            if (!readMore()) {
                ::close(fd);
                return;
            }
        }
        request.body = buffer.substr(headEnd + 4, bodyLength);
        request.raw = buffer.substr(0, total);
        buffer.erase(0, total);

        Reply reply = ChooseReply(request);
        std::optional<std::string> requestConnection = request.Header("Connection");
        bool closeAfter = requestConnection && SameNameIgnoringCase(*requestConnection, "close");
        bool isHead = request.method == "HEAD";
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(request));
        }
        recorded_.notify_all();

        if (reply.neverAnswer || !Pause(reply.delayMs)) {
            Pause(-1);
            ::close(fd);
            return;
        }
        std::string response =
            "HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\n";
        for (const std::string& line : reply.headerLines) {
            response += line + "\r\n";
        }
        if (!reply.endlessBody && !HeaderValue(reply.headerLines, "Content-Length")) {
            response += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        }
        std::optional<std::string> replyConnection = HeaderValue(reply.headerLines, "Connection");
        closeAfter =
            closeAfter || (replyConnection && SameNameIgnoringCase(*replyConnection, "close"));
        response += "\r\n";
        if (reply.stallAfterBodyBytes) {
            SendAll(fd, response + reply.body.substr(0, *reply.stallAfterBodyBytes));
            Pause(-1);
            ::close(fd);
            return;
        }
        if (reply.endlessBody) {
            // Until the peer closes (a failed send) or the server is torn down.
            for (bool open = SendAll(fd, response); open && Pause(0);) {
                open = SendAll(fd, reply.body);
            }
            ::close(fd);
            return;
        }
        if (reply.trickleMs > 0) {
            bool open = SendAll(fd, response);
            for (std::size_t i = 0; open && i < reply.body.size() && Pause(reply.trickleMs); ++i) {
                open = SendAll(fd, reply.body.substr(i, 1));
            }
            ::close(fd);
            return;
        }
        if (!isHead) {
            response += reply.body;
        }
        if (!SendAll(fd, response) || closeAfter) {
            ::close(fd);
            return;
        }
    }
}
