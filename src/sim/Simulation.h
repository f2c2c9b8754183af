#pragma once
// The driver of a run. Exactly one exists at a time (Simulation::sim); places
// and transitions reach it through their net for the simulation clock, the
// single-step flag and the result channel.
//
// Every run repeats one event step (step): collect the earliest bindings of
// all transitions, resolve conflicts between simultaneous ones by priority
// and weight, advance the clock, let the measures observe the state, fire.
// A run mode adds its own work around that step through StepHooks; what
// only one mode needs (the transient schedule, the RESTART accounting, the
// run guard) belongs to the objects its run function owns, not to the
// driver.
#include <ctime>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/RunDriver.h"
#include "engine/EventSelection.h"
#include "engine/RandomWrapper.h"
#include "engine/RngStream.h"
#include "sim/RunGuard.h"
#include "sim/SimSavedState.h"
#include "sim/StepHooks.h"
#include "sim/SteadyStateWatch.h"

class NetClass;
class DefaultGM;
class socket_t;
class ChannelWriter;
class Binding;
class MeasureObj;
class MessagePassing;
class BatchValues;
class ReplicationValues;
class TransientSchedule;

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
    // The one event step of every run: chooses the next event among the
    // candidates, advances the clock to it, lets the measures see it and
    // fires it, with `hooks` around each stage (StepHooks.h).
    StepResult step(StepHooks& hooks);
    // The next event: the candidates (see getFirstBindingsOfAllTransitions)
    // and the conflict between them resolved; null when there is none.
    // Every event a run fires is chosen here.
    Binding* chooseEvent(bool all);
    void updateSimulationTime(const DateTime& t);
    void executeEvent(Binding* b);
    void updateAllMeasures(Binding* b, bool accumulate, bool timedOnly);
    void initTransitions();
    void resetCurrentTime();
    std::string printEventList(std::list<Binding*>& events);

    // One sampling step for all measures; true when every measure that took
    // part has reached its accuracy. Transient runs: the point the schedule
    // is at, with the values `recorded` in a replication simulated elsewhere
    // (null: the measures' own). Stationary and RESTART runs: the batch that
    // closes now, worth `values` to each measure; the analysis is made only
    // with `stationaryCheck`.
    bool updateSamplingPoints(TransientSchedule& schedule, const double* recorded);
    bool updateSamplingPoints(bool stationaryCheck, BatchValues& values);
    // False for a measure that a sampling step leaves out; otherwise hands
    // it the run's accuracy rule.
    bool takesPartInAnalysis(MeasureObj& m) const;
    // Prepares every measure for a run (fresh) or a replication.
    void initMeasureList(bool fresh);

    const DateTime& getCurrentSimulationTime() const override { return currentSimulationTime; }
    const std::string& getLastFiredTransition() const { return lastFiredTransition; }
    int getLoopCount() const { return loopCount; }
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
    // The wall-clock limit of the run under way, and the seconds it has run.
    RunTimeLimit runTimeLimit() const { return {runStartWallClock, maxRunTime, unlimitedRunTime}; }
    unsigned long elapsedSeconds() const { return runTimeLimit().elapsed(); }
    bool withinRunTime() const { return runTimeLimit().within(); }

    // Transient runs (TransientRun.cpp): what a run owns (TransientRun.h)
    // and the hooks of a replication's event step.
    struct TransientRun;
    class TransientStep;
    // The set-up shared by the sequential and the parallel run.
    void prepareTransientRun(double alpha);
    // Simulates one replication of the rebuilt net from the start to the
    // stop time through every sampling point of the run, its values going
    // to `values`; false when the wall-clock limit (or a stop request) cut
    // it short. `finished` stays true while every point was accurate.
    bool simulateReplication(TransientRun& run, ReplicationValues& values, bool& finished);
    // Takes back the statistics of a replication that the limit cut short.
    void abandonReplication(TransientSchedule& schedule);
    // Ends a replication that was analysed here: counts it.
    void completeReplication();
    // Prints a progress line at most every ten seconds.
    void reportReplicationProgress(TransientRun& run);
    // Prints the replication count and the verdict.
    void printTransientVerdict(bool finished);

    // Parallel transient runs (ParallelTransient.cpp): process 0's part,
    // the other processes' part, replication k simulated from its own
    // substreams into `record`, and a recorded replication folded into the
    // statistics exactly as if it had been simulated here (true when it
    // finishes the run).
    class ParallelAnalysis;
    void workParallel(const RngStream::Seed& seed, TransientRun& run);
    bool recordReplication(long k, const RngStream::Seed& seed, TransientRun& run, std::vector<double>& record);
    bool analyseReplication(TransientSchedule& schedule, const std::vector<double>& values, std::size_t offset);

    // Stationary runs (StationaryRun.cpp): the hooks of the event step.
    class StationaryStep;

    // RESTART runs (RestartRun.cpp): the hooks of the event step.
    class RestartStep;
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
    // Stationary and RESTART runs: whether the net's queues grow (the
    // verdict's review reads it).
    SteadyStateWatch steadyState;
    // RESTART runs: the snapshots, newest last, and the importance measure.
    std::vector<SimSavedState> savedStates;
    MeasureObj* importanceFunction = nullptr;
    // Chooses the candidates of every event (engine/EventSelection).
    EventSelection eventSelection;
    // The candidates of the event under way, kept from step to step.
    std::list<Binding*> candidates;
    // Parallel transient runs: the message passing (not owned).
    MessagePassing* parallel = nullptr;
    bool resultsSaved_ = true;
    bool parallelFailed_ = false;
    // The process is being ended from outside and has about a second left:
    // results.log is replaced without waiting for the disk.
    bool resultsInHaste = false;
};
