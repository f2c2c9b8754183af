#pragma once
// A stream transport between two processes of one machine: a ring buffer per
// direction in shared memory, and events that wake a reader waiting for data
// and a writer waiting for space.
//
// Named objects. An endpoint address N (any text) is turned into the base
// name "/scpn-" + N with every '/' replaced by '_' (POSIX names need one
// leading '/' and no other). A listener owns
//     <base>.shr            the rendezvous channel (16,384 bytes)
//     <base>.0 ... <base>.3 its four events (named semaphores)
// which appear in /dev/shm as "scpn-N.shr" and "sem.scpn-N.0" ... ".3".
// Every accepted connection gets a private channel of its own named
// "/scpn.<server pid>.<counter>" (".shr", ".0" ... ".3"); both sides open it
// during the handshake and its names are removed as soon as they have, so a
// connection leaves nothing behind in /dev/shm however it ends. A listener
// removes its names when it closes (unless another listener has since taken
// the name over). A listener always creates its objects anew, so the names a
// killed listener left behind never block a new one; a new listener also
// takes a name over from a live one. A listener keeps its process id in its
// rendezvous channel, so a client that finds the names of a listener that
// has ended goes on waiting for a new one instead of failing.
//
// A writer that finds its peer gone remembers it: later writes fail at once.
//
// Events. An event is an auto-reset event: signal() sets it, a wait returns
// once it is set and resets it. It is made of a POSIX semaphore used as a
// binary signal: signal() posts only while the value is 0, and a successful
// wait drains whatever else was posted. Two signals racing may both post;
// the extra count is drained by the next wait or, at worst, wakes a waiter
// once for nothing. Every waiter looks at the buffer again after waking, so
// a spurious wake costs a loop and a drained signal loses nothing.
//
// Liveness. Each side learns the other's process id in the handshake and
// watches it through a pidfd (which also notices a peer that has died but
// not yet been reaped). Waits run in slices of 50 ms and check between
// slices whether the peer has ended, whether it closed its end, and whether
// this endpoint was shut down, so a killed peer is noticed within a slice.
#include "platform/net/Socket.h"

#include <semaphore.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// One direction of a channel, exactly as it lies in shared memory. The
// 32-bit words are volatile and read and written with atomic operations
// (sequentially consistent), which also orders the copies into Data.
struct socket_buf {
    enum { buffer_size = 8192, header_size = 16, data_size = buffer_size - header_size };
    // Bits of the two wait flags.
    enum { waiting = 1, closed = 2 };

    volatile std::int32_t RcvWaitFlag;  // reader: 1 while it waits for data (bit 1: reader closed)
    volatile std::int32_t SndWaitFlag;  // writer: 1 while it waits for space (bit 1: writer closed)
    volatile std::int32_t DataEnd;      // where the writer puts the next byte, 0 .. data_size-1
    volatile std::int32_t DataBeg;      // where the reader takes the next byte
    char Data[data_size];               // empty when DataBeg == DataEnd; one byte always stays free
};
static_assert(sizeof(socket_buf) == 8192, "a channel direction is 8192 bytes");
static_assert(offsetof(socket_buf, RcvWaitFlag) == 0 && offsetof(socket_buf, SndWaitFlag) == 4 &&
                  offsetof(socket_buf, DataEnd) == 8 && offsetof(socket_buf, DataBeg) == 12 &&
                  offsetof(socket_buf, Data) == 16,
              "the header of a channel direction is four 32-bit words");

// A channel: the client-to-server direction first, then server-to-client.
constexpr std::size_t local_channel_size = 2 * sizeof(socket_buf);
static_assert(local_channel_size == 16384, "a channel is 16,384 bytes");

class local_win_socket : public socket_t {
public:
    enum error_codes {
        ok = 0,
        not_opened = -1,
        broken_pipe = -2,
        timeout_expired = -3,
        invalid_access_mode = -5,
        message_truncated = -6
    };
    // The four events of an endpoint. RD: data arrived for this side's
    // reader; RTR: this side's reader made room (the peer's writer may go
    // on); TD: this side's writer put data in (the peer's RD); RTT: the
    // peer's reader made room (this side's writer may go on). One side's TD
    // is the other's RD and one side's RTR the other's RTT.
    enum event_index { RD = 0, RTR = 1, TD = 2, RTT = 3 };

