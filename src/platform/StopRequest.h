#pragma once
// Ending a run on SIGINT or SIGTERM without leaving half a line in the
// traces. While a run loop polls (see Polling), the signal only raises a
// flag; the loop sees it at the next event, says that the run was
// interrupted, hands the traces to the files and then ends the process by the
// same signal, so the caller sees the usual "killed by SIGINT" status. Outside
// a polling loop (start-up, writing the results) the signal ends the process
// at once, as it would without these handlers; so does a second signal.
//
// A file-size limit (SIGXFSZ) is ignored, so that writing past it fails like
// a full disk and is reported, instead of killing the process silently; so is
// SIGPIPE, so that a front end that closes its result port does not end the
// run.
#include <csignal>

namespace stoprequest {

// Installs the handlers; called once at start-up.
void install();

// A signal asked the run to end.
inline volatile std::sig_atomic_t pendingSignal = 0;
inline bool pending() { return pendingSignal != 0; }

// The name of the pending signal ("SIGINT", "SIGTERM").
const char* pendingName();

// Ends the process by the pending signal (default action restored).
[[noreturn]] void finish();

// Marks the time a run loop polls pending(); only then is a signal deferred.
class Polling {
public:
    Polling();
    ~Polling();
    Polling(const Polling&) = delete;
    Polling& operator=(const Polling&) = delete;
};

}  // namespace stoprequest
