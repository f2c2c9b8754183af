#pragma once
// A TCP listener bound to the address of one host rather than to every
// interface: "127.0.0.1:P" is reachable from this machine only.
//
// The address is "HOST:PORT". HOST is a dotted IPv4 address, an IPv6
// address (in brackets, "[::1]:P", or bare when the port still follows the
// last ':', "::1:P"), a host name (looked up, first address taken), or one
// of "0.0.0.0", "*" and the empty text for every IPv4 interface. PORT is a
// decimal number up to 65535; 0 lets the system choose a free port, which
// the listener tells.
#include "platform/net/TcpSocket.h"

#include <memory>
#include <string>

namespace tcp_listen {

// Splits a listening address into its host (brackets removed) and port;
// false for text that is not HOST:PORT with a decimal port.
bool split_address(const std::string& address, std::string& host, int& port);

// The listening socket: a win_socket around the bound handle, so that it
// serves accept() as any listener does. cancel_accept() wakes a blocked
// accept() whatever address the listener is bound to.
class listener : public win_socket {
public:
    listener(int handle, int port, std::string host) : win_socket(handle), port_(port), host_(std::move(host)) {}
    int cancel_accept() override;
    int port() const { return port_; }                // the port it listens on, as bound
    const std::string& host() const { return host_; }  // the host as given (without brackets)
    // "HOST:PORT" with the bound port, IPv6 hosts in brackets.
    std::string address() const;

private:
    int port_;
    std::string host_;
};

// Listens on the address; null with `error` set (a readable reason) when
// the address is malformed, the host unknown or the port cannot be bound.
std::unique_ptr<listener> listen(const std::string& address, int queue_size, std::string& error);

}  // namespace tcp_listen