    // An unopened endpoint for `address`.
    explicit local_win_socket(const char* address);
    ~local_win_socket() override;
    local_win_socket(const local_win_socket&) = delete;
    local_win_socket& operator=(const local_win_socket&) = delete;

    // Creates the listener's rendezvous channel. The queue length has no
    // meaning here: clients wait for an accept() however many there are.
    bool open_listener(int listen_queue_size);
    // Connects to a listener, waiting up to max_attempts * timeout seconds
    // for it to appear and accept; -3 when it does not.
    bool open_client(int max_attempts, std::time_t timeout);

    // A read with min_size 0 returns 0 at once, without looking at the
    // buffer. A timeout that passes returns the count so far with code 0.
    int read(void* buf, std::size_t min_size, std::size_t max_size, std::time_t timeout) override;
    int read(void* buf, std::size_t size) override;
    int write(const void* buf, std::size_t size) override;
    long write_some(const void* buf, std::size_t size, int timeout_ms) override;
    // Datagrams do not exist here: -5, and 0 / -1.
    int sendto(int ip_addr, int ip_port, const void* buf, std::size_t size) override;
    int recvfrom(int& ip_addr, int& ip_port, void* buf, std::size_t size) override;
    int is_ok() override;
    void get_error_text(char* buf, std::size_t buf_size) override;
    // Blocks until a client connects. Only one thread may accept at a time.
    socket_t* accept() override;
    int cancel_accept() override;
    // Ends this endpoint's reading and writing: blocked reads and writes of
    // this endpoint wake up and fail, and the peer sees the connection end.
    int shutdown() override;
    // Releases everything. No other thread may be inside a call on this
    // socket; shutdown() first to get them out.
    int close() override;

    // Bytes that a read takes without waiting.
    std::size_t available() const;
    state get_state() const { return st.load(); }

    // The base name of the named objects of an endpoint address.
    static std::string object_name(const char* address);

    int errcode = not_opened;

private:
    enum class wake { signalled, expired, peer_gone, shut, failed };

    local_win_socket() = default;
    // Waits for event `ev` up to timeout_ms (-1: no limit). Ends early when
    // the state leaves `expected` (if watch_state), or when the peer process
    // has ended or set the `closed` bit in *peer_flag (if given).
    wake wait(int ev, long long timeout_ms, bool watch_state, bool watch_peer,
              const volatile std::int32_t* peer_flag = nullptr);
    // Copies into the ring: everything (whole, waiting as long as timeout_ms,
    // -1: no limit) or what fits once some room is there (not whole).
    long put(const char* in, std::size_t size, long long timeout_ms, bool whole);
    bool peer_alive() const;
    // The steps of open_client. Each failing one releases what is held and
    // leaves its code in errcode (fail_open does that).
    enum class rendezvous { let_in, not_yet, failed };
    bool fail_open(int error);
    // Looks for a listener until one lets us in or total_ms have passed.
    bool await_listener(long long total_ms);
    // One look: opens the name and waits up to a second (and at most
    // left_ms) for the listener to let us in.
    rendezvous knock(long long left_ms);
    // The handshake on the rendezvous channel: the name and counter of the
    // private channel the listener made for us.
    bool request_channel(std::string& private_name, std::int32_t& counter);
    // Opens the private channel, tells the listener, and leaves the
    // rendezvous channel.
    bool attach_channel(const std::string& private_name, std::int32_t counter);
    void watch_peer(pid_t pid);
    void mark_closed();
    void release_channel();

    std::string address;  // the text the endpoint was made for
    std::string name;     // the base name of the channel it holds
    std::atomic<state> st{ss_close};
    bool listening = false;  // holds a listener's rendezvous channel
    bool connected = false;  // holds a connection's private channel
    void* mapping = nullptr;  // the channel's 16,384 bytes
    socket_buf* RcvBuf = nullptr;
    socket_buf* SndBuf = nullptr;
    sem_t* events[4] = {SEM_FAILED, SEM_FAILED, SEM_FAILED, SEM_FAILED};
    dev_t shm_dev = 0;  // identity of the listener's rendezvous object, so
    ino_t shm_ino = 0;  // that close() removes only names that are still its own
    pid_t peer_pid = 0;
    int peer_fd = -1;  // pidfd of the peer process, -1 when none
    bool peer_broken = false;  // the peer was found gone: writes fail at once
};
