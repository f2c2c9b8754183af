#include "platform/net/LocalSocket.h"

#include "platform/net/ErrorText.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

// The handshake. A listener's rendezvous channel carries no stream; its
// Data areas carry three 32-bit words at a time: a tag, a process id and a
// counter.
//
//   server accept()                         client connect()
//   S->C: {server_hello, server pid}
//   signal RTR (again every 30 s) -------> wait RTT
//                                           read server pid, watch it
//                                           C->S: {client_hello, client pid}
//   wait RD  <----------------------------- signal TD
//   watch the client; create the private
//   channel /scpn.<server pid>.<counter>
//   S->C: {channel_ready, server pid, counter}
//   signal TD ---------------------------> wait RD (or server death)
//                                           open the private channel, unlink
//                                           its names, C->S: {client_attached}
//   wait RD (or client death) <----------- signal TD, close the rendezvous
//   unlink the names, return the socket     use the private channel
//
// The process ids are the liveness references: each side opens a pidfd on
// the other's. The counter and the server's pid name the private channel,
// which only that server creates; objects of a killed process that had the
// same pid are removed before the names are used again.
namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::int32_t server_hello = 0x53430001;
constexpr std::int32_t client_hello = 0x53430002;
constexpr std::int32_t channel_ready = 0x53430003;
constexpr std::int32_t channel_failed = 0x53430004;
constexpr std::int32_t client_attached = 0x53430005;
constexpr std::int32_t client_failed = 0x53430006;

// How long accept() waits for a client that was told to go ahead before it
// tells the next one.
constexpr long long handshake_retry_ms = 30000;
// Waits look at the peer's liveness this often.
constexpr long long wait_slice_ms = 50;

std::atomic<std::int32_t> private_channel_counter{0};

struct words {
    std::int32_t tag = 0;
    std::int32_t pid = 0;
    std::int32_t counter = 0;
};

void put_words(socket_buf* b, const words& w) { std::memcpy(b->Data, &w, sizeof w); }
words get_words(const socket_buf* b) {
    words w;
    std::memcpy(&w, b->Data, sizeof w);
    return w;
}

std::int32_t load(const volatile std::int32_t& v) { return __atomic_load_n(&v, __ATOMIC_SEQ_CST); }
void store(volatile std::int32_t& v, std::int32_t x) { __atomic_store_n(&v, x, __ATOMIC_SEQ_CST); }
void set_bits(volatile std::int32_t& v, std::int32_t bits) {
    __atomic_fetch_or(&v, bits, __ATOMIC_SEQ_CST);
}
void clear_bits(volatile std::int32_t& v, std::int32_t bits) {
    __atomic_fetch_and(&v, ~bits, __ATOMIC_SEQ_CST);
}

std::string shm_name(const std::string& base) { return base + ".shr"; }
std::string event_name(const std::string& base, int index) { return base + "." + std::to_string(index); }

// The name index of an endpoint's event: a listening (server) side uses
// .0 .. .3 as RD, RTR, TD, RTT; the connecting side the other way round.
int event_name_index(int ev, bool server_side) { return server_side ? ev : (ev + 2) % 4; }

std::string private_channel_name(std::int32_t pid, std::int32_t counter) {
    return "/scpn." + std::to_string(pid) + "." + std::to_string(counter);
}

void signal_event(sem_t* sem) {
    int value = 0;
    if (sem_getvalue(sem, &value) == 0 && value > 0) return;
    sem_post(sem);
}

void drain_event(sem_t* sem) {
    while (sem_trywait(sem) == 0) {
    }
}

void unlink_channel(const std::string& base) {
    shm_unlink(shm_name(base).c_str());
    for (int i = 0; i < 4; ++i) sem_unlink(event_name(base, i).c_str());
}

void close_events(sem_t* events[4]) {
    for (int i = 0; i < 4; ++i) {
        if (events[i] != SEM_FAILED) sem_close(events[i]);
        events[i] = SEM_FAILED;
    }
}

