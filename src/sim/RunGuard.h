#pragma once
// What may end a run from outside its model, looked at between two events:
// a signal (see StopRequest), a trace that can no longer be written, the
// wall-clock limit, and in a parallel run a stop asked for by another
// process. The run function owns its guard; every event loop asks it
// before each event.
#include <ctime>
#include <functional>

#include "core/DateTime.h"

// The wall-clock limit of a run: whole seconds since `start`.
struct RunTimeLimit {
    std::time_t start = 0;
    unsigned int seconds = 0;
    bool unlimited = false;

    unsigned long elapsed() const { return static_cast<unsigned long>(std::time(nullptr) - start); }
    bool within() const { return unlimited || elapsed() < seconds; }
};

class RunGuard {
public:
    // Events between two looks at the wall clock and the traces (a signal is
    // seen at the next event).
    static constexpr unsigned kEvents = 1024;

    // `clock` is the run's model time, named in the interruption line.
    RunGuard(RunTimeLimit limit, const DateTime& clock) : limit_(limit), clock_(clock) {}

    // Asked before every event: true when the run is to stop here, because
    // the wall-clock limit (of at least `minimumSeconds`) has passed or
    // another process asked for it. A signal ends the process here, and so
    // does a trace that can no longer be written; neither returns (unless
    // signals only cut replications short, see cutReplicationsOnSignal).
    bool mustStop(unsigned long minimumSeconds);
    // Between two events (every trace line whole): a pending signal ends
    // the process here, after the interruption line and with the traces
    // handed to their files. Does nothing without a signal, and where a
    // signal merely cuts a replication short.
    void endIfInterrupted() const;

    // Process 0 of a parallel run: a signal cuts the replication being
    // simulated instead of ending the process, which still writes what it
    // has analysed.
    void cutReplicationsOnSignal() { signalCutsReplication_ = true; }
    // The other processes of a parallel run: `stop` is asked at every look,
    // and true ends the replication under way.
    void stopWhen(std::function<bool()> stop) { externalStop_ = std::move(stop); }
    // Called at every look, for a progress line of a long stretch of events.
    void onLook(std::function<void()> look) { onLook_ = std::move(look); }

    const RunTimeLimit& limit() const { return limit_; }

    // Ends the process when a trace could not be written.
    static void checkTraces();

private:
    RunTimeLimit limit_;
    const DateTime& clock_;
    unsigned countdown_ = 0;
    bool signalCutsReplication_ = false;
    std::function<bool()> externalStop_;
    std::function<void()> onLook_;
};
