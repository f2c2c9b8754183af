#pragma once
// The writing end of a one-way text stream to a front end (the result
// channel), which must never hold the run that feeds it.
//
// A front end that reads is written to as before: every message goes out
// whole and in order, and a writer whose peer is slower waits for it. A
// front end that stops taking bytes (stopped, hung, or never reading at all)
// must not stop the run, so waits are bounded twice:
//   - by the stall bound: once the peer has taken nothing for that long while
//     messages waited in the backlog, the channel counts as stalled and never waits
//     again; from then on a message that does not fit the pending buffer is
//     dropped and counted, and what fits still goes out as the peer drains;
//   - by a deadline the owner gives (its wall-clock limit): no wait goes past
//     it; a message that finds no room after it is dropped and counted.
// Messages are kept whole: one is either queued entirely or dropped entirely,
// so a peer that starts reading again never sees half a line.
//
// A channel whose peer is gone drops every message (the run goes on, as
// before); that is not counted as a stall.
#include "platform/net/Socket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

class ChannelWriter {
public:
    using clock = std::chrono::steady_clock;
    // The latest moment a wait may last to; time_point::max() for none.
    using Deadline = std::function<clock::time_point()>;

    static constexpr std::chrono::milliseconds kStallBound{5000};
    static constexpr std::size_t kPendingLimit = 1 << 20;

    // Writes to `socket` (not owned), which must outlive the writer.
    explicit ChannelWriter(socket_t* socket, std::chrono::milliseconds stallBound = kStallBound,
                           std::size_t pendingLimit = kPendingLimit);

    // Asked only when a message has to wait for room.
    void setDeadline(Deadline deadline) { deadline_ = std::move(deadline); }

    // Queues one message whole, or drops it (false) as described above.
    bool send(std::string_view message);
    // Hands the pending bytes over before the socket closes: waits while the
    // peer keeps taking them, until a second (or the stall bound, if
    // shorter) passes without progress, so not at all for a peer that has
    // taken nothing for that long. The deadline no longer applies: the run
    // is over, and a reading front end should still get its last messages.
    void finish();

    bool stalled() const { return stalled_; }
    bool broken() const { return broken_; }
    // Messages dropped because the peer did not take them (not counting
    // those lost to a broken channel).
    std::uint64_t dropped() const { return dropped_; }
    // Dropped messages that met a full buffer after the deadline while the
    // peer still read (slowly); the rest met a stalled peer.
    std::uint64_t droppedAfterDeadline() const { return droppedAfterDeadline_; }
    std::size_t pendingBytes() const { return pending_.size() - sent_; }

private:
    enum class Wait { room, stalled, deadline, broken };

    // Writes pending bytes without waiting longer than `waitMs` for room;
    // false when the channel broke.
    bool flush(int waitMs);
    // Waits (in slices) until `room` bytes fit the pending buffer (room 0:
    // until it is empty), or the stall bound or the deadline comes first, or
    // the channel breaks.
    Wait waitForRoom(std::size_t room, bool useDeadline);
    bool fits(std::size_t size) const;
    void append(std::string_view message);

    socket_t* socket_;
    std::chrono::milliseconds stallBound_;
    std::size_t pendingLimit_;
    Deadline deadline_;
    std::string pending_;   // bytes not yet taken by the socket, from sent_ on
    std::size_t sent_ = 0;  // how much of pending_ went out already
    // Where each queued message ends, counted in bytes since the start, so
    // that the messages lost at the end can be counted.
    std::deque<std::uint64_t> ends_;
    std::uint64_t queuedBytes_ = 0;
    std::uint64_t sentBytes_ = 0;
    clock::time_point lastTaken_ = clock::now();  // the peer's last progress on a backlog
    bool stalled_ = false;
    bool broken_ = false;
    std::uint64_t dropped_ = 0;
    std::uint64_t droppedAfterDeadline_ = 0;
};
