// The RESTART run: importance splitting for measures of rare states. The
// model's "ImportanceFunction" measure says, after every event, how close
// the state is to the rare set; its value is mapped to a level. Whenever the
// trajectory climbs to a higher level the net is saved and repeats - 1
// retrials will start from it; whenever it falls below the level of the
// newest snapshot, the snapshot is restored for the next retrial, and after
// the last one it is dropped and the run goes on from there. Each path
// carries the weight 1/repeats for every snapshot it was split at, so that
// the weighted accumulations of the measures compensate for the splitting.
//
// Weights: a path carries 1/repeats for every snapshot on the stack, that is
// for every split it went through, and nothing else: a run that starts at a
// level above 0 (a low first threshold) has split nothing yet and weight 1.
//
// Batches: a batch ends at the first event of the main path, that is of a
// moment when no snapshot has retrials left, at or after a sampling point
// (every samplingInterval of model time). Then everything split off so far
// has been simulated and the clock is the main path's own, so the points
// lie on the main path's time axis: retrials, whose clock runs ahead of it
// and is set back, neither close nor use up a point. A batch's value is the
// weighted integral of its stretch per unit of main-path time, taken after
// the event's measure update and before its firing (as a stationary batch
// is), weighted by that time in the analysis, so the estimate is the run's
// total weighted integral over its total main-path time. (Values taken at
// other moments would mix complete and incomplete splitting trees;
// cumulative running estimates taken event by event, or unweighted, give
// intervals far too narrow.)
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "core/NetClass.h"
#include "engine/Binding.h"
#include "measures/MeasureObj.h"
#include "platform/FatalError.h"
#include "platform/Logging.h"
#include "platform/StopRequest.h"
#include "sim/Simulation.h"

int Simulation::level(double thrmin, double thrmax, double value, int thrnumber) {
    const double w = (thrmax - thrmin) / (thrnumber + 1);
    const double top = std::floor((thrmax - thrmin) / w + 1.0);
    const double l = std::floor((value - thrmin) / w + 1.0);
    // Compared as doubles: a huge importance value must not overflow an int.
    return static_cast<int>(std::min(top, std::max(0.0, l)));
}

void Simulation::save_simulation_state(int stateLevel) {
    try {
        savedStates.emplace_back(net, stateLevel, currentSimulationTime);
    } catch (const SimSavedState::Unsaveable& e) {
        fatalError("RESTART cannot save the state of the net at model time " +
                   std::to_string(currentSimulationTime.FullDateTime()) + ": " + e.what() + ".");
    }
}

void Simulation::load_last_simulation_state() {
    SimSavedState& top = savedStates.back();
    top.restoreMarkings(net->getPlaces());
    top.restoreTransitionStates(net->getTransitions());
    for (MeasureObj* m : net->getMeasureList()) m->setLastTime(top.getStateTime());
}

void Simulation::delete_last_simulation_state() { savedStates.pop_back(); }

bool Simulation::onMainPath() const {
    for (const SimSavedState& s : savedStates)
        if (s.getTrials() > 0) return false;
    return true;
}

double Simulation::importance() const { return importanceFunction->measure(-1.0); }

bool Simulation::restartSamplingStep() {
    if (!(restartTime > restartTimeAtBatch)) return false;  // an empty batch: it goes on
    const bool finished = updateSamplingPoints(true);
    restartTimeAtBatch = restartTime;
    ++restartBatches;
    const std::time_t now = std::time(nullptr);
    if (now - lastProgressPrint >= 10) {
        // Before the analysis has an error to report, show how far the run is.
        std::cout << "batches closed: " << restartBatches << " at main-path model time " << restartTime << " ("
                  << elapsedSeconds() << " s)" << std::endl;
        lastProgressPrint = now;
    }
    return finished;
}

void Simulation::advanceRestartPoint() {
    // The first point after the clock, computed rather than stepped to: a
    // main path that jumps far ahead (or a short batch time) costs one step.
    const double interval = samplingInterval;
    const double k = std::floor((currentSimulationTime - startTime) / interval) + 1.0;
    DateTime next = startTime + k * interval;
    // Where the points can no longer be told apart, the next event ends the
    // next batch.
    if (!std::isfinite(k) || !(next > currentSimulationTime))
        next = DateTime(std::nextafter(currentSimulationTime.FullDateTime(), HUGE_VAL));
    nextSamplingTime = next;
}

void Simulation::crossLevels(int& current, int next, int repeats) {
    if (next < current) {
        while (next < current && !savedStates.empty()) {
            SimSavedState& top = savedStates.back();
            if (top.getTrials() > 0) {
                // The next retrial starts from the snapshot.
                load_last_simulation_state();
                top.decrementTrials();
                next = top.getStateLevel();
            } else {
                // The last retrial goes on as the main path.
                delete_last_simulation_state();
                if (!savedStates.empty()) current = savedStates.back().getStateLevel();
            }
        }
    } else if (next > current) {
        // One snapshot however many levels were climbed.
        save_simulation_state(next);
        savedStates.back().setTrials(repeats - 1);
    }
    current = next;
    // 1/repeats for every split the path went through, that is for every
    // snapshot on the stack (without one nothing is split: the path is the
    // whole run). Computed afresh rather than multiplied and divided, so that
    // rounding cannot make it drift over a long run.
    fireWeight = std::pow(static_cast<double>(repeats), -static_cast<double>(savedStates.size()));
}

