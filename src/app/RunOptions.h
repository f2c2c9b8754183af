#pragma once
// The options of one run as the command line gives them, and the checks of
// their values against each other. The checks are plain functions of the
// options: each returns the message the run is refused with, or nothing.
#include <optional>
#include <string>

#include "core/DateTime.h"

struct RunOptions {
    enum class Mode { TokenGame, Stationary, Transient, Restart, Profiling };
    Mode mode = Mode::Transient;

    std::string resport = "NULL";
    // Start and stop: a calendar stamp (--start, --stop) wins over a plain
    // model time (--mstart, --mstop). Empty when not given.
    std::optional<std::string> start;
    std::optional<std::string> stop;
    std::optional<double> mstart;
    std::optional<double> mstop;
    // Profiling: transitions to fire, and how many times.
    std::optional<long> fcount;
    std::optional<long> lcount;
    bool log = false;
    std::string logdir;  // empty: "Log"
    unsigned long seed = 0;
    double confidence = 80.0;
    double epsmax = 1.0;
    std::optional<unsigned int> secmax;
    unsigned int nofsampling = 1;
    bool percentage = true;
    bool inittrans = true;  // accepted for old command lines; no run reads it
    double thrmin = 0.0;
    double thrmax = 0.0;
    int thrnumber = 0;
    int repeats = 0;
    std::optional<double> batchtime;
    bool parallel = false;

    // Not an option: this process's place among the processes of a parallel
    // run (0 for the first one and for a run of its own). The others trace
    // into folders of their own and leave the result port to process 0.
    int parallelRank = 0;

    // Model time between the batch ends of a RESTART run when neither
    // --batchtime nor a stop time gives it.
    static constexpr double kDefaultRestartBatchTime = 100.0;

    // A stationary, transient or RESTART simulation.
    bool simulates() const;
    // The driver's code of a simulation: 0 transient, 1 stationary, 2 RESTART.
    int simulationType() const;
    // The result port of this process: "NULL" for all but process 0.
    std::string resultPort() const;
    // The folder of the traces of this process.
    std::string logFolder() const;
    // The run's times; meaningful once the checks have passed (the stop time
    // is 0 when none is given).
    DateTime startTime() const;
    DateTime stopTime() const;
    // Whether the start is a plain model time rather than a calendar stamp.
    bool modelTimeAxis() const;
    // The batch time of a RESTART run: the given one, else a hundredth of the
    // run's span, else kDefaultRestartBatchTime.
    double restartBatchTime() const;
    // The wall-clock limit the driver takes: 0 when --secmax is not given,
    // the driver's "no limit" for --secmax 0.
    unsigned int maxRunTime() const;
    // Calendar stamps in the wrong order pass the checks; a transient run
    // with them is refused only after the model is built.
    bool stopBeforeStart() const;
};

// Whether this program was built with MPI (so that --parallel can work).
extern const bool kBuiltWithMpi;

// The checks, in the order the program reports them (it prints some of the
// run's settings between them). Each returns the first failure's message.
// --parallel: transient runs only, and only with MPI.
std::optional<std::string> checkParallelOptions(const RunOptions& options);
// A seed must fit in 32 bits.
std::optional<std::string> checkSeed(const RunOptions& options);
// The result port is NULL or HOST:PORT.
std::optional<std::string> checkResultPort(const RunOptions& options);
// The options of the chosen mode: times, sampling points, accuracy, RESTART.
std::optional<std::string> checkRunOptions(const RunOptions& options);
// All of the above, in that order.
std::optional<std::string> checkOptions(const RunOptions& options);
