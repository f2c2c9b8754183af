// The transient run: independent replications of the interval from the
// start to the stop time, each observed at the same sampling points, until
// every measure is accurate at every point of one replication or the
// wall-clock limit ends the run.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "core/NetClass.h"
#include "engine/Binding.h"
#include "measures/MeasureObj.h"
#include "platform/StopRequest.h"
#include "sim/Progress.h"
#include "sim/ReplicationValues.h"
#include "sim/Simulation.h"
#include "sim/TransientRun.h"
#include "sim/TransientSchedule.h"

namespace {
// Without --secmax (a limit of 0 s) a run still completes its first
// replication, unless that replication alone takes longer than this.
constexpr unsigned long kShortestCut = 1;
}  // namespace

// A replication's event step: the sampling points that an event passes are
// observed before it (the time-averaged measures only, up to the point), a
// point that coincides with the event after it, and an event past the stop
// time is not fired: the remaining points see the state the interval ends in.
class Simulation::TransientStep final : public StepHooks {
public:
    TransientStep(Simulation& sim, TransientRun& run, ReplicationValues& values, bool& finished)
        : sim_(sim),
          schedule_(run.schedule),
          marker_(run.marker),
          values_(values),
          finished_(finished),
          hasMeasures_(!sim.net->getMeasureList().empty()) {}

    bool beforeMeasures(Binding&) override {
        if (sim_.eventTime > sim_.stopTime) {
            // The points before the stop time see the time-averaged
            // measures only; the last one, the stop time, every measure.
            // Without measures the replication still ends at the stop time.
            if (hasMeasures_) {
                while (!schedule_.atLast()) sample(true, true);
                sample(false, true);
            }
            return false;
        }
        if (hasMeasures_)
            while (sim_.eventTime > sim_.nextSamplingTime) sample(true, true);
        return true;
    }

    void afterFiring() override {
        // A point that coincides with the event sees the state after it.
        if (hasMeasures_ && sim_.eventTime == sim_.nextSamplingTime) sample(false, false);
    }

    // A dead marking: the remaining points still see the final state.
    void sampleRemainingPoints() {
        while (!schedule_.done()) sample(false, true);
    }

private:
    // A sampling step at the point the schedule is at: the measures are
    // brought up to it (unless an event at the point just updated them),
    // their values taken, and the schedule moves on.
    void sample(bool timedOnly, bool update) {
        if (update) {
            Binding at(sim_.nextSamplingTime);
            marker_ = at;
            sim_.updateAllMeasures(&marker_, true, timedOnly);
        }
        const bool precise = values_.atPoint(schedule_.index());
        finished_ = finished_ && sim_.loopCount > 5 && precise;
        schedule_.advance();
        sim_.nextSamplingTime = schedule_.at(schedule_.index());
    }

    Simulation& sim_;
    TransientSchedule& schedule_;
    Binding& marker_;
    ReplicationValues& values_;
    bool& finished_;
    const bool hasMeasures_;
};

namespace {
// A replication analysed by this process.
class AnalysedValues final : public ReplicationValues {
public:
    AnalysedValues(Simulation& sim, TransientSchedule& schedule) : sim_(sim), schedule_(schedule) {}
    bool atPoint(std::size_t) override { return sim_.updateSamplingPoints(schedule_, nullptr); }

private:
    Simulation& sim_;
    TransientSchedule& schedule_;
};
}  // namespace

void Simulation::prepareTransientRun(double alphaArg) {
    alpha = alphaArg;
    loopCount = 0;
    // A run needs at least one sampling point (the command line refuses 0).
    if (samplingPoints < 1) samplingPoints = 1;
    samplingInterval = TransientSchedule(startTime, stopTime, samplingPoints).interval();
    runStartWallClock = lastProgressPrint = std::time(nullptr);
    unlimitedRunTime = maxRunTime == kNoRunTimeLimit;
}

void Simulation::run_transient(double& alphaArg) {
    if (parallel != nullptr) {
        run_transient_parallel(alphaArg);
        return;
    }
    prepareTransientRun(alphaArg);
    stoprequest::Polling polling;
    TransientRun run(*this);
    AnalysedValues values(*this, run.schedule);

    bool finished = false;
    while (!finished) {
        resetCurrentTime();
        rebuildNet();
        initTransitions();
        initMeasureList(loopCount == 0);
        finished = true;
        if (!simulateReplication(run, values, finished)) {
            // The limit ended this replication half-way: its observations
            // would stand for only some of the points, so they are taken back.
            abandonReplication(run.schedule);
            finished = false;
            break;
        }
        completeReplication();
        // The replication is complete and counted; the limit is looked at
        // between replications too.
        if (!withinRunTime()) {
            finished = false;
            break;
        }
        reportReplicationProgress(run);
    }
    printTransientVerdict(finished);
}

