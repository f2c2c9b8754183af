#include "platform/net/ChannelWriter.h"

#include <algorithm>

namespace {
// Waits for room run in slices this long, so that the stall bound and the
// deadline are looked at often.
constexpr std::chrono::milliseconds kSlice{50};
// How long the last messages wait at the end for a peer that takes nothing.
constexpr std::chrono::milliseconds kFinishBound{1000};
}  // namespace

ChannelWriter::ChannelWriter(socket_t* socket, std::chrono::milliseconds stallBound, std::size_t pendingLimit)
    : socket_(socket), stallBound_(stallBound), pendingLimit_(pendingLimit) {}

bool ChannelWriter::fits(std::size_t size) const {
    // An empty buffer takes any message, however long: only a backlog is
    // bounded.
    return pendingBytes() == 0 || pendingBytes() + size <= pendingLimit_;
}

void ChannelWriter::append(std::string_view message) {
    if (sent_ > 0 && sent_ >= pending_.size() / 2) {
        // Keep the buffer from growing with what went out already.
        pending_.erase(0, sent_);
        sent_ = 0;
    }
    pending_.append(message);
    queuedBytes_ += message.size();
    ends_.push_back(queuedBytes_);
}

bool ChannelWriter::send(std::string_view message) {
    if (broken_) return false;
    if (!flush(0)) return false;
    if (pendingBytes() == 0) {
        // The common case: the peer keeps up, the message goes straight out.
        const long n = socket_->write_some(message.data(), message.size(), 0);
        if (n < 0) {
            broken_ = true;
            return false;
        }
        queuedBytes_ += message.size();
        sentBytes_ += static_cast<std::uint64_t>(n);
        if (static_cast<std::size_t>(n) == message.size()) return true;
        lastTaken_ = clock::now();  // a backlog starts: the stall clock with it
        pending_.assign(message.substr(static_cast<std::size_t>(n)));
        sent_ = 0;
        ends_.push_back(queuedBytes_);
        return true;
    }
    if (fits(message.size())) {
        append(message);
        return true;
    }
    if (!stalled_) {
        switch (waitForRoom(message.size(), true)) {
            case Wait::room: append(message); return true;
            case Wait::broken: return false;
            case Wait::deadline: ++droppedAfterDeadline_; break;
            case Wait::stalled: break;
        }
    }
    ++dropped_;
    return false;
}

bool ChannelWriter::flush(int waitMs) {
    while (pendingBytes() > 0) {
        const long n = socket_->write_some(pending_.data() + sent_, pendingBytes(), waitMs);
        if (n < 0) {
            broken_ = true;
            pending_.clear();
            sent_ = 0;
            ends_.clear();
            return false;
        }
        if (n == 0) break;
        sent_ += static_cast<std::size_t>(n);
        sentBytes_ += static_cast<std::uint64_t>(n);
        lastTaken_ = clock::now();
        waitMs = 0;  // having made progress, take only what fits now
    }
    while (!ends_.empty() && ends_.front() <= sentBytes_) ends_.pop_front();
    if (sent_ == pending_.size()) {
        pending_.clear();
        sent_ = 0;
    }
    return true;
}

ChannelWriter::Wait ChannelWriter::waitForRoom(std::size_t room, bool useDeadline) {
    // Asked once: the owner's answer is a moment, fixed for this wait.
    const auto deadline = useDeadline && deadline_ ? deadline_() : clock::time_point::max();
    for (;;) {
        const auto now = clock::now();
        // Measured from the last byte the peer took while a backlog waited,
        // not from this call: a peer that took nothing all along is stalled
        // however short this wait has been.
        const auto stalledFor = now - lastTaken_;
        if (stalledFor >= stallBound_) {
            stalled_ = true;
            return Wait::stalled;
        }
        if (now >= deadline) return Wait::deadline;
        auto slice = std::min<clock::duration>(kSlice, stallBound_ - stalledFor);
        if (deadline - now < slice) slice = deadline - now;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(slice).count();
        if (!flush(static_cast<int>(std::max<long long>(ms, 1)))) return Wait::broken;
        if (room == 0 ? pendingBytes() == 0 : fits(room)) return Wait::room;
    }
}

void ChannelWriter::finish() {
    if (broken_) return;
    if (!stalled_) {
        // The run is over: its deadline no longer matters, only whether the
        // peer still takes what is left (the end message among it). A peer
        // that reads drains the backlog at once, so a second without a byte
        // taken means it does not: the run ends at most that much late.
        const auto bound = stallBound_;
        stallBound_ = std::min(stallBound_, kFinishBound);
        if (pendingBytes() > 0) waitForRoom(0, false);
        stallBound_ = bound;
    } else {
        flush(0);
    }
    if (broken_) return;
    // What the peer did not take is lost with the connection.
    dropped_ += ends_.size();
    ends_.clear();
}