// Creates a channel with both directions empty and four events that are not
// set, replacing whatever objects of that name exist. The events are
// created before the memory and the memory is sized before a client can see
// it at full size, so a client that finds the memory finds the events too.
// false with errno set on failure (nothing is left behind then).
bool create_channel(const std::string& base, void*& mapping, sem_t* events[4], struct stat* identity) {
    unlink_channel(base);
    for (int i = 0; i < 4; ++i) {
        events[i] = sem_open(event_name(base, i).c_str(), O_CREAT | O_EXCL, 0600, 0);
        if (events[i] == SEM_FAILED) {
            const int error = errno;
            close_events(events);
            unlink_channel(base);
            errno = error;
            return false;
        }
    }
    const int fd = shm_open(shm_name(base).c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    void* memory = MAP_FAILED;
    if (fd >= 0 && ftruncate(fd, local_channel_size) == 0 && fstat(fd, identity) == 0)
        memory = mmap(nullptr, local_channel_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (memory == MAP_FAILED) {
        close_events(events);
        unlink_channel(base);
        errno = error;
        return false;
    }
    mapping = memory;
    return true;
}

// Opens an existing channel from the connecting side. A memory object that
// is not at full size yet counts as missing (ENOENT).
bool open_channel(const std::string& base, void*& mapping, sem_t* events[4]) {
    const int fd = shm_open(shm_name(base).c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return false;
    struct stat info {};
    void* memory = MAP_FAILED;
    int error = ENOENT;
    if (fstat(fd, &info) != 0) {
        error = errno;
    } else if (static_cast<std::size_t>(info.st_size) >= local_channel_size) {
        memory = mmap(nullptr, local_channel_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        error = errno;
    }
    ::close(fd);
    if (memory == MAP_FAILED) {
        errno = error;
        return false;
    }
    for (int ev = 0; ev < 4; ++ev) {
        events[ev] = sem_open(event_name(base, event_name_index(ev, false)).c_str(), 0);
        if (events[ev] == SEM_FAILED) {
            error = errno;
            close_events(events);
            munmap(memory, local_channel_size);
            errno = error;
            return false;
        }
    }
    mapping = memory;
    return true;
}

// A listener's process id, kept in its rendezvous channel (server-to-client
// Data, clear of the handshake words) for as long as it listens: a client
// that finds the names of a listener that was killed sees that nobody is
// behind them and waits for a new listener instead of failing.
constexpr std::size_t listener_pid_offset = 64;

void put_listener_pid(socket_buf* b, std::int32_t pid) {
    __atomic_store_n(reinterpret_cast<std::int32_t*>(b->Data + listener_pid_offset), pid, __ATOMIC_SEQ_CST);
}
std::int32_t listener_pid(const socket_buf* b) {
    return __atomic_load_n(reinterpret_cast<const std::int32_t*>(b->Data + listener_pid_offset),
                           __ATOMIC_SEQ_CST);
}

socket_buf* first_buffer(void* mapping) { return static_cast<socket_buf*>(mapping); }
socket_buf* second_buffer(void* mapping) { return static_cast<socket_buf*>(mapping) + 1; }

long long milliseconds_since(clock_type::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start).count();
}

// A pidfd becomes readable when its process has ended, reaped or not.
int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// Without pidfds: the process is gone, or a zombie that nobody reaped yet.
bool process_ended(pid_t pid) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return true;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) return false;
    char text[512] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = '\0';
    const char* paren = std::strrchr(text, ')');  // the name may hold blanks and ')'
    return paren != nullptr && paren[1] == ' ' && (paren[2] == 'Z' || paren[2] == 'X');
}

}  // namespace

local_win_socket::local_win_socket(const char* addr) : address(addr != nullptr ? addr : "") {}

local_win_socket::~local_win_socket() {
    if (mapping != nullptr || events[0] != SEM_FAILED || peer_fd >= 0) close();
}

std::string local_win_socket::object_name(const char* addr) {
    std::string base = "/scpn-";
    for (const char* p = addr != nullptr ? addr : ""; *p != '\0'; ++p) base += *p == '/' ? '_' : *p;
    return base;
}

bool local_win_socket::open_listener(int /*listen_queue_size*/) {
    name = object_name(address.c_str());
    struct stat identity {};
    if (!create_channel(name, mapping, events, &identity)) {
        errcode = errno;
        return false;
    }
    shm_dev = identity.st_dev;
    shm_ino = identity.st_ino;
    RcvBuf = first_buffer(mapping);
    SndBuf = second_buffer(mapping);
    put_listener_pid(SndBuf, static_cast<std::int32_t>(getpid()));
    listening = true;
    st = ss_open;
    errcode = ok;
    return true;
}

