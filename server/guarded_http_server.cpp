#include "server/guarded_http_server.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "server/worker_pool.h"

namespace dubserver {
namespace {

using Clock = std::chrono::steady_clock;

// Set by a handler, read once its request is answered; handlers run on the connection's thread.
thread_local bool t_closeAfterAnswer = false;

// A refused request's body may still be on its way: closing with unread bytes makes the kernel
// reset the connection, and the reset can overtake the answer at the peer. So the answer is
// followed by our end of the stream, and what still arrives is read and dropped for a moment
// (bounded in time and bytes) before the socket closes.
void DrainBeforeClose(int sock) {
    ::shutdown(sock, SHUT_WR);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
    std::size_t budget = std::size_t{4} << 20;
    char buffer[16384];
    while (budget > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd readable{sock, POLLIN, 0};
        if (left <= 0 || ::poll(&readable, 1, static_cast<int>(left)) <= 0) {
            return;
        }
        const ssize_t got = ::recv(sock, buffer, std::min(sizeof buffer, budget), 0);
        if (got <= 0) {
            return;
        }
        budget -= static_cast<std::size_t>(got);
    }
}

void AddressOf(const sockaddr_storage& address, socklen_t length, std::string& ip, int& port) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

// One connection as cpp-httplib reads and writes it, within the limits.
class LimitedStream final : public httplib::Stream {
  public:
    LimitedStream(socket_t sock, const ConnectionLimits& limits,
                  const std::atomic<socket_t>& listening)
        : sock_(sock), limits_(limits), listening_(listening) {}

    // Waits for the first byte of the next request; false when none came in time, or the server
    // stops.
    bool WaitForRequest() { return offset_ < filled_ || WaitReadable(Clock::now() + limits_.idle); }

    // The request's deadline and byte budget start now.
    void BeginRequest() {
        deadline_ = Clock::now() + limits_.request;
        budget_ = limits_.requestBytes;
    }

    // A read ran out of time or budget, or the peer went: the connection is done.
    bool Spent() const { return spent_; }

    bool is_readable() const override { return offset_ < filled_ || WaitReadable(ReadLimit()); }

    bool is_writable() const override {
        pollfd ready{.fd = sock_, .events = POLLOUT, .revents = 0};
        return poll(&ready, 1, static_cast<int>(limits_.write.count())) > 0 &&
               (ready.revents & (POLLERR | POLLHUP)) == 0;
    }

    ssize_t read(char* ptr, size_t size) override {
        if (offset_ == filled_) {
            if (budget_ == 0 || !WaitReadable(ReadLimit())) {
                spent_ = true;
                return -1;
            }
            ssize_t got = 0;
            do {
                got = recv(sock_, buffer_, std::min(sizeof buffer_, budget_), 0);
            } while (got < 0 && errno == EINTR);
            if (got <= 0) {
                spent_ = true;
                return got;
            }
            budget_ -= static_cast<size_t>(got);
            offset_ = 0;
            filled_ = static_cast<size_t>(got);
        }
        const size_t taken = std::min(size, filled_ - offset_);
        std::copy_n(buffer_ + offset_, taken, ptr);
        offset_ += taken;
        return static_cast<ssize_t>(taken);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) {
            return -1;
        }
        return send(sock_, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getpeername(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            AddressOf(address, length, ip, port);
        }
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            AddressOf(address, length, ip, port);
        }
    }

    socket_t socket() const override { return sock_; }

  private:
    Clock::time_point ReadLimit() const {
        return std::min(Clock::now() + limits_.silence, deadline_);
    }

    // Whether bytes (or the peer's close) arrived before until; gives up early when the server
    // stops, so a stop never waits for a slow peer.
    bool WaitReadable(Clock::time_point until) const {
        constexpr auto kSlice = std::chrono::milliseconds(50);
        while (listening_ != INVALID_SOCKET) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd ready{.fd = sock_, .events = POLLIN, .revents = 0};
            const int polled = poll(&ready, 1, static_cast<int>(std::min(left, kSlice).count()));
            if (polled != 0) {
                return polled > 0;
            }
        }
        return false;
    }

    const socket_t sock_;
    const ConnectionLimits& limits_;
    const std::atomic<socket_t>& listening_;
    Clock::time_point deadline_ = Clock::time_point::max();
    size_t budget_ = 0;
    bool spent_ = false;
    char buffer_[16384];
    size_t offset_ = 0;
    size_t filled_ = 0;
};

}  // namespace

GuardedHttpServer::GuardedHttpServer(ConnectionLimits limits) : limits_(limits) {
    new_task_queue = [workers = limits_.workers] { return new WorkerPool(workers); };
}

int GuardedHttpServer::Bind(const std::string& host, int port) {
    const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    // Listening again on a listening socket only changes its queue length.
    if (bound >= 0 && ::listen(svr_sock_, SOMAXCONN) != 0) {
        return -1;
    }
    return bound;
}

bool GuardedHttpServer::process_and_close_socket(socket_t sock) {
    bool answered = true;
    bool drain = false;
    {
        LimitedStream stream(sock, limits_, svr_sock_);
        for (size_t left = keep_alive_max_count_; answered && left > 0 && stream.WaitForRequest();
             --left) {
            stream.BeginRequest();
            t_closeAfterAnswer = false;
            bool closed = false;
            answered = process_request(stream, left == 1, closed, nullptr);
            if (closed || stream.Spent() || t_closeAfterAnswer) {
                drain = true;
                break;
            }
        }
    }
    if (drain) {
        DrainBeforeClose(sock);
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return answered;
}

void CloseConnectionAfterAnswer() {
    t_closeAfterAnswer = true;
}

BodyRead ReadBody(const httplib::Request& req, const httplib::ContentReader& reader,
                  std::size_t maxBytes, std::string* body) {
    bool tooLarge = req.has_header("Content-Length") &&
                    req.get_header_value<uint64_t>("Content-Length") > maxBytes;
    const bool complete = !tooLarge && reader([&](const char* data, size_t length) {
        if (body->size() + length > maxBytes) {
            tooLarge = true;
            return false;
        }
        body->append(data, length);
        return true;
    });
    if (complete) {
        return BodyRead::kComplete;
    }
    CloseConnectionAfterAnswer();
    return tooLarge ? BodyRead::kTooLarge : BodyRead::kBroken;
}

}  // namespace dubserver
