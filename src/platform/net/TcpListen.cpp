#include "platform/net/TcpListen.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tcp_listen {

namespace {

// Socket addresses of either family, as bind() and getsockname() take them.
union any_address {
    sockaddr base;
    sockaddr_in v4;
    sockaddr_in6 v6;
    sockaddr_storage storage;
};

bool numericAddress(const std::string& host, any_address& a, socklen_t& length) {
    a = {};
    if (host.empty() || host == "*" || host == "0.0.0.0") {
        a.v4.sin_family = AF_INET;
        a.v4.sin_addr.s_addr = htonl(INADDR_ANY);
        length = sizeof a.v4;
        return true;
    }
    if (inet_pton(AF_INET, host.c_str(), &a.v4.sin_addr) == 1) {
        a.v4.sin_family = AF_INET;
        length = sizeof a.v4;
        return true;
    }
    if (inet_pton(AF_INET6, host.c_str(), &a.v6.sin6_addr) == 1) {
        a.v6.sin6_family = AF_INET6;
        length = sizeof a.v6;
        return true;
    }
    return false;
}

bool resolvedAddress(const std::string& host, any_address& a, socklen_t& length, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int code = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (code != 0 || found == nullptr) {
        error = "unknown host \"" + host + "\" (" + gai_strerror(code) + ")";
        return false;
    }
    a = {};
    length = static_cast<socklen_t>(found->ai_addrlen <= sizeof a.storage ? found->ai_addrlen : sizeof a.storage);
    std::memcpy(&a.storage, found->ai_addr, length);
    freeaddrinfo(found);
    return true;
}

void setPort(any_address& a, int port) {
    if (a.base.sa_family == AF_INET6)
        a.v6.sin6_port = htons(static_cast<std::uint16_t>(port));
    else
        a.v4.sin_port = htons(static_cast<std::uint16_t>(port));
}

int portOf(const any_address& a) {
    return ntohs(a.base.sa_family == AF_INET6 ? a.v6.sin6_port : a.v4.sin_port);
}

}  // namespace

bool split_address(const std::string& address, std::string& host, int& port) {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon + 1 >= address.size() || address.size() - colon - 1 > 5) return false;
    long value = 0;
    for (std::size_t k = colon + 1; k < address.size(); ++k) {
        if (address[k] < '0' || address[k] > '9') return false;
        value = value * 10 + (address[k] - '0');
    }
    if (value > 65535) return false;
    host = address.substr(0, colon);
    if (!host.empty() && host.front() == '[') {
        if (host.size() < 2 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find_first_of("[]") != std::string::npos) {
        return false;
    }
    port = static_cast<int>(value);
    return true;
}

std::string listener::address() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

int listener::cancel_accept() {
    // shutdown() of a listening socket makes a blocked accept() return at
    // once on Linux, whatever address the socket is bound to (the base
    // class's wake-up connection reaches only a listener on loopback).
    shutdown();
    return close();
}

std::unique_ptr<listener> listen(const std::string& address, int queue_size, std::string& error) {
    std::string host;
    int port = 0;
    if (!split_address(address, host, port)) {
        error = "bad address \"" + address + "\" (HOST:PORT expected, PORT a number up to 65535)";
        return nullptr;
    }
    any_address a{};
    socklen_t length = 0;
    if (!numericAddress(host, a, length) && !resolvedAddress(host, a, length, error)) return nullptr;
    setPort(a, port);

    const int fd = ::socket(a.base.sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    // A restarted server takes its port back at once instead of waiting
    // for the old connections' TIME_WAIT to pass.
    int one = 1;
    (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // An IPv6 address means that address only, not the IPv4 ones as well.
    if (a.base.sa_family == AF_INET6) (void)setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    any_address bound{};
    socklen_t boundLength = sizeof bound.storage;
    if (::bind(fd, &a.base, length) != 0 || ::listen(fd, queue_size) != 0 ||
        getsockname(fd, &bound.base, &boundLength) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<listener>(fd, portOf(bound), host);
}

}  // namespace tcp_listen
