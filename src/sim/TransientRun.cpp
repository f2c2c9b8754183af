// The transient run: independent replications of the interval from the
// start to the stop time, each observed at the same sampling points, until
// every measure is accurate at every point of one replication or the
// wall-clock limit ends the run.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "app/MainClass.h"
#include "core/NetClass.h"
#include "engine/Binding.h"
#include "measures/MeasureObj.h"
#include "sim/Simulation.h"

namespace {
constexpr std::time_t kProgressEvery = 10;  // seconds between progress lines
}  // namespace

void Simulation::run_transient(double& alphaArg) {
    alpha = alphaArg;
    loopCount = 0;
    // A run needs at least one sampling point (the command line refuses 0).
    if (samplingPoints < 1) samplingPoints = 1;
    samplingInterval = (stopTime - startTime) / static_cast<double>(samplingPoints - 1);
    if (samplingInterval <= 0.0) samplingInterval = stopTime - startTime;
    runStartWallClock = lastProgressPrint = lastReplicationPrint = std::time(nullptr);
    unlimitedRunTime = maxRunTime == kNoRunTimeLimit;
    pointObservations.assign(static_cast<std::size_t>(samplingPoints), 0);

    Binding marker(startTime);
    std::list<Binding*> candidates;
    bool finished = false;
    while (!finished) {
        resetCurrentTime();
        rebuildNet();
        initTransitions();
        initMeasureList(loopCount == 0);
        nextSamplingTime = startTime;
        resetMeasures = true;
        finished = true;
        pointIndex = 0;
        const bool hasMeasures = !net->getMeasureList().empty();

        for (;;) {
            getFirstBindingsOfAllTransitions(&candidates, false);
            Binding* b = resolve_conflicts(candidates);
            if (b == nullptr) {
                // Dead marking: the remaining points still see the final state.
                while (nextSamplingTime <= stopTime) transientSamplingStep(marker, false, finished, true);
                break;
            }
            eventTime = b->getTime();
            updateSimulationTime(eventTime);
            if (!hasMeasures) {
                // Nothing to observe: the replication still ends at the stop time.
                if (eventTime > stopTime) break;
                if (MainClass::getLog()->isSimLogging())
                    MainClass::getLog()->getSimLog() << "FIRING: " << *b << "\n";
                executeEvent(b);
            } else if (eventTime > stopTime) {
                while (nextSamplingTime < stopTime) transientSamplingStep(marker, true, finished, true);
                if (nextSamplingTime == stopTime) transientSamplingStep(marker, false, finished, true);
                break;
            } else {
                while (eventTime > nextSamplingTime) transientSamplingStep(marker, true, finished, true);
                updateAllMeasures(b, true, false);
                if (MainClass::getLog()->isSimLogging())
                    MainClass::getLog()->getSimLog() << "FIRING: " << *b << "\n";
                executeEvent(b);
                // A point that coincides with the event sees the state after it.
                if (eventTime == nextSamplingTime) transientSamplingStep(marker, false, finished, false);
            }
            if (nextSamplingTime == stopTime + samplingInterval) break;
        }

        if (!withinRunTime()) {
            finished = false;
            break;
        }
        ++loopCount;
        if (analysisState != 1 && loopCount > 5) analysisState = 1;
        reportReplicationProgress();
    }

    std::cout << "replications completed: " << loopCount << " (" << elapsedSeconds() << " s)"
              << std::endl;
    if (loopCount <= 5)
        std::cout << "WARNING NO ANALYSIS DONE: THE NUMBER OF LOOPS IN TRANSIENT SIMULATION LESS THAN TEN."
                  << std::endl;
    std::cout << (finished ? "\nSIMULATION SUCCESSFUL" : "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.")
              << std::flush;
}

void Simulation::transientSamplingStep(Binding& marker, bool timedOnly, bool& finished, bool update) {
    if (update) {
        Binding at(nextSamplingTime);
        marker = at;
        updateAllMeasures(&marker, true, timedOnly);
    }
    const bool precise = updateSamplingPoints(false);
    finished = finished && loopCount > 5 && precise;
    nextSamplingTime += samplingInterval;
    // Repeated addition drifts by rounding (0 + 3 x 33.33.. need not give
    // 100); the last point must fall on the stop time exactly, or a
    // replication could miss it and no replication could ever be judged.
    if (std::isfinite(samplingInterval) &&
        std::fabs(nextSamplingTime - stopTime) <= 1e-9 * std::fabs(samplingInterval))
        nextSamplingTime = stopTime;
    ++pointIndex;
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

    for (MeasureObj* m : net->getMeasureList()) {
        if (m->getName() == "ImportanceFunction" || m->precisionReached()) continue;
        m->setPercentRule(percentRule);
        m->setEpsMax(epsMax);
        if (simulationType == 0) {
            const double v = m->measure(-1.0);
            // Accuracy is decided once per replication, at its final point (the
            // stop time), so that the decision sees every point; judging one
            // interval earlier would declare a measure accurate without its
            // final point and leave that row out of the results.
            const bool lastPoint = nextSamplingTime.FullDateTime() + samplingInterval / 2.0 >
                                   stopTime.FullDateTime();
            const bool judged = analysisState != 0;
            const bool precise = m->makeTransientAnalysis(alpha, v, before, lastPoint && judged);
            if (judged) result = result && precise;
            measureOut(m, m);
        } else {
            const double v = simulationType == 1 ? m->measure(-1.0) : m->measure(restartTime);
            m->addBatchValue(v);
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
    return result;
}

void Simulation::initMeasureList(bool fresh) {
    for (MeasureObj* m : net->getMeasureList()) {
        if (fresh) m->prepareRun(static_cast<unsigned>(std::max(samplingPoints, 1)));
        if (!m->precisionReached()) m->prepareReplication();
    }
}
