#pragma once
// The dashboard's HTTP server: cpp-httplib's server with connections that
// cannot hold a worker thread for long unless they are being served.
//
// httplib waits for every read of a request with the read time-out alone, so
// a client that sends its header a byte at a time, each just within the
// time-out, keeps a worker for as long as it likes; with every worker held
// so, no page is answered. Here a request must arrive whole within
// kRequestSeconds of its first byte, besides every read waiting at most the
// read time-out. Writing is unchanged: every write waits at most the write
// time-out, so a live stream (Server-Sent Events) goes on as long as its page
// reads it, and ends when the page stops reading.
#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <memory>

namespace dashboard {

class HttpServer : public httplib::Server {
public:
    // The longest a request (line, header and body) may take to arrive.
    static constexpr int kRequestSeconds = 5;

    // Called from a handler: the connection is closed once this response is
    // written, whatever the client asked for (a refused client is not kept
    // waiting on a worker for its next request).
    static void closeAfterResponse();

    // After binding: lets up to `connections` wait to be accepted (httplib
    // listens with room for 5; the rest of a burst, such as pages loading
    // together, would wait a second or more for the kernel to retry them).
    void widenBacklog(int connections);

private:
    bool process_and_close_socket(socket_t sock) override;
};

// A fixed number of places, taken without waiting: what keeps the live
// streams from taking every worker thread.
class Slots {
public:
    explicit Slots(std::size_t limit) : limit_(limit) {}
    Slots(const Slots&) = delete;
    Slots& operator=(const Slots&) = delete;

    // A place, given back when the last copy of the handle goes; nothing
    // when all are taken.
    std::shared_ptr<void> take();
    std::size_t taken() const { return taken_; }
    std::size_t limit() const { return limit_; }

private:
    const std::size_t limit_;
    std::atomic<std::size_t> taken_{0};
};

}  // namespace dashboard