void Simulation::run_restart(double& alphaArg, int repeats, double thrmin, double thrmax, int thrnumber) {
    alpha = alphaArg;
    resetCurrentTime();
    rebuildNet();
    initTransitions();
    initMeasureList(true);
    steadyState.begin();
    resetMeasures = true;
    // The first batch ends one interval after the start (a point at the
    // start itself would close a batch before any event).
    nextSamplingTime = startTime + samplingInterval;
    analysisState = -2;
    runStartWallClock = std::time(nullptr);
    guardCountdown = 0;
    unlimitedRunTime = maxRunTime == 0 || maxRunTime == kNoRunTimeLimit;
    noStopTime = stopTime == DateTime(0.0);
    std::cout << "\nRESTART simulation starts." << std::endl;
    std::cout << "\nParameters: " << std::endl;

    importanceFunction = nullptr;
    for (MeasureObj* m : net->getMeasureList())
        if (m->isImportanceFunction()) {
            importanceFunction = m;
            break;
        }
    if (importanceFunction == nullptr) {
        std::cout << "Error: no Importance Function ('ImportanceFunction') measure was defined!" << std::endl;
        std::exit(1);
    }

    const bool finished = run_restart_iterative(repeats, thrmin, thrmax, thrnumber);

    // A measure without a steady state is never a success, whatever else
    // ended the run (the per-cent rule can pass it as accurate).
    const bool drifting = reviewEstimates();
    if (analysisState != 1) {
        std::cout << "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY." << std::endl;
        std::cout << (drifting ? "\nABORT SIMULATION. NO STEADY STATE FOUND." : "\nRESTART simulation finished.")
                  << std::flush;
    } else if (drifting) {
        std::cout << "\nABORT SIMULATION. NO STEADY STATE FOUND." << std::flush;
    } else if (!finished) {
        if (!noStopTime && currentSimulationTime >= stopTime)
            std::cout << "\nABORT SIMULATION. REACHED MAXIMUM MODEL TIME." << std::flush;
        else
            std::cout << "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME." << std::flush;
    } else {
        std::cout << "\nRESTART simulation finished." << std::flush;
    }
}

bool Simulation::run_restart_iterative(int repeats, double thrmin, double thrmax, int thrnumber) {
    bool finished = false;
    DateTime lastAccounting = startTime;
    currentSimulationTime = startTime;
    restartTime = 0.0;
    restartTimeAtBatch = 0.0;
    integralAtBatch.assign(net->getMeasureList().size(), 0.0);
    savedStates.clear();
    int current = level(thrmin, thrmax, importance(), thrnumber);
    // Whatever level the run starts at, nothing has been split yet.
    fireWeight = 1.0;
    restartBatches = 0;
    const bool hasMeasures = !net->getMeasureList().empty();

    std::list<Binding*> candidates;
    // A signal waits for the next event, as in the other runs, so that the
    // traces end with whole lines (mustStop ends the process there).
    stoprequest::Polling polling;
    // The run goes on while the elapsed seconds are at most the limit.
    while ((currentSimulationTime <= stopTime || noStopTime) && !mustStop(maxRunTime + 1ul)) {
        getFirstBindingsOfAllTransitions(&candidates, false);
        Binding* b = resolve_conflicts(candidates);
        if (b == nullptr) break;  // a dead marking
        if (hasMeasures && !noStopTime && b->getTime() > stopTime) {
            // The event lies beyond the stop time and is not executed; the
            // batch under way ends with the last event before it, if the
            // main path is where the run is.
            updateSimulationTime(b->getTime());
            if (onMainPath()) finished = restartSamplingStep();
            break;
        }
        eventTime = b->getTime();
        updateSimulationTime(eventTime);

        // Only the main path (no snapshot with retrials left) counts toward
        // the model time of the estimate: restartTime is then its clock.
        if (onMainPath()) {
            restartTime += currentSimulationTime - lastAccounting;
            lastAccounting = currentSimulationTime;
        }

        updateAllMeasures(b, true, false);
        if (hasMeasures && onMainPath() && eventTime >= nextSamplingTime) {
            finished = restartSamplingStep();
            advanceRestartPoint();
            if (finished) break;
        }
        if (Logging::process()->isSimLogging()) Logging::process()->getSimLog() << "FIRING: " << *b << "\n";
        executeEvent(b);
        if (!hasMeasures && noStopTime) break;
        if (analysisState != 1) ++analysisState;

        crossLevels(current, level(thrmin, thrmax, importance(), thrnumber), repeats);
    }
    return finished;
}
