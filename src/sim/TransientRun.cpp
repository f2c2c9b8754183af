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
#include "platform/Logging.h"
#include "platform/StopRequest.h"
#include "sim/Simulation.h"

namespace {
constexpr std::time_t kProgressEvery = 10;  // seconds between progress lines
// Without --secmax (a limit of 0 s) a run still completes its first
// replication, unless that replication alone takes longer than this.
constexpr unsigned long kShortestCut = 1;
}  // namespace

DateTime Simulation::samplingPointTime(std::size_t k) const {
    // One point stands at the stop time: the state the interval ends in.
    // Otherwise the points divide the interval evenly, the last one being
    // the stop time exactly whatever the rounding of the interval.
    const std::size_t n = static_cast<std::size_t>(std::max(samplingPoints, 1));
    if (k + 1 >= n) return stopTime;
    return startTime + static_cast<double>(k) * samplingInterval;
}

void Simulation::prepareTransientRun(double alphaArg) {
    alpha = alphaArg;
    loopCount = 0;
    // A run needs at least one sampling point (the command line refuses 0).
    if (samplingPoints < 1) samplingPoints = 1;
    const std::size_t points = static_cast<std::size_t>(samplingPoints);
    samplingInterval = points > 1 ? (stopTime - startTime) / static_cast<double>(points - 1)
                                  : stopTime - startTime;
    runStartWallClock = lastProgressPrint = lastReplicationPrint = std::time(nullptr);
    guardCountdown = 0;
    unlimitedRunTime = maxRunTime == kNoRunTimeLimit;
    pointObservations.assign(points, 0);
}

