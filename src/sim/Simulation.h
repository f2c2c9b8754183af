#pragma once
// The driver of a run. Exactly one exists at a time (Simulation::sim); places
// and transitions reach it through their net for the simulation clock, the
// single-step flag and the result channel.
//
// Every run repeats one event step: collect the earliest bindings of all
// transitions, resolve conflicts between simultaneous ones by priority and
// weight, advance the clock, let the measures observe the state, fire.
#include <ctime>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/RunDriver.h"
#include "engine/RandomWrapper.h"
#include "engine/RngStream.h"
#include "sim/SimSavedState.h"
#include "sim/SteadyStateWatch.h"

class NetClass;
class DefaultGM;
class socket_t;
class ChannelWriter;
class Binding;
class MeasureObj;
class MessagePassing;

class Simulation : public RunDriver {
public:
    Simulation(NetClass* net, const std::string& netName, const std::string& resultPort,
               const DateTime& startTime, const DateTime& stopTime, int samplingPoints,
               int simulationType, bool modelTimeAxis, bool percentRule, double epsMax,
               double samplingInterval, unsigned int maxRunTime);
    virtual ~Simulation();
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    // Connects the result channel, introduces the driver to the net and
    // starts every transition up.
    virtual void init();
    // True in the token game, where the user fires step by step.
    bool isSingleStep() const override;
    // Picks the event to execute among simultaneous candidates; null when
    // there is none (a dead marking).
    virtual Binding* resolve_conflicts(std::list<Binding*>& candidates);
    // Replications at fixed sampling points until every measure is accurate
    // or the wall-clock limit ends the run.
    virtual void run_transient(double& alpha);
    // The transient run shared by the processes of a parallel run (see
    // setParallel): process 0 analyses the replications in order, every
    // process (process 0 too, between analyses) simulates them.
    void run_transient_parallel(double& alpha);
    // Makes the transient run a parallel one over `mp` (not owned). Every
    // replication k then draws from its own substream k of every stream, so
    // a run's results do not depend on how many processes share it.
    void setParallel(MessagePassing* mp) { parallel = mp; }
    // Batches over one long trajectory until every measure is accurate, the
    // model time passes the stop time or the wall-clock limit ends the run.
    virtual void run_stationary(double& alpha);
    // Importance splitting on the model's "ImportanceFunction" measure: one
    // trajectory, split into repeats paths at every up-crossing of a
    // threshold, analysed in batches of the main path's model time until
    // every measure is accurate, the stop time or the wall-clock limit.
    virtual void run_restart(double& alpha, int repeats, double thrmin, double thrmax, int thrnumber);
    // The splitting loop of run_restart; true when every measure is accurate.
    bool run_restart_iterative(int repeats, double thrmin, double thrmax, int thrnumber);
    // The splitting level of an importance value: 0 below thrmin, then one
    // level per slice of (thrmax - thrmin) / (thrnumber + 1), and
    // thrnumber + 2 from thrmax on.
    static int level(double thrmin, double thrmax, double value, int thrnumber);
    // Pushes a snapshot of the net at the current time, at `level`.
    void save_simulation_state(int level);
    // Restores the newest snapshot (the clock is set by the next event).
    void load_last_simulation_state();
    void delete_last_simulation_state();
    // Writes "results.log" and the same lines to standard output. The file
    // is written whole or not at all (see resultsSaved).
    virtual void shutdown();
    // False when shutdown could not write "results.log"; the reason has been
    // reported on the error stream and the program ends with status 1.
    bool resultsSaved() const { return resultsSaved_; }
    // A parallel run lost a process or its messages; the reason has been
    // printed and the program ends with status 1.
    bool parallelRunFailed() const { return parallelFailed_; }
    virtual void initMeasureSocket();

    // Fills `out` with the candidate events: every earliest binding with the
    // highest priority among them (all = false), or the first binding of every
    // transition (all = true).
    void getFirstBindingsOfAllTransitions(std::list<Binding*>* out, bool all);
    void updateSimulationTime(const DateTime& t);
    void executeEvent(Binding* b);
    void updateAllMeasures(Binding* b, bool accumulate, bool timedOnly);
    void initTransitions();
    void resetCurrentTime();
    std::string printEventList(std::list<Binding*>& events);

