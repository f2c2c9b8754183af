#pragma once
// A TCP/IPv4 stream socket (and, made by create_dgram, a UDP socket) over the
// POSIX socket interface.
//
// Addresses are "host:port": the host a dotted IPv4 address or a name, the
// port a decimal number of 16 bits. A listener binds to every local IPv4
// interface at the port; without an address the system picks the port,
// which get_port() tells.
//
// Error codes: 0 is success, the negative values below are this class's own
// conditions, and a positive value is the errno of the system call that
// failed.
#include "platform/net/Socket.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

class win_socket : public socket_t {
public:
    enum error_codes {
        ok = 0,
        not_opened = -1,
        bad_address = -2,
        connection_failed = -3,
        broken_pipe = -4,
        invalid_access_mode = -5,
        message_truncated = -6
    };

    // An unopened socket for `address` (copied; null: no address).
    explicit win_socket(const char* address);
    // An open socket around a connected system handle (from accept()).
    explicit win_socket(int handle);
    ~win_socket() override;
    win_socket(const win_socket&) = delete;
    win_socket& operator=(const win_socket&) = delete;

    // Connects to the address as a client; false with the error code set when
    // it fails. Refused connections are retried up to max_attempts times,
    // `timeout` seconds apart.
    bool open_client(int max_attempts, std::time_t timeout);
    // Listens at the address's port (any port without an address).
    bool open_listener(int listen_queue_size);
    // A datagram socket bound like a listener; flag bit 0 allows broadcasts.
    bool open_datagram(int flags);

    int read(void* buf, std::size_t min_size, std::size_t max_size, std::time_t timeout) override;
    int read(void* buf, std::size_t size) override;
    int write(const void* buf, std::size_t size) override;
    long write_some(const void* buf, std::size_t size, int timeout_ms) override;
    int sendto(int ip_addr, int ip_port, const void* buf, std::size_t size) override;
    int recvfrom(int& ip_addr, int& ip_port, void* buf, std::size_t size) override;
    int is_ok() override;
    void get_error_text(char* buf, std::size_t buf_size) override;
    socket_t* accept() override;
    int cancel_accept() override;
    int shutdown() override;
    int close() override;

    // The local port the socket is bound to (host byte order), -1 when it has
    // none.
    int get_port() const;
    state get_state() const { return st.load(); }

    // Splits "host:port": the ':' must lie within the first 256 characters
    // and be followed by a decimal number of at most 65535 and nothing else.
    static bool parse_address(const char* address, std::string& host, int& port);
    // The IPv4 address (host byte order) of a dotted address or a host name.
    static bool resolve(const char* host, std::uint32_t& ip);

    int s = -1;                          // the system handle, -1 when none
    int errcode = ok;                    // the outcome of the last operation
    std::optional<std::string> address;  // the address it was made for

private:
    // A socket of `type`, bound to the address's port on every interface
    // when an address is given; false (with the error recorded) otherwise.
    bool open_bound(int type);
    std::atomic<state> st{ss_close};
};
