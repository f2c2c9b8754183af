#pragma once
// The byte-stream socket of the result channel and the token game.
//
// `socket_t` is an abstract stream socket with blocking reads and writes and
// integer error codes with texts. Two kinds implement it: `win_socket`, a
// TCP/IPv4 socket (TcpSocket.h), and `local_win_socket`, a transport
// between two processes of one machine over a shared-memory ring buffer
// (LocalSocket.h). The factory functions choose the kind from the address:
// text made of a host, ':' and a decimal port ("localhost:2020").
//
// Every operation records its outcome in the socket's error code (0 when
// all is well); callers test is_ok() and fetch the text with a 256-byte
// buffer. Factory functions return a new object (never null) that the
// caller owns, whatever its state.
#include <cstddef>
#include <ctime>

class socket_t {
public:
    enum state { ss_open = 0, ss_shutdown = 1, ss_close = 2 };
    enum socket_domain { sock_any_domain = 0, sock_local_domain = 1, sock_global_domain = 2 };

    // Reads at least min_size and at most max_size bytes; returns the count
    // once min_size have arrived, the count so far when `timeout` seconds
    // (-1: none) pass, -1 on failure.
    virtual int read(void* buf, std::size_t min_size, std::size_t max_size, std::time_t timeout) = 0;
    // Reads exactly `size` bytes: 1 on success, 0 on failure.
    virtual int read(void* buf, std::size_t size) = 0;
    // Writes all `size` bytes: 1 on success, 0 on failure.
    virtual int write(const void* buf, std::size_t size) = 0;
    // Writes what fits of `size` bytes, waiting at most timeout_ms (0: not
    // at all) for room: the count written (0 when no room came in time), -1
    // on failure. A writer that must never be held by a peer that stopped
    // reading uses this. The default blocks like write(); both transports
    // override it.
    virtual long write_some(const void* buf, std::size_t size, int timeout_ms);
    // One datagram to or from an IPv4 address and port (host byte order).
    virtual int sendto(int ip_addr, int ip_port, const void* buf, std::size_t size) = 0;
    virtual int recvfrom(int& ip_addr, int& ip_port, void* buf, std::size_t size) = 0;
    // Non-zero when the error code is 0.
    virtual int is_ok() = 0;
    // The text of the current error code, cut to buf_size (with its zero).
    virtual void get_error_text(char* buf, std::size_t buf_size) = 0;
    // The next connection on a listening socket as a new open socket, or null.
    virtual socket_t* accept() = 0;
    // Wakes an accept() blocked on this socket.
    virtual int cancel_accept() = 0;
    virtual int shutdown() = 0;
    virtual int close() = 0;
    virtual ~socket_t() = default;

    // A connected client socket. sock_any_domain takes the local transport
    // when the address has no ':' or is exactly "localhost" followed by ':'
    // and the port, TCP otherwise. Up to max_attempts attempts, `timeout`
    // seconds apart.
    static socket_t* connect(const char* address, socket_domain domain = sock_any_domain,
                             int max_attempts = 100, std::time_t timeout = 1);
    // A listening local endpoint named by the address.
    static socket_t* create_local(const char* address, int listen_queue_size = 5);
    // A listening TCP socket on every local IPv4 interface at the address's
    // port; with no address the system chooses the port.
    static socket_t* create_global(const char* address, int listen_queue_size = 5);
    // A UDP socket bound like create_global; flag bit 0 switches broadcasts on.
    static socket_t* create_dgram(const char* address, int flags);
    // The IPv4 address (host byte order) of a dotted address or a host name,
    // -1 when unknown.
    static int get_ip(const char* host);

    // True when sock_any_domain would take the local transport for `address`.
    static bool isLocalAddress(const char* address);
};

// A minimal thread facade; the simulation only calls initialize().
class task {
public:
    enum priority { pri_background = 0, pri_low = 1, pri_normal = 2, pri_high = 3, pri_realtime = 4 };
    typedef void (*fptr)(void* arg);

    // Does nothing; called once when a simulation driver is constructed.
    static void initialize(std::size_t stack_size = 0);
    // Starts a thread (not used by the system).
    static task* create(fptr f, void* arg = nullptr, priority pri = pri_normal, std::size_t stack_size = 0);
    static task* current();
    static void exit();
    static void sleep(std::time_t msec);
    static void reschedule();
};