    // One sampling step for all measures; true when every measure that took
    // part has reached its accuracy.
    bool updateSamplingPoints(bool stationaryCheck);
    // Prepares every measure for a run (fresh) or a replication.
    void initMeasureList(bool fresh);

    const DateTime& getCurrentSimulationTime() const override { return currentSimulationTime; }
    const std::string& getLastFiredTransition() const { return lastFiredTransition; }
    int getLoopCount() const { return loopCount; }
    int getAnalysisState() const { return analysisState; }
    bool isInitialised() const { return initialised; }

    // Result channel: the estimate of a measure, the value of a watched place
    // or transition, and the display value of a transition.
    void measureOut(DefaultGM* element, MeasureObj* measure);
    void measureOut(DefaultGM* element, double value) override;
    void displayOut(DefaultGM* element, double value) override;
    bool hasMeasureSocket() const { return measureSocket != nullptr; }
    socket_t* getMeasureSocket() { return measureSocket; }

    static Simulation* sim;

    // The wall-clock limit that stands for none (what a requested limit of 0 becomes).
    static constexpr unsigned int kNoRunTimeLimit = 0xFFFFFFFFu;

    // Longest run of one transition's bindings listed in an event-list trace.
    static constexpr int MAXCOUNT = 10;

    // The most sampling points a transient run may have. Each point costs
    // every measure a few hundred bytes of statistics and result rows, so
    // this bound keeps the eight measures of a run within a few hundred MB.
    static constexpr unsigned int kMaxSamplingPoints = 100000;

    // Events in a batch of a stationary run.
    static constexpr int kStationaryBatchEvents = 100;

    // Events between two looks at the wall clock and the traces inside a
    // run's event loop (a signal is seen at the next event).
    static constexpr unsigned kGuardEvents = 1024;

protected:
    // Sends one message on the result channel, or traces it when there is none.
    void sendResult(const std::string& message, bool blankLineInTrace);
    // Sends one message on the result channel when there is one.
    void sendOnChannel(const std::string& message);
    // One line on standard output when messages were dropped for a front end
    // that did not take them.
    void reportDroppedMessages() const;
    // Builds the net afresh for a run or replication and frees the build it
    // replaces.
    void rebuildNet();
    // Wall-clock seconds since the run started.
    unsigned long elapsedSeconds() const;
    bool withinRunTime() const;
    // Asked before every event of a run: true when the wall-clock limit
    // (of at least `minimumSeconds`) has passed, looked at every
    // kGuardEvents events. A signal ends the run here (see StopRequest), and
    // so does a trace that can no longer be written; neither returns.
    bool mustStop(unsigned long minimumSeconds);
    // Between two events of a run (every trace line whole): a pending
    // signal ends the process here, after the interruption line and with the
    // traces handed to their files. Does nothing without a signal, and in a
    // replication that a signal merely cuts short (parallel runs).
    void endIfInterrupted();
    // The time of transient sampling point k: start + k * interval, the last
    // one the stop time itself (computed, not summed, so that no rounding
    // can lose it).
    DateTime samplingPointTime(std::size_t k) const;
    // Transient runs: the set-up shared by the sequential and the parallel run.
    void prepareTransientRun(double alpha);
    // Simulates one replication of the rebuilt net from the start to the stop
    // time, through every sampling step; false when the wall-clock limit (or
    // a stop request) cut it short.
    bool simulateReplication(Binding& marker, bool& finished);
    // Prints the replication count and the verdict.
    void printTransientVerdict(bool finished);
    // Parallel transient runs: replication k from its own substreams, its
    // measure values per sampling point (points x measures) into `values`;
    // false when it was cut short.
    bool recordReplication(long k, Binding& marker, std::vector<double>& values);
    // Parallel transient runs: folds one recorded replication into the
    // statistics, exactly as if it had been simulated here; true when it
    // finishes the run.
    bool analyseReplication(const std::vector<double>& values, std::size_t offset);
    // Process 0 and the other processes of a parallel transient run.
    bool analyseParallel(Binding& marker);
    void workParallel(Binding& marker);
    // A sampling step of a transient replication at nextSamplingTime.
    void transientSamplingStep(Binding& marker, bool timedOnly, bool& finished, bool update);
    // Takes back the statistics of a replication that the limit cut short.
    void abandonReplication();
    // Prints a progress line at most every ten seconds.
    void reportReplicationProgress();
    // Ends the process when a trace could not be written.
    void checkTraces() const;
    // RESTART: the splitting after an event that moved the importance from
    // level `current` to `next` (restores, drops and saves snapshots, sets
    // fireWeight); `current` becomes the level the run goes on at.
    void crossLevels(int& current, int next, int repeats);
    // RESTART: true when no snapshot has retrials left to run, so that the
    // path being simulated is the main one and everything split off so far
    // has been simulated.
    bool onMainPath() const;
    // RESTART: the importance value now.
    double importance() const;
    // RESTART: a sampling step; true when every measure is accurate.
    bool restartSamplingStep();
    // RESTART: moves the next sampling point to the first one after the clock.
    void advanceRestartPoint();
    // Before the verdict: for every measure a line on what its estimate
    // rests on, a warning line for every measure that counts as accurate
    // only by the per-cent rule and (stationary and RESTART runs) for every
    // measure that shows no steady state; true when there is one of the
    // latter, whose verdict is then "NO STEADY STATE FOUND".
    bool reviewEstimates();
    // The length of the batches of an estimate, as the warnings say it.
    std::string batchLengthText(const BatchMeans::Estimate& e) const;
    // The names of the measures a run estimates, comma-separated.
    std::string estimatedNames() const;