void local_win_socket::watch_peer(pid_t pid) {
    if (peer_fd >= 0) ::close(peer_fd);
    peer_pid = pid;
    peer_fd = open_pidfd(pid);
}

bool local_win_socket::peer_alive() const {
    if (peer_fd >= 0) {
        pollfd p{peer_fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    }
    return peer_pid > 0 && !process_ended(peer_pid);
}

local_win_socket::wake local_win_socket::wait(int ev, long long timeout_ms, bool watch_state, bool watch_peer,
                                              const volatile std::int32_t* peer_flag) {
    const state expected = st.load();
    const auto start = clock_type::now();
    sem_t* sem = events[ev];
    for (;;) {
        long long slice = wait_slice_ms;
        if (timeout_ms >= 0) slice = std::min(slice, std::max(0LL, timeout_ms - milliseconds_since(start)));
        timespec until{};
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_sec += slice / 1000;
        until.tv_nsec += (slice % 1000) * 1000000;
        if (until.tv_nsec >= 1000000000) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000;
        }
        if (sem_clockwait(sem, CLOCK_MONOTONIC, &until) == 0) {
            drain_event(sem);
            return wake::signalled;
        }
        if (errno != ETIMEDOUT && errno != EINTR) {
            errcode = errno;
            return wake::failed;
        }
        if (watch_state && st.load() != expected) return wake::shut;
        if (peer_flag != nullptr && (load(*peer_flag) & socket_buf::closed) != 0) return wake::peer_gone;
        if (watch_peer && !peer_alive()) return wake::peer_gone;
        if (timeout_ms >= 0 && milliseconds_since(start) >= timeout_ms) return wake::expired;
    }
}

bool local_win_socket::open_client(int max_attempts, std::time_t timeout) {
    const long long total_ms = static_cast<long long>(std::max(max_attempts, 1)) * timeout * 1000;
    name = object_name(address.c_str());
    st = ss_shutdown;
    if (!await_listener(total_ms)) return false;
    std::string private_name;
    std::int32_t counter = 0;
    return request_channel(private_name, counter) && attach_channel(private_name, counter);
}

bool local_win_socket::fail_open(int error) {
    close();
    errcode = error;
    return false;
}

bool local_win_socket::await_listener(long long total_ms) {
    // The listener may not be there yet: look for its channel, and wait for
    // an accept() to let us in, until the time is up.
    const auto start = clock_type::now();
    for (;;) {
        const rendezvous r = knock(std::max(0LL, total_ms - milliseconds_since(start)));
        if (r == rendezvous::let_in) return true;
        if (r == rendezvous::failed) return fail_open(errcode);
        const long long left = total_ms - milliseconds_since(start);
        if (left <= 0) return fail_open(timeout_expired);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, wait_slice_ms)));
    }
}

local_win_socket::rendezvous local_win_socket::knock(long long left_ms) {
    if (!open_channel(name, mapping, events)) {
        if (errno == ENOENT) return rendezvous::not_yet;
        errcode = errno;
        return rendezvous::failed;
    }
    RcvBuf = second_buffer(mapping);
    SndBuf = first_buffer(mapping);
    // Names whose listener has ended are skipped (its events may even hold
    // a stale signal); a live listener is watched while we wait, so that its
    // death sends us looking again.
    const std::int32_t owner = listener_pid(RcvBuf);
    wake w = wake::peer_gone;
    if (owner > 0) watch_peer(owner);
    if (owner <= 0 || peer_alive()) {
        // A second at a time, then the name is opened afresh: should the pid
        // have been taken by another process, a new listener under the name
        // is still found within a second.
        w = wait(RTT, std::min(left_ms, 1000LL), false, owner > 0, &RcvBuf->SndWaitFlag);
    }
    // A listener that was shut (its server-to-client writer is marked
    // closed) may be replaced by a new one under the same name: look again.
    if (w == wake::signalled && (load(RcvBuf->SndWaitFlag) & socket_buf::closed) == 0) return rendezvous::let_in;
    if (w == wake::failed) return rendezvous::failed;
    munmap(mapping, local_channel_size);
    mapping = nullptr;
    RcvBuf = SndBuf = nullptr;
    close_events(events);
    return rendezvous::not_yet;
}

