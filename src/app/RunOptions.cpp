#include "app/RunOptions.h"

#include <cmath>
#include <limits>

#include "platform/net/TcpSocket.h"
#include "sim/Simulation.h"

#ifdef SCPN_HAVE_MPI
const bool kBuiltWithMpi = true;
#else
const bool kBuiltWithMpi = false;
#endif

namespace {

using Failure = std::optional<std::string>;
using Mode = RunOptions::Mode;

// A seed larger than 32 bits cannot be split into the package seed without
// losing bits, so it is refused rather than silently truncated.
constexpr unsigned long kMaxSeed = 0xFFFFFFFFUL;

// DateTime::MAX stands for "no event at all": a run from there could fire
// nothing and would report an empty success.
const char* const kPastNoEvent =
    " must lie before 00:00:00@12/31/9999 (315538070400 s), the time that stands for no event.";

Failure checkProfilingOptions(const RunOptions& o) {
    if (!o.fcount) return "Missing argument firecount.";
    if (!o.lcount) return "Missing argument loopcount.";
    return std::nullopt;
}

Failure checkStartTime(const RunOptions& o) {
    if (o.start) {
        if (!DateTime::Check(*o.start)) return "Format of start time invalid.";
    } else if (o.mstart) {
        if (*o.mstart < 0.0) return "Start time < 0.0";
    } else {
        return "Missing argument starttime.";
    }
    if (!(o.startTime() < DateTime::MAX)) return std::string("Start time") + kPastNoEvent;
    return std::nullopt;
}

Failure checkStopTime(const RunOptions& o) {
    if (o.stop) {
        if (!DateTime::Check(*o.stop)) return "Format of stoptime invalid.";
    } else if (o.mstop) {
        // A stationary run may be empty; a transient run must span time.
        // RESTART runs do not compare plain times.
        const DateTime start = o.startTime();
        const DateTime stop = o.stopTime();
        if ((o.mode == Mode::Stationary && stop < start) || (o.mode == Mode::Transient && stop <= start))
            return "Stop time < Start time.";
    } else {
        return "Missing argument stop.";
    }
    if (!(o.stopTime() < DateTime::MAX)) return std::string("Stop time") + kPastNoEvent;
    return std::nullopt;
}

// A transient run observes at least one sampling point (the stop time), and
// at most as many as the memory of the statistics allows.
Failure checkSamplingPoints(const RunOptions& o) {
    if (o.mode != Mode::Transient) return std::nullopt;
    if (o.nofsampling == 0) return "Number of sampling points must be at least 1.";
    if (o.nofsampling > Simulation::kMaxSamplingPoints)
        return "Number of sampling points must be at most " + std::to_string(Simulation::kMaxSamplingPoints) + ".";
    return std::nullopt;
}

Failure checkAccuracyOptions(const RunOptions& o) {
    // The quantile table covers two-sided levels 0.9 to 0.999, that is a
    // confidence of 80 to 99.8; outside it every half-width would be 0 and
    // every run "accurate".
    if (!(o.confidence >= 80.0 && o.confidence <= 99.8)) return "Confidence must be from 80.0 to 99.8.";
    if (o.epsmax < 0.0) return "Max. relative fault must not be negative.";
    return std::nullopt;
}

Failure checkRestartLevels(const RunOptions& o) {
    // Every up-crossing divides the weight of a path by repeats: 0 or less
    // would make the weights meaningless.
    if (o.repeats < 1) return "Number of RESTART repeats must be at least 1.";
    // The levels are slices of (thrmax - thrmin) / (thrnumber + 1).
    if (o.thrnumber < 0) return "Thresholds number must not be negative.";
    // The top level is thrnumber + 2, which must be an int; and a path may
    // hold one split per level, so repeats^(thrnumber + 2) must not make its
    // weight too small for a double.
    if (o.thrnumber > std::numeric_limits<int>::max() - 2)
        return "Thresholds number must be at most " + std::to_string(std::numeric_limits<int>::max() - 2) + ".";
    if ((static_cast<double>(o.thrnumber) + 2.0) * std::log10(static_cast<double>(o.repeats)) > 300.0)
        return "Thresholds number and repeats give path weights below 1e-300: repeats^(thrnumber + 2) must stay "
               "below 1e300.";
    if (!(o.thrmax > o.thrmin) || !std::isfinite(o.thrmax - o.thrmin))
        return "Thresholds max value must be greater than thresholds min value.";
    return std::nullopt;
}

Failure checkRestartBatchTime(const RunOptions& o) {
    if (o.batchtime && !(*o.batchtime > 0.0 && std::isfinite(*o.batchtime)))
        return "RESTART batch time must be a positive number.";
    // The sampling points are start + k * batch: a batch time that added to
    // the start or stop time leaves it unchanged would never move a point
    // on, and one that makes k exceed 2^53 before the stop time (or, without
    // one, before the time of no event) no longer tells the points apart.
    const DateTime start = o.startTime();
    const DateTime stop = o.stopTime();
    const double batch = o.restartBatchTime();
    const bool hasStop = !(stop == DateTime(0.0));
    const double span = (hasStop ? stop : DateTime::MAX) - start;
    if (!(start + batch > start) || (hasStop && !(stop + batch > stop)) || !(span / batch <= 9007199254740992.0))
        return "RESTART batch time is too small to advance the clock between the start and the stop time.";
    return std::nullopt;
}

Failure checkSimulationOptions(const RunOptions& o) {
    if (Failure f = checkStopTime(o)) return f;
    if (Failure f = checkSamplingPoints(o)) return f;
    if (Failure f = checkAccuracyOptions(o)) return f;
    if (o.mode == Mode::Restart) {
        if (Failure f = checkRestartLevels(o)) return f;
        return checkRestartBatchTime(o);
    }
    if (o.batchtime) return "--batchtime applies to RESTART simulations (-R) only.";
    return std::nullopt;
}

}  // namespace

