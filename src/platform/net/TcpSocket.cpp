#include "platform/net/TcpSocket.h"

#include "platform/net/ErrorText.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

namespace {

sockaddr_in ipv4Address(std::uint32_t ip, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(ip);
    return a;
}

void setOption(int fd, int level, int name, int value) {
    // Best effort: a socket without TCP_NODELAY or SO_REUSEADDR still works.
    (void)setsockopt(fd, level, name, &value, sizeof value);
}

long long millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace

win_socket::win_socket(const char* addr) {
    if (addr != nullptr) address = std::string(addr);
}

win_socket::win_socket(int handle) : s(handle), st(ss_open) {}

win_socket::~win_socket() {
    if (s >= 0) close();
}

bool win_socket::parse_address(const char* text, std::string& host, int& port) {
    if (text == nullptr) return false;
    const std::size_t limit = strnlen(text, 256);
    const char* colon = static_cast<const char*>(std::memchr(text, ':', limit));
    if (colon == nullptr) return false;
    const char* digits = colon + 1;
    if (*digits == '\0') return false;
    long value = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > 65535) return false;
    }
    host.assign(text, colon);
    port = static_cast<int>(value);
    return true;
}

bool win_socket::resolve(const char* host, std::uint32_t& ip) {
    if (host == nullptr || *host == '\0') return false;
    in_addr dotted{};
    if (inet_pton(AF_INET, host, &dotted) == 1) {
        ip = ntohl(dotted.s_addr);
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    ip = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

bool win_socket::open_client(int max_attempts, std::time_t timeout) {
    std::string host;
    int port = 0;
    std::uint32_t ip = 0;
    if (!address || !parse_address(address->c_str(), host, port) || !resolve(host.c_str(), ip)) {
        errcode = bad_address;
        return false;
    }
    const sockaddr_in peer = ipv4Address(ip, port);
    for (int attempt = 1;; ++attempt) {
        s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0) {
            errcode = errno;
            return false;
        }
        if (::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
            setOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
            st = ss_open;
            errcode = ok;
            return true;
        }
        const int error = errno;
        ::close(s);
        s = -1;
        errcode = error;
        // Only a refusal means "the server is not up yet"; anything else
        // (no route, a timeout) will not go away by trying again.
        if (error != ECONNREFUSED) return false;
        if (attempt >= max_attempts) {
            errcode = connection_failed;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::seconds(timeout));
    }
}

bool win_socket::open_bound(int type) {
    std::string host;
    int port = 0;
    if (address && !parse_address(address->c_str(), host, port)) {
        errcode = bad_address;
        return false;
    }
    s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0) {
        errcode = errno;
        return false;
    }
    if (address) {
        // A restarted server takes its port back at once instead of waiting
        // for the old connections' TIME_WAIT to pass.
        setOption(s, SOL_SOCKET, SO_REUSEADDR, 1);
        const sockaddr_in local = ipv4Address(INADDR_ANY, port);
        if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            errcode = errno;
            close();
            return false;
        }
    }
    return true;
}

bool win_socket::open_listener(int listen_queue_size) {
    if (!open_bound(SOCK_STREAM)) return false;
    if (::listen(s, listen_queue_size) != 0) {
        errcode = errno;
        close();
        return false;
    }
    st = ss_open;
    errcode = ok;
    return true;
}

bool win_socket::open_datagram(int flags) {
    if (!open_bound(SOCK_DGRAM)) return false;
    if ((flags & 1) != 0 && setsockopt(s, SOL_SOCKET, SO_BROADCAST, &flags, sizeof flags) != 0) {
        errcode = errno;
        close();
        return false;
    }
    st = ss_open;
    errcode = ok;
    return true;
}

int win_socket::read(void* buf, std::size_t min_size, std::size_t max_size, std::time_t timeout) {
    if (s < 0 || st != ss_open) {
        errcode = not_opened;
        return -1;
    }
    if (min_size > max_size) min_size = max_size;
    const auto start = std::chrono::steady_clock::now();
    char* out = static_cast<char*>(buf);
    std::size_t size = 0;
    // At least one receive even when min_size is 0: such a read returns with
    // whatever the first chunk brings.
    for (;;) {
        if (timeout >= 0) {
            long long left = static_cast<long long>(timeout) * 1000 - millisecondsSince(start);
            if (left < 0) left = 0;
            pollfd p{s, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left < INT_MAX ? left : INT_MAX));
            if (ready < 0) {
                if (errno == EINTR) continue;
                errcode = errno;
                return -1;
            }
            if (ready == 0) {
                errcode = ok;
                return static_cast<int>(size);
            }
        }
        const ssize_t got = ::recv(s, out + size, max_size - size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            errcode = errno;
            return -1;
        }
        if (got == 0 && max_size > size) {
            errcode = broken_pipe;  // the peer closed its side
            return -1;
        }
        size += static_cast<std::size_t>(got);
        if (size >= min_size) break;
    }
    errcode = ok;
    return static_cast<int>(size);
}

int win_socket::read(void* buf, std::size_t size) {
    return read(buf, size, size, -1) == static_cast<int>(size) ? 1 : 0;
}

