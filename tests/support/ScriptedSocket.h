#pragma once
// A peer made of prepared messages, for code that serves a socket: each
// read returns the next message (cut to the reader's buffer, the rest coming
// with the next read, as a stream would), a failed read when none is left;
// everything written is kept, one entry per write.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "platform/net/Socket.h"

namespace testsupport {

class ScriptedSocket : public socket_t {
public:
    explicit ScriptedSocket(const std::vector<std::string>& messages) : incoming(messages.begin(), messages.end()) {}
    int read(void* buf, std::size_t, std::size_t max_size, std::time_t) override {
        if (incoming.empty()) return -1;
        std::string message = incoming.front();
        incoming.pop_front();
        if (message.size() > max_size) {
            incoming.push_front(message.substr(max_size));
            message.resize(max_size);
        }
        std::copy(message.begin(), message.end(), static_cast<char*>(buf));
        return static_cast<int>(message.size());
    }
    int read(void*, std::size_t) override { return 0; }
    int write(const void* buf, std::size_t size) override {
        replies.emplace_back(static_cast<const char*>(buf), size);
        return 1;
    }
    int sendto(int, int, const void*, std::size_t) override { return 0; }
    int recvfrom(int&, int&, void*, std::size_t) override { return -1; }
    int is_ok() override { return 1; }
    void get_error_text(char* buf, std::size_t size) override { std::snprintf(buf, size, "ok"); }
    socket_t* accept() override { return nullptr; }
    int cancel_accept() override { return 0; }
    int shutdown() override { return 0; }
    int close() override { return 0; }

    std::deque<std::string> incoming;
    std::vector<std::string> replies;
};

}  // namespace testsupport
