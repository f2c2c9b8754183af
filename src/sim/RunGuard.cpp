#include "sim/RunGuard.h"

#include <iostream>

#include "platform/FatalError.h"
#include "platform/Logging.h"
#include "platform/StopRequest.h"

void RunGuard::endIfInterrupted() const {
    if (!stoprequest::pending() || signalCutsReplication_) return;
    // The event loop is between two events: every trace line is whole.
    std::cout << "\nRUN INTERRUPTED by " << stoprequest::pendingName() << " at model time "
              << clock_.FullDateTime() << ": no verdict, and results.log is left as it was." << std::endl;
    Logging::process()->flush();
    stoprequest::finish();
}

bool RunGuard::mustStop(unsigned long minimumSeconds) {
    if (stoprequest::pending()) {
        if (signalCutsReplication_) return true;
        endIfInterrupted();
    }
    // The clock and the traces cost a system call: looked at every kEvents events.
    if (countdown_ > 0) {
        --countdown_;
        return false;
    }
    countdown_ = kEvents - 1;
    checkTraces();
    if (externalStop_ && externalStop_()) return true;
    if (onLook_) onLook_();
    if (limit_.unlimited) return false;
    const unsigned long elapsed = limit_.elapsed();
    return elapsed >= limit_.seconds && elapsed >= minimumSeconds;
}

void RunGuard::checkTraces() {
    const std::string failed = Logging::process()->failedTrace();
    if (failed.empty()) return;
    fatalError("the trace " + failed +
               " could not be written (the disk may be full, or a file-size limit reached); "
               "the run ends without results.");
}