bool local_win_socket::request_channel(std::string& private_name, std::int32_t& counter) {
    const words hello = get_words(RcvBuf);
    if (hello.tag != server_hello || hello.pid <= 0) return fail_open(broken_pipe);
    watch_peer(hello.pid);
    put_words(SndBuf, {client_hello, static_cast<std::int32_t>(getpid()), 0});
    signal_event(events[TD]);

    // The server makes the private channel.
    const wake w = wait(RD, -1, false, true, &RcvBuf->SndWaitFlag);
    const words ready = get_words(RcvBuf);
    if (w != wake::signalled || ready.tag != channel_ready || ready.pid != hello.pid)
        return fail_open(w == wake::failed ? errcode : static_cast<int>(broken_pipe));
    private_name = private_channel_name(ready.pid, ready.counter);
    counter = ready.counter;
    return true;
}

bool local_win_socket::attach_channel(const std::string& private_name, std::int32_t counter) {
    void* private_mapping = nullptr;
    sem_t* private_events[4] = {SEM_FAILED, SEM_FAILED, SEM_FAILED, SEM_FAILED};
    const bool attached = open_channel(private_name, private_mapping, private_events);
    const int error = errno;
    // Both sides hold the private channel now: its names can go.
    if (attached) unlink_channel(private_name);
    put_words(SndBuf, {attached ? client_attached : client_failed, static_cast<std::int32_t>(getpid()), counter});
    signal_event(events[TD]);

    // Leave the rendezvous channel for the next client.
    munmap(mapping, local_channel_size);
    close_events(events);
    if (!attached) {
        mapping = nullptr;
        return fail_open(error);
    }
    mapping = private_mapping;
    std::copy(private_events, private_events + 4, events);
    name = private_name;
    RcvBuf = second_buffer(mapping);
    SndBuf = first_buffer(mapping);
    connected = true;
    st = ss_open;
    errcode = ok;
    return true;
}

socket_t* local_win_socket::accept() {
    if (!listening || st != ss_open) {
        errcode = not_opened;
        return nullptr;
    }
    const std::int32_t self = static_cast<std::int32_t>(getpid());
    words hello;
    for (;;) {
        // Tell the next client who we are and let it in.
        put_words(SndBuf, {server_hello, self, 0});
        wake w;
        do {
            signal_event(events[RTR]);
            w = wait(RD, handshake_retry_ms, true, false);
        } while (w == wake::expired);
        if (w == wake::failed) return nullptr;
        hello = get_words(RcvBuf);
        put_words(RcvBuf, {});
        if (w == wake::shut || st != ss_open) {
            // A client that has already said hello must not wait for us.
            if (w == wake::signalled && hello.tag == client_hello) {
                put_words(SndBuf, {channel_failed, self, 0});
                signal_event(events[TD]);
            }
            errcode = not_opened;
            return nullptr;
        }
        if (hello.tag == client_hello && hello.pid > 0) break;
        // A leftover wake-up without a client behind it: announce again.
    }

    // The listener watches the client while the handshake lasts; the
    // connection takes the watch over.
    watch_peer(hello.pid);
    std::unique_ptr<local_win_socket> connection(new local_win_socket());
    connection->address = address;
    const std::int32_t counter = ++private_channel_counter;
    connection->name = private_channel_name(self, counter);
    struct stat identity {};
    if (!create_channel(connection->name, connection->mapping, connection->events, &identity)) {
        errcode = errno;
        put_words(SndBuf, {channel_failed, self, counter});
        signal_event(events[TD]);
        return nullptr;
    }
    connection->RcvBuf = first_buffer(connection->mapping);
    connection->SndBuf = second_buffer(connection->mapping);
    put_words(SndBuf, {channel_ready, self, counter});
    signal_event(events[TD]);

    const wake w = wait(RD, -1, true, true);
    // The client has opened the private channel by now, or never will.
    unlink_channel(connection->name);
    const words attached = get_words(RcvBuf);
    put_words(RcvBuf, {});
    connection->peer_pid = peer_pid;
    connection->peer_fd = peer_fd;
    peer_pid = 0;
    peer_fd = -1;
    connection->connected = true;
    connection->st = ss_open;
    if (w != wake::signalled || attached.tag != client_attached || attached.pid != hello.pid) {
        // Closing the abandoned connection marks it closed, so that a client
        // that did attach sees it end instead of waiting for us.
        if (w == wake::shut)
            errcode = not_opened;
        else if (w != wake::failed)
            errcode = broken_pipe;  // the client died or could not attach
        return nullptr;
    }
    connection->errcode = ok;
    errcode = ok;
    return connection.release();
}

