#pragma once
// Helpers of the socket tests: both transports behind one description, a
// connected pair in one process, child processes, and a look into /dev/shm.
#include "platform/net/LocalSocket.h"
#include "platform/net/Socket.h"
#include "platform/net/TcpSocket.h"

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sockettest {

inline std::string errorText(socket_t& s) {
    char text[256];
    s.get_error_text(text, sizeof text);
    return text;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A local endpoint name that no other test run shares.
inline std::string localName(const std::string& tag) { return "scpntest-" + tag + "-" + std::to_string(getpid()); }

// Entries of /dev/shm whose names contain `part`.
inline std::vector<std::string> shmEntries(const std::string& part) {
    std::vector<std::string> found;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* e = readdir(dir))
            if (std::string(e->d_name).find(part) != std::string::npos) found.push_back(e->d_name);
        closedir(dir);
    }
    return found;
}

// Runs `body` in a child process that ends with its result.
inline pid_t forkChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

// The exit status of a child, 128 + the signal when a signal ended it.
inline int reap(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Transport { const char* name; bool local; };
inline const Transport tcp{"tcp", false}, local{"local", true};

// A listener (TCP: on a port the system chose) and the address of a client.
struct Endpoint { std::unique_ptr<socket_t> listener; std::string address; socket_t::socket_domain domain; };

inline Endpoint listen(const Transport& t, const std::string& tag) {
    if (t.local) {
        const std::string name = localName(tag);
        return {std::unique_ptr<socket_t>(socket_t::create_local(name.c_str())), name, socket_t::sock_local_domain};
    }
    std::unique_ptr<socket_t> listener(socket_t::create_global(nullptr));
    const int port = dynamic_cast<win_socket&>(*listener).get_port();
    return {std::move(listener), "127.0.0.1:" + std::to_string(port), socket_t::sock_global_domain};
}

// A connection within this process; the accept runs on a thread of its own
// because the local handshake needs both sides at once.
struct Pair { Endpoint endpoint; std::unique_ptr<socket_t> server, client; };

inline Pair connectPair(const Transport& t, const std::string& tag) {
    Pair p{listen(t, tag), nullptr, nullptr};
    std::thread acceptor([&p] { p.server.reset(p.endpoint.listener->accept()); });
    p.client.reset(socket_t::connect(p.endpoint.address.c_str(), p.endpoint.domain, 20, 1));
    acceptor.join();
    return p;
}

// Writes blocks until a write fails (a TCP write into a connection the peer
// has left may succeed once before the reset comes back); false when none
// failed within five seconds.
inline bool writeUntilFailure(socket_t& s) {
    const std::vector<char> block(20000, 'w');
    const auto start = std::chrono::steady_clock::now();
    while (secondsSince(start) < 5)
        if (s.write(block.data(), block.size()) == 0) return true;
    return false;
}

}  // namespace sockettest
