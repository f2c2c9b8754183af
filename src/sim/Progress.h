#pragma once
// Progress lines of long runs: at most one every ten seconds per kind, so
// that a user sees the run move without a flood of lines.
#include <ctime>

namespace progress {

constexpr std::time_t kEvery = 10;  // seconds between two lines of one kind

// True when a line is due at `now` (ten seconds after `last`), and then
// makes `now` the time of the last line.
inline bool due(std::time_t& last, std::time_t now = std::time(nullptr)) {
    if (now - last < kEvery) return false;
    last = now;
    return true;
}

}  // namespace progress
