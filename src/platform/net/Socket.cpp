#include "platform/net/Socket.h"

#include "platform/console.h"
#include "platform/net/LocalSocket.h"
#include "platform/net/TcpSocket.h"

#include <pthread.h>

#include <chrono>
#include <cstring>
#include <cstdint>
#include <system_error>
#include <thread>

bool socket_t::isLocalAddress(const char* address) {
    if (address == nullptr) return false;
    if (std::strchr(address, ':') == nullptr) return true;
    // "localhost:port" only: "localhostx:1" names another machine.
    return std::strncmp(address, "localhost", 9) == 0 && address[9] == ':';
}

long socket_t::write_some(const void* buf, std::size_t size, int /*timeout_ms*/) {
    return write(buf, size) != 0 ? static_cast<long>(size) : -1;
}

socket_t* socket_t::connect(const char* address, socket_domain domain, int max_attempts, std::time_t timeout) {
    const bool local =
        domain == sock_local_domain || (domain == sock_any_domain && isLocalAddress(address));
    if (local) {
        auto* s = new local_win_socket(address);
        s->open_client(max_attempts, timeout);
        return s;
    }
    auto* s = new win_socket(address);
    s->open_client(max_attempts, timeout);
    return s;
}

socket_t* socket_t::create_local(const char* address, int listen_queue_size) {
    auto* s = new local_win_socket(address);
    s->open_listener(listen_queue_size);
    return s;
}

socket_t* socket_t::create_global(const char* address, int listen_queue_size) {
    auto* s = new win_socket(address);
    s->open_listener(listen_queue_size);
    return s;
}

socket_t* socket_t::create_dgram(const char* address, int flags) {
    auto* s = new win_socket(address);
    s->open_datagram(flags);
    return s;
}

int socket_t::get_ip(const char* host) {
    std::uint32_t ip = 0;
    return win_socket::resolve(host, ip) ? static_cast<int>(ip) : -1;
}

// The task facade maps onto std::thread. Priorities and stack sizes are
// accepted and not used: the system's defaults serve every caller.
namespace {
thread_local task* current_task = nullptr;
}

void task::initialize(std::size_t /*stack_size*/) {}

task* task::create(fptr f, void* arg, priority /*pri*/, std::size_t /*stack_size*/) {
    // The handle identifies the thread while it runs and goes with it.
    task* handle = new task;
    try {
        std::thread([f, arg, handle] {
            current_task = handle;
            struct release {
                task* t;
                ~release() { delete t; }
            } owner{handle};
            f(arg);
        }).detach();
    } catch (const std::system_error& e) {
        delete handle;
        console::error("CreateThread failed with erro code=%d\n", e.code().value());
    }
    return handle;
}

task* task::current() {
    if (current_task == nullptr) {
        // A thread the facade did not start (the main thread) gets a handle
        // of its own on first use.
        thread_local task own;
        current_task = &own;
    }
    return current_task;
}

void task::exit() { pthread_exit(nullptr); }

void task::sleep(std::time_t msec) { std::this_thread::sleep_for(std::chrono::milliseconds(msec)); }

void task::reschedule() {}