int win_socket::write(const void* buf, std::size_t size) {
    if (s < 0 || st != ss_open) {
        errcode = not_opened;
        return 0;
    }
    const char* p = static_cast<const char*>(buf);
    while (size > 0) {
        // MSG_NOSIGNAL: a peer that went away is an error code here, not a
        // SIGPIPE that ends the program.
        const ssize_t sent = ::send(s, p, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            errcode = (errno == EPIPE || errno == ECONNRESET) ? static_cast<int>(broken_pipe) : errno;
            return 0;
        }
        p += sent;
        size -= static_cast<std::size_t>(sent);
    }
    errcode = ok;
    return 1;
}

long win_socket::write_some(const void* buf, std::size_t size, int timeout_ms) {
    if (s < 0 || st != ss_open) {
        errcode = not_opened;
        return -1;
    }
    if (size == 0) return 0;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const ssize_t sent = ::send(s, buf, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            errcode = ok;
            return static_cast<long>(sent);
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            errcode = (errno == EPIPE || errno == ECONNRESET) ? static_cast<int>(broken_pipe) : errno;
            return -1;
        }
        // The send buffer is full: wait for room, but no longer than asked.
        const long long left = static_cast<long long>(timeout_ms) - millisecondsSince(start);
        if (left <= 0) {
            errcode = ok;
            return 0;
        }
        pollfd p{s, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            errcode = errno;
            return -1;
        }
    }
}

int win_socket::sendto(int ip_addr, int ip_port, const void* buf, std::size_t size) {
    if (s < 0 || st != ss_open) {
        errcode = not_opened;
        return 0;
    }
    const sockaddr_in to = ipv4Address(static_cast<std::uint32_t>(ip_addr), ip_port);
    ssize_t sent;
    do {
        sent = ::sendto(s, buf, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        errcode = errno;
        return 0;
    }
    if (static_cast<std::size_t>(sent) != size) {
        errcode = message_truncated;
        return 0;
    }
    errcode = ok;
    return 1;
}

int win_socket::recvfrom(int& ip_addr, int& ip_port, void* buf, std::size_t size) {
    if (s < 0 || st != ss_open) {
        errcode = not_opened;
        return -1;
    }
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t got;
    do {
        got = ::recvfrom(s, buf, size, 0, reinterpret_cast<sockaddr*>(&from), &length);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        errcode = errno;
        return -1;
    }
    ip_addr = static_cast<int>(ntohl(from.sin_addr.s_addr));
    ip_port = ntohs(from.sin_port);
    errcode = ok;
    return static_cast<int>(got);
}

int win_socket::is_ok() { return errcode == ok; }

void win_socket::get_error_text(char* buf, std::size_t buf_size) {
    const char* text = nullptr;
    switch (errcode) {
        case ok: text = "ok"; break;
        case not_opened: text = "socket not opened"; break;
        case bad_address: text = "bad address"; break;
        case connection_failed: text = "exceed limit of attempts of connection to server"; break;
        case broken_pipe: text = "connection is broken"; break;
        case invalid_access_mode: text = "invalid access mode"; break;
        case message_truncated: text = "sent message was truncated"; break;
        default: break;
    }
    format_socket_error(errcode, text, buf, buf_size);
}

socket_t* win_socket::accept() {
    const int listener = s;
    if (listener < 0 || st != ss_open) {
        errcode = not_opened;
        return nullptr;
    }
    int fd;
    do {
        fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        errcode = st != ss_open ? static_cast<int>(not_opened) : errno;
        return nullptr;
    }
    if (st != ss_open) {
        // The connection cancel_accept() made to wake us up.
        ::close(fd);
        errcode = not_opened;
        return nullptr;
    }
    // Closing a connection waits up to 10 s for unsent data to go out.
    const linger lingering{1, 10};
    if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &lingering, sizeof lingering) != 0) {
        ::close(fd);
        errcode = invalid_access_mode;
        return nullptr;
    }
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    errcode = ok;
    return new win_socket(fd);
}

int win_socket::cancel_accept() {
    st = ss_shutdown;
    const int port = get_port();
    if (port > 0) {
        // A blocked accept() wakes up only for a connection: make one, which
        // the woken accept() recognises by the state and throws away.
        const int waker = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (waker >= 0) {
            const sockaddr_in self = ipv4Address(INADDR_LOOPBACK, port);
            (void)::connect(waker, reinterpret_cast<const sockaddr*>(&self), sizeof self);
            ::close(waker);
        }
    }
    return close();
}

int win_socket::shutdown() {
    if (s < 0 || st != ss_open) {
        errcode = not_opened;
        return 0;
    }
    st = ss_shutdown;
    if (::shutdown(s, SHUT_RDWR) != 0) {
        errcode = errno;
        return 0;
    }
    errcode = ok;
    return 1;
}

int win_socket::close() {
    int result = 1;
    if (s >= 0) {
        if (::close(s) != 0) {
            errcode = errno;
            result = 0;
        }
        s = -1;
    }
    st = ss_close;
    return result;
}

int win_socket::get_port() const {
    if (s < 0) return -1;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_family != AF_INET)
        return -1;
    return ntohs(local.sin_port);
}
