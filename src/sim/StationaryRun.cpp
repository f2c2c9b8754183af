// The stationary run: one long trajectory cut into batches of 100 events;
// each batch gives every measure one value, and the batch values are
// analysed until every measure is accurate, the model time passes the stop
// time, the marking is dead or the wall-clock limit is reached.
#include <iostream>

#include "core/NetClass.h"
#include "engine/Binding.h"
#include "platform/Logging.h"
#include "platform/StopRequest.h"
#include "sim/Simulation.h"

namespace {
constexpr int kBatchEvents = Simulation::kStationaryBatchEvents;
constexpr std::time_t kProgressEvery = 10;
}  // namespace

void Simulation::run_stationary(double& alphaArg) {
    alpha = alphaArg;
    bool finished = false;
    int events = 0;
    long batches = 0;

    resetCurrentTime();
    rebuildNet();
    initTransitions();
    initMeasureList(true);
    steadyState.begin();
    analysisState = -2;
    resetMeasures = true;
    nextSamplingTime = startTime;
    batchStart = startTime;
    guardCountdown = 0;
    runStartWallClock = lastProgressPrint = std::time(nullptr);
    unlimitedRunTime = maxRunTime == kNoRunTimeLimit;
    noStopTime = stopTime - startTime <= 0.0;

    std::list<Binding*> candidates;
    stoprequest::Polling polling;
    while (!finished && (currentSimulationTime <= stopTime || noStopTime) && !mustStop(0)) {
        getFirstBindingsOfAllTransitions(&candidates, false);
        Binding* b = resolve_conflicts(candidates);
        if (b == nullptr) {
            std::cout << "WARNING: Stationary simulation stops at a dead marking." << std::endl;
            break;
        }
        eventTime = b->getTime();
        updateSimulationTime(eventTime);
        updateAllMeasures(b, true, false);
        ++events;
        if (events > kBatchEvents - 1 || (!noStopTime && eventTime > stopTime)) {
            finished = updateSamplingPoints(true);
            events = 0;
            ++batches;
            if (analysisState != 1) ++analysisState;
            const std::time_t now = std::time(nullptr);
            if (now - lastProgressPrint >= kProgressEvery) {
                // Before the analysis has an error to report, show how far the run is.
                std::cout << "batches closed: " << batches << " at model time "
                          << currentSimulationTime.FullDateTime() << " (" << elapsedSeconds() << " s)"
                          << std::endl;
                lastProgressPrint = now;
            }
        }
        if (Logging::process()->isSimLogging())
            Logging::process()->getSimLog() << "FIRING: " << *b << "\n";
        executeEvent(b);
    }

    // A measure without a steady state is never a success, whatever else
    // ended the run (the per-cent rule can pass it as accurate).
    const bool drifting = reviewEstimates();
    if (analysisState != 1)
        std::cout << "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY."
                  << std::endl;
    if (drifting)
        std::cout << "\nABORTED SIMULATION. NO STEADY STATE FOUND." << std::flush;
    else if (finished)
        std::cout << "\nSIMULATION SUCCESSFUL" << std::flush;
    else if (!noStopTime && currentSimulationTime >= stopTime)
        std::cout << "\nABORTED SIMULATION. REACHED MAXIMUM MODEL TIME." << std::flush;
    else
        std::cout << "\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME." << std::flush;
}