void Simulation::run_transient(double& alphaArg) {
    if (parallel != nullptr) {
        run_transient_parallel(alphaArg);
        return;
    }
    prepareTransientRun(alphaArg);
    stoprequest::Polling polling;

    Binding marker(startTime);
    bool finished = false;
    while (!finished) {
        resetCurrentTime();
        rebuildNet();
        initTransitions();
        initMeasureList(loopCount == 0);
        finished = true;
        if (!simulateReplication(marker, finished)) {
            // The limit ended this replication half-way: its observations
            // would stand for only some of the points, so they are taken back.
            abandonReplication();
            finished = false;
            break;
        }
        for (MeasureObj* m : net->getMeasureList()) m->completeReplication();
        ++loopCount;
        if (analysisState != 1 && loopCount > 5) analysisState = 1;
        // The replication is complete and counted; the limit is looked at
        // between replications too.
        if (!withinRunTime()) {
            finished = false;
            break;
        }
        reportReplicationProgress();
    }
    printTransientVerdict(finished);
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

bool Simulation::simulateReplication(Binding& marker, bool& finished) {
    const std::size_t points = static_cast<std::size_t>(samplingPoints);
    std::list<Binding*> candidates;
    pointIndex = 0;
    nextSamplingTime = samplingPointTime(0);
    resetMeasures = true;
    replicationStartWallClock = std::time(nullptr);
    const bool hasMeasures = !net->getMeasureList().empty();

    while (pointIndex < points) {
        if (mustStop(kShortestCut)) return false;
        getFirstBindingsOfAllTransitions(&candidates, false);
        Binding* b = resolve_conflicts(candidates);
        if (b == nullptr) {
            // Dead marking: the remaining points still see the final state.
            while (pointIndex < points) transientSamplingStep(marker, false, finished, true);
            break;
        }
        eventTime = b->getTime();
        updateSimulationTime(eventTime);
        if (!hasMeasures) {
            // Nothing to observe: the replication still ends at the stop time.
            if (eventTime > stopTime) break;
            if (Logging::process()->isSimLogging())
                Logging::process()->getSimLog() << "FIRING: " << *b << "\n";
            executeEvent(b);
        } else if (eventTime > stopTime) {
            // The points before the stop time see the time-averaged
            // measures only; the last one, the stop time, every measure.
            while (pointIndex + 1 < points) transientSamplingStep(marker, true, finished, true);
            transientSamplingStep(marker, false, finished, true);
        } else {
            while (eventTime > nextSamplingTime) transientSamplingStep(marker, true, finished, true);
            updateAllMeasures(b, true, false);
            if (Logging::process()->isSimLogging())
                Logging::process()->getSimLog() << "FIRING: " << *b << "\n";
            executeEvent(b);
            // A point that coincides with the event sees the state after it.
            if (eventTime == nextSamplingTime) transientSamplingStep(marker, false, finished, false);
        }
    }
    return true;
}

void Simulation::transientSamplingStep(Binding& marker, bool timedOnly, bool& finished, bool update) {
    if (update) {
        Binding at(nextSamplingTime);
        marker = at;
        updateAllMeasures(&marker, true, timedOnly);
    }
    if (recording != nullptr) {
        // A replication run for another process's analysis: the values of
        // every measure at this point, in list order, are all it yields.
        for (MeasureObj* m : net->getMeasureList())
            recording->push_back(m->isImportanceFunction() || m->precisionReached() ? 0.0 : m->measure(-1.0));
        ++pointIndex;
        nextSamplingTime = samplingPointTime(pointIndex);
        return;
    }
    const bool precise = updateSamplingPoints(false);
    finished = finished && loopCount > 5 && precise;
    ++pointIndex;
    nextSamplingTime = samplingPointTime(pointIndex);
}

void Simulation::abandonReplication() {
    for (MeasureObj* m : net->getMeasureList()) m->abandonReplication();
    for (std::size_t k = 0; k < pointIndex && k < pointObservations.size(); ++k) --pointObservations[k];
}

void Simulation::reportReplicationProgress() {
    const std::time_t now = std::time(nullptr);
    if (now - lastReplicationPrint < kProgressEvery) return;
    lastReplicationPrint = now;
    std::cout << "replications completed: " << loopCount << " (" << elapsedSeconds() << " s)"
              << std::endl;
}

bool Simulation::updateSamplingPoints(bool stationaryCheck) {
    bool result = true;
    double largestError = 0.0;
    // Every replication observes every sampling point once and folds the
    // observation into the point's running mean and variance, so `a` (the
    // observations of this point folded in before) counts the earlier
    // replications that reached the point. The accuracy is only judged from
    // the seventh replication on, when the estimates rest on enough of them.
    const std::size_t point = pointIndex;
    int before = 0;
    if (simulationType == 0 && point < pointObservations.size())
        before = pointObservations[point]++;
    // Stationary runs: every batch value covers the model time since the
    // batch began; a time average weights it by that length.
    const double batchLength = eventTime - batchStart;

    if (simulationType != 0) steadyState.sample(*net);

    std::size_t position = 0;
    for (MeasureObj* m : net->getMeasureList()) {
        const std::size_t k = position++;
        if (m->isImportanceFunction() || m->precisionReached()) continue;
        m->setPercentRule(percentRule);
        m->setEpsMax(epsMax);
        if (simulationType == 0) {
            // A replication run elsewhere brings its values along.
            const double v = replayValues != nullptr ? replayValues[k] : m->measure(-1.0);
            // Accuracy is decided once per replication, at its final point (the
            // stop time), so that the decision sees every point; judging one
            // interval earlier would declare a measure accurate without its
            // final point and leave that row out of the results.
            const bool lastPoint = point + 1 >= static_cast<std::size_t>(samplingPoints);
            const bool judged = analysisState != 0;
            const bool precise = m->makeTransientAnalysis(alpha, v, before, lastPoint && judged);
            if (judged) result = result && precise;
            measureOut(m, m);
        } else {
            double v = 0.0;
            double weight = 1.0;
            if (simulationType == 1) {
                v = m->measure(-1.0);
                if (m->timeaverage()) weight = batchLength;
            } else {
                // RESTART: the batch covers the main path's model time since
                // the last batch; its value is the weighted integral of that
                // stretch (over every path split off in it) per unit of it.
                const double length = restartTime - restartTimeAtBatch;
                const double integral = restartTime > 0.0 ? m->measure(restartTime) * restartTime : 0.0;
                v = length > 0.0 ? (integral - integralAtBatch[k]) / length : 0.0;
                weight = length;
                integralAtBatch[k] = integral;
            }
            m->addBatchValue(v, weight);
            if (simulationType == 1) m->reset(eventTime);
            if (stationaryCheck && analysisState == 1 && m->batchCount() > 4) {
                const bool precise =
                    m->makeStationaryAnalysis(alpha, startTime.FullDateTime(), nextSamplingTime.FullDateTime());
                result = result && precise;
                measureOut(m, m);
                largestError = std::max(largestError, m->lastEpsilon());
            } else {
                result = false;
            }
        }
        const std::time_t now = std::time(nullptr);
        if (largestError > 0.0 && now - lastProgressPrint > 9) {
            std::cout << "remaining relative error " << largestError << std::endl;
            lastProgressPrint = now;
        }
    }
    if (simulationType == 1) batchStart = eventTime;
    return result;
}

void Simulation::initMeasureList(bool fresh) {
    for (MeasureObj* m : net->getMeasureList()) {
        if (fresh) m->prepareRun(static_cast<unsigned>(std::max(samplingPoints, 1)));
        if (!m->precisionReached()) m->prepareReplication();
    }
}
