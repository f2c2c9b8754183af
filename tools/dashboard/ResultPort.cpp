#include "ResultPort.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "RunFeed.h"
#include "platform/net/Socket.h"

namespace dashboard {

// The local transport comes from the platform layer; TCP is listened on
// here, bound to the address's host only (the platform's TCP listener takes
// every interface, and what arrives on this port goes straight to the page).
struct ResultPort::Listener {
    std::unique_ptr<socket_t> socket;  // local transport
    int tcp = -1;                      // TCP
    bool local = false;
    std::string error;
};

namespace {

int listenTcp(const std::string& address, std::string& error) {
    const std::size_t colon = address.rfind(':');
    std::string host = address.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const std::string port = address.substr(colon + 1);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = ::gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 5) != 0) {
            error = std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    return fd;
}

// Waits up to a second for `fd` to be readable; true when it is.
bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 1000) > 0;
}

}  // namespace

ResultPort::ResultPort(std::string address, RunFeed& feed)
    : address_(std::move(address)), feed_(feed), listener_(std::make_unique<Listener>()) {
    listener_->local = socket_t::isLocalAddress(address_.c_str());
    if (listener_->local) listener_->socket.reset(socket_t::create_local(address_.c_str()));
    else listener_->tcp = listenTcp(address_, listener_->error);
}

ResultPort::~ResultPort() {
    if (listener_->tcp >= 0) ::close(listener_->tcp);
}

bool ResultPort::listening(std::string& why) const {
    if (listener_->local) {
        if (listener_->socket && listener_->socket->is_ok()) return true;
        why = "the local transport's names are in use";
        return false;
    }
    if (listener_->tcp >= 0) return true;
    why = listener_->error;
    return false;
}

bool ResultPort::local() const { return listener_->local; }

bool ResultPort::localAddress(const std::string& address) { return socket_t::isLocalAddress(address.c_str()); }

std::string ResultPort::address() const {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (listener_->local || listener_->tcp < 0 ||
        ::getsockname(listener_->tcp, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return address_;
    const int port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                                 : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return address_.substr(0, address_.rfind(':') + 1) + std::to_string(port);
}

void ResultPort::serve() {
    char buffer[8192];
    while (!stopping_ && !listener_->local) {
        if (!readable(listener_->tcp)) continue;
        const int peer = ::accept4(listener_->tcp, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0) continue;
        feed_.beginRun();
        std::cout << "simulation connected to " << address_ << std::endl;
        while (!stopping_) {
            if (!readable(peer)) continue;
            const ssize_t n = ::read(peer, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            feed_.feed(buffer, static_cast<std::size_t>(n));
        }
        feed_.endOfStream();
        ::close(peer);
        std::cout << "simulation disconnected" << std::endl;
    }
    while (!stopping_ && listener_->local) {
        std::unique_ptr<socket_t> peer(listener_->socket->accept());
        if (stopping_) break;
        if (!peer || !peer->is_ok()) continue;
        feed_.beginRun();
        std::cout << "simulation connected to " << address_ << std::endl;
        for (;;) {
            // A second at most per read, so that stop() is seen.
            const int n = peer->read(buffer, 1, sizeof buffer, 1);
            if (stopping_) break;
            if (n == 0) continue;
            if (n < 0) break;
            feed_.feed(buffer, static_cast<std::size_t>(n));
        }
        feed_.endOfStream();
        peer->close();
        std::cout << "simulation disconnected" << std::endl;
    }
}

void ResultPort::stop() {
    stopping_ = true;
    if (listener_->socket) listener_->socket->cancel_accept();
}

}  // namespace dashboard