    int samplingPoints;
    int loopCount;
    int analysisState;
    std::time_t runStartWallClock;
    std::time_t lastProgressPrint;
    double alpha;
    bool modelTimeAxis;
    bool percentRule;
    bool noStopTime;
    bool resetMeasures;
    bool unlimitedRunTime;
    unsigned int maxRunTime;
    int simulationType;
    double restartTime;
    double epsMax;
    double samplingInterval;
    NetClass* net;
    std::string netName;
    std::string resultPort;
    DateTime currentSimulationTime;
    DateTime nextSamplingTime;
    DateTime eventTime;
    const DateTime& startTime;
    DateTime stopTime;
    std::string lastFiredTransition;
    bool initialised;
    socket_t* measureSocket = nullptr;
    // Writes to measureSocket; a front end that stops reading never holds
    // the run (ChannelWriter.h).
    std::unique_ptr<ChannelWriter> channelWriter;
    RandomWrapper random;
    double fireWeight;
    std::time_t lastReplicationPrint = 0;
    std::time_t replicationStartWallClock = 0;
    // Transient runs: the sampling point a replication is at, and how many
    // replications have observed each point so far.
    std::size_t pointIndex = 0;
    std::vector<int> pointObservations;
    // Stationary runs: the model time at which the current batch began.
    DateTime batchStart;
    // Stationary and RESTART runs: whether the net's queues grow.
    SteadyStateWatch steadyState;
    // RESTART runs: the snapshots, newest last, and the importance measure.
    std::vector<SimSavedState> savedStates;
    MeasureObj* importanceFunction = nullptr;
    // RESTART runs: the main path's model time and every measure's weighted
    // integral (in measure-list order) at the end of the last batch.
    double restartTimeAtBatch = 0.0;
    std::vector<double> integralAtBatch;
    long restartBatches = 0;
    unsigned guardCountdown = 0;
    std::vector<Binding*> candidateScratch;
    // Parallel transient runs: the message passing, the package seed that
    // every replication's substreams start from, the values a replication
    // records instead of analysing them (non-null while one is recorded), the
    // values a recorded replication brings to the analysis, and a stop that
    // another process asked for, looked at as often as the wall clock.
    MessagePassing* parallel = nullptr;
    RngStream::Seed replicationSeed{};
    std::vector<double>* recording = nullptr;
    const double* replayValues = nullptr;
    std::function<bool()> externalStop;
    // A signal cuts the replication instead of ending the process at once:
    // process 0 of a parallel run still writes what it has analysed.
    bool signalCutsReplication = false;
    bool resultsSaved_ = true;
    bool parallelFailed_ = false;
    // The process is being ended from outside and has about a second left:
    // results.log is replaced without waiting for the disk.
    bool resultsInHaste = false;
};