void local_win_socket::mark_closed() {
    // Tell the peer that this side reads and writes no more, and wake its
    // reader and writer (this side's TD is its RD, this side's RTR its RTT).
    set_bits(RcvBuf->RcvWaitFlag, socket_buf::closed);
    set_bits(SndBuf->SndWaitFlag, socket_buf::closed);
    signal_event(events[TD]);
    signal_event(events[RTR]);
}

int local_win_socket::read(void* buf, std::size_t min_size, std::size_t max_size, std::time_t timeout) {
    if (!connected || st != ss_open) {
        errcode = not_opened;
        return -1;
    }
    if (min_size > max_size) min_size = max_size;
    const auto start = clock_type::now();
    char* out = static_cast<char*>(buf);
    std::size_t size = 0;
    bool peer_gone = false;
    socket_buf* b = RcvBuf;
    while (size < min_size) {
        if (st != ss_open) {
            errcode = not_opened;
            return -1;
        }
        set_bits(b->RcvWaitFlag, socket_buf::waiting);
        const std::int32_t beg = load(b->DataBeg);
        const std::int32_t end = load(b->DataEnd);
        const std::size_t ready = end < beg ? socket_buf::data_size - beg : end - beg;
        if (ready == 0) {
            if (peer_gone || (load(b->SndWaitFlag) & socket_buf::closed) != 0) {
                clear_bits(b->RcvWaitFlag, socket_buf::waiting);
                errcode = broken_pipe;
                return -1;
            }
            long long left = -1;
            if (timeout >= 0) left = std::max(0LL, static_cast<long long>(timeout) * 1000 - milliseconds_since(start));
            const wake w = wait(RD, left, true, true, &b->SndWaitFlag);
            clear_bits(b->RcvWaitFlag, socket_buf::waiting);
            if (w == wake::failed) return -1;
            if (w == wake::expired) {
                errcode = ok;
                return static_cast<int>(size);
            }
            // A peer that is gone may still have left data: look once more.
            if (w == wake::peer_gone) peer_gone = true;
            continue;
        }
        clear_bits(b->RcvWaitFlag, socket_buf::waiting);
        const std::size_t n = std::min(ready, max_size - size);
        std::memcpy(out + size, b->Data + beg, n);
        std::int32_t next = beg + static_cast<std::int32_t>(n);
        if (next == socket_buf::data_size) next = 0;
        store(b->DataBeg, next);
        if ((load(b->SndWaitFlag) & socket_buf::waiting) != 0) signal_event(events[RTR]);
        size += n;
    }
    errcode = ok;
    return static_cast<int>(size);
}

int local_win_socket::read(void* buf, std::size_t size) {
    return read(buf, size, size, -1) == static_cast<int>(size) ? 1 : 0;
}

int local_win_socket::write(const void* buf, std::size_t size) {
    return put(static_cast<const char*>(buf), size, -1, true) == static_cast<long>(size) ? 1 : 0;
}

long local_win_socket::write_some(const void* buf, std::size_t size, int timeout_ms) {
    return put(static_cast<const char*>(buf), size, timeout_ms < 0 ? 0 : timeout_ms, false);
}

