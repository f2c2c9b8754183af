#include "HttpServer.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>

namespace dashboard {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

thread_local bool closeRequested = false;

milliseconds toMs(time_t sec, time_t usec) { return milliseconds(sec * 1000 + usec / 1000); }

// Waits up to `timeout` for `events` on `fd`; true when they came (or the
// connection broke, which the next read or write then reports).
bool ready(int fd, short events, milliseconds timeout) {
    const Clock::time_point end = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(std::max<milliseconds::rep>(left.count(), 0)));
        if (rc < 0 && errno == EINTR) continue;
        return rc > 0;
    }
}

void addressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* a = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? ::getpeername(fd, a, &length) : ::getsockname(fd, a, &length)) != 0) return;
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (::getnameinfo(a, length, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return;
    ip = host;
    port = std::atoi(service);
}

// One connection, read through a buffer (httplib reads a request's lines a
// byte at a time), every read within the request's deadline.
class Connection : public httplib::Stream {
public:
    Connection(int fd, milliseconds readTimeout, milliseconds writeTimeout)
        : fd_(fd), readTimeout_(readTimeout), writeTimeout_(writeTimeout) {}

    // Waits up to `idle` for the next request to begin, looking at `gone`
    // every tenth of a second; false when none began or `gone` said so.
    bool nextRequest(milliseconds idle, const std::function<bool()>& gone) {
        const Clock::time_point end = Clock::now() + idle;
        while (begin_ == end_) {
            if (gone()) return false;
            const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
            if (left.count() <= 0) return false;
            if (ready(fd_, POLLIN, std::min(left, milliseconds(100)))) break;
        }
        deadline_ = Clock::now() + std::chrono::seconds(HttpServer::kRequestSeconds);
        return true;
    }

    bool is_readable() const override {
        if (begin_ != end_) return true;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now());
        if (left.count() <= 0) return false;
        return ready(fd_, POLLIN, std::min(left, readTimeout_));
    }

    bool is_writable() const override { return ready(fd_, POLLOUT, writeTimeout_); }

    ssize_t read(char* ptr, size_t size) override {
        while (begin_ == end_) {
            if (!is_readable()) return -1;
            const ssize_t n = ::recv(fd_, buffer_, sizeof buffer_, MSG_DONTWAIT);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        const std::size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        for (;;) {
            if (!is_writable()) return -1;
            const ssize_t n = ::send(fd_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return n;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { addressOf(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { addressOf(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

private:
    int fd_;
    milliseconds readTimeout_, writeTimeout_;
    Clock::time_point deadline_{};
    char buffer_[4096];
    std::size_t begin_ = 0, end_ = 0;  // what was read and not yet handed on
};

}  // namespace

void HttpServer::closeAfterResponse() { closeRequested = true; }

void HttpServer::widenBacklog(int connections) {
    // Listening again on a listening socket only changes its backlog.
    if (svr_sock_ != INVALID_SOCKET) ::listen(svr_sock_, connections);
}

bool HttpServer::process_and_close_socket(socket_t sock) {
    Connection connection(sock, toMs(read_timeout_sec_, read_timeout_usec_),
                          toMs(write_timeout_sec_, write_timeout_usec_));
    const auto gone = [this] { return svr_sock_ == INVALID_SOCKET; };
    bool ok = true;
    for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
        if (!connection.nextRequest(std::chrono::seconds(keep_alive_timeout_sec_), gone)) break;
        closeRequested = false;
        bool closed = false;
        ok = process_request(connection, left == 1, closed, nullptr);
        if (!ok || closed || closeRequested) break;
    }
    closeRequested = false;
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

std::shared_ptr<void> Slots::take() {
    std::size_t now = taken_.load();
    do {
        if (now >= limit_) return nullptr;
    } while (!taken_.compare_exchange_weak(now, now + 1));
    return std::shared_ptr<void>(this, [](Slots* slots) { --slots->taken_; });
}

}  // namespace dashboard