bool RunOptions::simulates() const {
    return mode == Mode::Stationary || mode == Mode::Transient || mode == Mode::Restart;
}

int RunOptions::simulationType() const {
    return mode == Mode::Stationary ? 1 : (mode == Mode::Transient ? 0 : 2);
}

std::string RunOptions::resultPort() const { return parallelRank > 0 ? std::string("NULL") : resport; }

std::string RunOptions::logFolder() const {
    std::string folder = logdir.empty() ? "Log" : logdir;
    if (parallelRank > 0) folder += "/rank" + std::to_string(parallelRank);
    return folder;
}

DateTime RunOptions::startTime() const {
    if (start) return DateTime(*start);
    if (mstart) return DateTime(*mstart);
    return DateTime();
}

DateTime RunOptions::stopTime() const {
    if (stop) return DateTime(*stop);
    if (mstop) return DateTime(*mstop);
    return DateTime();
}

bool RunOptions::modelTimeAxis() const { return !start && mstart; }

double RunOptions::restartBatchTime() const {
    // A RESTART run closes a batch at every sampling point, so the points
    // must be apart: a hundred between start and stop when a stop time is
    // given, else every 100 units of model time, unless the user says.
    if (batchtime) return *batchtime;
    const DateTime from = startTime();
    const DateTime to = stopTime();
    const double span = to - from;
    return to == DateTime(0.0) || !(span > 0.0) ? kDefaultRestartBatchTime : span / 100.0;
}

unsigned int RunOptions::maxRunTime() const {
    if (!secmax) return 0;
    return *secmax == 0 ? Simulation::kNoRunTimeLimit : *secmax;
}

bool RunOptions::stopBeforeStart() const {
    return mode == Mode::Transient && !(stopTime().FullDateTime() - startTime().FullDateTime() > 0.0);
}

std::optional<std::string> checkParallelOptions(const RunOptions& o) {
    if (!o.parallel) return std::nullopt;
    if (o.mode != Mode::Transient)
        return "--parallel applies to transient simulations (-T) only; stationary, RESTART, token game and "
               "profiling runs are not shared among processes.";
    if (!kBuiltWithMpi)
        return "This scpnsim was built without MPI, so --parallel is not available (install Open MPI and build "
               "again).";
    return std::nullopt;
}

std::optional<std::string> checkSeed(const RunOptions& o) {
    if (o.seed > kMaxSeed) return "Seed must be an integer from 0 to 4294967295.";
    return std::nullopt;
}

std::optional<std::string> checkResultPort(const RunOptions& o) {
    // A malformed address would have the run wait for a front end that can
    // never connect: refuse it before anything starts.
    const std::string port = o.resultPort();
    if (port == "NULL") return std::nullopt;
    std::string host;
    int number = 0;
    if (!win_socket::parse_address(port.c_str(), host, number) || host.empty() || number < 1)
        return "Result port \"" + port +
               "\" is malformed: give HOST:PORT with a port from 1 to 65535, or NULL for no result port.";
    return std::nullopt;
}

std::optional<std::string> checkRunOptions(const RunOptions& o) {
    if (o.mode == Mode::Profiling) return checkProfilingOptions(o);
    if (Failure f = checkStartTime(o)) return f;
    if (!o.simulates()) return std::nullopt;  // the token game needs a start time only
    return checkSimulationOptions(o);
}

std::optional<std::string> checkOptions(const RunOptions& o) {
    for (auto check : {checkParallelOptions, checkSeed, checkResultPort, checkRunOptions})
        if (Failure f = check(o)) return f;
    return std::nullopt;
}