long local_win_socket::put(const char* in, std::size_t size, long long timeout_ms, bool whole) {
    if (!connected || st != ss_open) {
        errcode = not_opened;
        return -1;
    }
    const auto start = clock_type::now();
    std::size_t done = 0;
    socket_buf* b = SndBuf;
    while (done < size) {
        if (st != ss_open) {
            errcode = not_opened;
            return -1;
        }
        // A peer found gone stays gone: later writes fail at once instead of
        // each waiting a slice to find out again.
        if (peer_broken || (load(b->RcvWaitFlag) & socket_buf::closed) != 0) {
            peer_broken = true;
            errcode = broken_pipe;
            return -1;
        }
        set_bits(b->SndWaitFlag, socket_buf::waiting);
        const std::int32_t beg = load(b->DataBeg);
        const std::int32_t end = load(b->DataEnd);
        std::size_t space = end < beg ? beg - end - 1 : socket_buf::data_size - end - (beg == 0 ? 1 : 0);
        if (space == 0) {
            long long left = -1;
            if (timeout_ms >= 0) left = std::max(0LL, timeout_ms - milliseconds_since(start));
            if (!whole && (done > 0 || left == 0)) {
                clear_bits(b->SndWaitFlag, socket_buf::waiting);
                break;
            }
            const wake w = wait(RTT, left, true, true, &b->RcvWaitFlag);
            clear_bits(b->SndWaitFlag, socket_buf::waiting);
            if (w == wake::failed) return -1;
            if (w == wake::peer_gone) peer_broken = true;
            if (w == wake::expired) break;
            continue;
        }
        clear_bits(b->SndWaitFlag, socket_buf::waiting);
        const std::size_t n = std::min(space, size - done);
        std::memcpy(b->Data + end, in + done, n);
        std::int32_t next = end + static_cast<std::int32_t>(n);
        if (next == socket_buf::data_size) next = 0;
        store(b->DataEnd, next);
        if ((load(b->RcvWaitFlag) & socket_buf::waiting) != 0) signal_event(events[TD]);
        done += n;
    }
    errcode = ok;
    return static_cast<long>(done);
}

int local_win_socket::sendto(int, int, const void*, std::size_t) {
    errcode = invalid_access_mode;
    return 0;
}

int local_win_socket::recvfrom(int&, int&, void*, std::size_t) {
    errcode = invalid_access_mode;
    return -1;
}

int local_win_socket::is_ok() { return errcode == ok; }

void local_win_socket::get_error_text(char* buf, std::size_t buf_size) {
    const char* text = nullptr;
    switch (errcode) {
        case ok: text = "ok"; break;
        case not_opened: text = "socket not opened"; break;
        case broken_pipe: text = "connection is broken"; break;
        case timeout_expired: text = "connection timeout expired"; break;
        case invalid_access_mode: text = "invalid access mode"; break;
        case message_truncated: text = "sent message was truncated"; break;
        default: break;
    }
    format_socket_error(errcode, text, buf, buf_size);
}

int local_win_socket::cancel_accept() {
    if (!listening || st != ss_open) {
        errcode = not_opened;
        return 0;
    }
    st = ss_shutdown;
    // Clients waiting to be let in give up (or look for a new listener).
    set_bits(SndBuf->SndWaitFlag, socket_buf::closed);
    signal_event(events[RD]);
    return 1;
}

int local_win_socket::shutdown() {
    if (mapping == nullptr || st != ss_open) {
        errcode = not_opened;
        return 0;
    }
    st = ss_shutdown;
    if (connected) mark_closed();
    if (listening) set_bits(SndBuf->SndWaitFlag, socket_buf::closed);
    // Wake this side's own blocked reader, writer or accept().
    signal_event(events[RD]);
    signal_event(events[RTT]);
    return 1;
}

int local_win_socket::close() {
    if (connected && st == ss_open) mark_closed();
    if (listening) {
        set_bits(SndBuf->SndWaitFlag, socket_buf::closed);
        // Remove the names only while they are still this listener's: a
        // later listener of the same address may have replaced them.
        const int fd = shm_open(shm_name(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (fd >= 0) {
            struct stat info {};
            const bool own = fstat(fd, &info) == 0 && info.st_dev == shm_dev && info.st_ino == shm_ino;
            ::close(fd);
            if (own) unlink_channel(name);
        }
    }
    if (mapping != nullptr) munmap(mapping, local_channel_size);
    mapping = nullptr;
    RcvBuf = SndBuf = nullptr;
    close_events(events);
    if (peer_fd >= 0) ::close(peer_fd);
    peer_fd = -1;
    peer_pid = 0;
    peer_broken = false;
    listening = connected = false;
    st = ss_close;
    errcode = not_opened;
    return 1;
}

std::size_t local_win_socket::available() const {
    if (RcvBuf == nullptr || !connected) return 0;
    const std::int32_t beg = load(RcvBuf->DataBeg);
    const std::int32_t end = load(RcvBuf->DataEnd);
    return end >= beg ? end - beg : socket_buf::data_size - beg + end;
}
