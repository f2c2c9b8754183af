#include "platform/StopRequest.h"

#include <unistd.h>

#include <cstdlib>

namespace stoprequest {

namespace {

volatile std::sig_atomic_t pollingDepth = 0;

void onSignal(int sig) {
    if (pollingDepth > 0 && pendingSignal == 0) {
        pendingSignal = sig;
        return;
    }
    // Nobody will look at the flag (or this is the second request): end now.
    static const char kLine[] = "\nRUN INTERRUPTED: no verdict, and results.log is left as it was.\n";
    if (pendingSignal == 0) {
        const ssize_t written = ::write(STDOUT_FILENO, kLine, sizeof kLine - 1);
        (void)written;  // nothing more can be done about it here
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

void install() {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGXFSZ, SIG_IGN);
    // A front end that goes away must not end the run: a write to its
    // closed connection fails (and is reported by the socket) instead.
    std::signal(SIGPIPE, SIG_IGN);
}

const char* pendingName() {
    switch (pendingSignal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        default: return "a signal";
    }
}

void finish() {
    const int sig = pendingSignal != 0 ? pendingSignal : SIGTERM;
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(128 + sig);  // not reached: the default action ends the process
}

Polling::Polling() { pollingDepth = pollingDepth + 1; }
Polling::~Polling() { pollingDepth = pollingDepth - 1; }

}  // namespace stoprequest