void Simulation::completeReplication() {
    for (MeasureObj* m : net->getMeasureList()) m->completeReplication();
    ++loopCount;
    if (analysisState != 1 && loopCount > 5) analysisState = 1;
}

void Simulation::printTransientVerdict(bool finished) {
    std::cout << "replications completed: " << loopCount << " (" << elapsedSeconds() << " s)"
              << std::endl;
    reviewEstimates();
    if (loopCount <= 5)
        std::cout << "WARNING NO ANALYSIS DONE: THE NUMBER OF LOOPS IN TRANSIENT SIMULATION LESS THAN TEN."
                  << std::endl;
    std::cout << (finished ? "\nSIMULATION SUCCESSFUL" : "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.")
              << std::flush;
}

bool Simulation::simulateReplication(TransientRun& run, ReplicationValues& values, bool& finished) {
    run.schedule.beginReplication();
    nextSamplingTime = run.schedule.at(0);
    resetMeasures = true;
    run.replicationStart = std::time(nullptr);
    // A replication can take long (a far stop time): show that it moves.
    run.guard.onLook([this, &run] {
        const std::time_t now = std::time(nullptr);
        if (now - run.replicationStart >= progress::kEvery && progress::due(run.lastProgressLine, now))
            std::cout << "replication " << loopCount + 1 << " in progress: model time "
                      << currentSimulationTime.FullDateTime() << " of " << stopTime.FullDateTime() << " ("
                      << elapsedSeconds() << " s)" << std::endl;
    });
    TransientStep hooks(*this, run, values, finished);
    while (!run.schedule.done()) {
        if (run.guard.mustStop(kShortestCut)) return false;
        const StepResult result = step(hooks);
        if (result == StepResult::Dead) hooks.sampleRemainingPoints();
        if (result != StepResult::Fired) break;
    }
    return true;
}

void Simulation::abandonReplication(TransientSchedule& schedule) {
    for (MeasureObj* m : net->getMeasureList()) m->abandonReplication();
    schedule.abandonReplication();
}

void Simulation::reportReplicationProgress(TransientRun& run) {
    if (!progress::due(run.lastProgressLine)) return;
    std::cout << "replications completed: " << loopCount << " (" << elapsedSeconds() << " s)"
              << std::endl;
}

bool Simulation::updateSamplingPoints(TransientSchedule& schedule, const double* recorded) {
    bool result = true;
    // Every replication observes every sampling point once and folds the
    // observation into the point's running mean and variance, so `before`
    // (the observations of this point folded in before) counts the earlier
    // replications that reached the point. The accuracy is only judged from
    // the seventh replication on, when the estimates rest on enough of them.
    const std::size_t point = schedule.index();
    const int before = schedule.observe(point);
    // Accuracy is decided once per replication, at its final point (the
    // stop time), so that the decision sees every point; judging one
    // interval earlier would declare a measure accurate without its final
    // point and leave that row out of the results.
    const bool lastPoint = schedule.atLast();
    const bool judged = analysisState != 0;
    std::size_t position = 0;
    for (MeasureObj* m : net->getMeasureList()) {
        const std::size_t k = position++;
        if (!takesPartInAnalysis(*m)) continue;
        // A replication run elsewhere brings its values along.
        const double v = recorded != nullptr ? recorded[k] : m->measure(-1.0);
        const bool precise = m->makeTransientAnalysis(alpha, v, before, lastPoint && judged);
        if (judged) result = result && precise;
        measureOut(m, m);
    }
    return result;
}

bool Simulation::takesPartInAnalysis(MeasureObj& m) const {
    // The importance function only steers a RESTART run; a measure already
    // accurate keeps its final estimate.
    if (m.isImportanceFunction() || m.precisionReached()) return false;
    m.setPercentRule(percentRule);
    m.setEpsMax(epsMax);
    return true;
}

void Simulation::initMeasureList(bool fresh) {
    for (MeasureObj* m : net->getMeasureList()) {
        if (fresh) m->prepareRun(static_cast<unsigned>(std::max(samplingPoints, 1)));
        if (!m->precisionReached()) m->prepareReplication();
    }
}

bool RecordedValues::atPoint(std::size_t) {
    // A replication run for another process's analysis: the values of every
    // measure at this point, in list order, are all it yields.
    for (MeasureObj* m : net_.getMeasureList())
        record_.push_back(m->isImportanceFunction() || m->precisionReached() ? 0.0 : m->measure(-1.0));
    return true;
}
