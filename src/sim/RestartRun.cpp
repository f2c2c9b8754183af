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
// Batches: a batch ends at a sampling point (every samplingInterval of model
// time) reached on the main path, that is when no snapshot has retrials
// left, so that everything split off so far has been simulated and the main
// path's model time (restartTime) is exact. A batch's value is the weighted
// integral of its stretch per unit of main-path time, weighted by that time
// in the analysis, so the estimate is the run's total weighted integral over
// its total main-path time. (Values taken at other moments would mix
// complete and incomplete splitting trees; cumulative running estimates
// taken event by event, or unweighted, give intervals far too narrow.)
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "core/NetClass.h"
#include "engine/Binding.h"
#include "measures/MeasureObj.h"
#include "platform/FatalError.h"
#include "platform/Logging.h"
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
    if (!onMainPath() || !(restartTime > restartTimeAtBatch)) return false;  // the batch goes on
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

void Simulation::crossLevels(int& current, int next, int repeats) {
    if (next < current) {
        if (savedStates.empty()) fireWeight = 1.0 / std::pow(repeats, next);
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
                fireWeight *= repeats;
                if (!savedStates.empty()) current = savedStates.back().getStateLevel();
            }
        }
    } else if (next > current) {
        // One snapshot however many levels were climbed.
        save_simulation_state(next);
        fireWeight /= repeats;
        savedStates.back().setTrials(repeats - 1);
    }
    current = next;
}

void Simulation::run_restart(double& alphaArg, int repeats, double thrmin, double thrmax, int thrnumber) {
    alpha = alphaArg;
    resetCurrentTime();
    rebuildNet();
    initTransitions();
    initMeasureList(true);
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

    if (analysisState != 1) {
        std::cout << "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY." << std::endl;
        std::cout << "\nRESTART simulation finished." << std::flush;
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
    fireWeight = 1.0 / std::pow(repeats, current);
    restartBatches = 0;

    std::list<Binding*> candidates;
    // The run goes on while the elapsed seconds are at most the limit.
    while ((currentSimulationTime <= stopTime || noStopTime) && !mustStop(maxRunTime + 1ul)) {
        getFirstBindingsOfAllTransitions(&candidates, false);
        Binding* b = resolve_conflicts(candidates);
        if (b == nullptr) break;  // a dead marking
        eventTime = b->getTime();
        updateSimulationTime(eventTime);

        // Only the path that goes on after the last retrial counts toward
        // the model time of the estimate.
        if (savedStates.empty() || savedStates.back().getTrials() == 0) {
            restartTime += currentSimulationTime - lastAccounting;
            lastAccounting = currentSimulationTime;
        }

        auto fire = [&]() {
            updateAllMeasures(b, true, false);
            if (Logging::process()->isSimLogging()) Logging::process()->getSimLog() << "FIRING: " << *b << "\n";
            executeEvent(b);
        };
        if (net->getMeasureList().empty()) {
            fire();
            if (noStopTime) break;
        } else {
            if (eventTime > stopTime && !noStopTime) {
                while (nextSamplingTime < stopTime && !finished) {
                    finished = restartSamplingStep();
                    nextSamplingTime += samplingInterval;
                }
                break;  // the event lies beyond the stop time and is not executed
            }
            while (eventTime > nextSamplingTime && !finished) {
                finished = restartSamplingStep();
                nextSamplingTime += samplingInterval;
            }
            if (finished) break;
            fire();
            if (analysisState != 1) ++analysisState;
            if (eventTime == nextSamplingTime) {
                finished = restartSamplingStep();
                nextSamplingTime += samplingInterval;
                if (finished) break;
            }
        }

        crossLevels(current, level(thrmin, thrmax, importance(), thrnumber), repeats);
    }
    return finished;
}
