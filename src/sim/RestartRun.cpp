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
#include "sim/Progress.h"
#include "sim/RestartAccounting.h"
#include "sim/RunGuard.h"
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

// A RESTART run's event step. Only the main path (no snapshot with
// retrials left) counts toward the model time of the estimate; a batch ends
// at its first event at or after a sampling point, after the event's
// measure update and before its firing; after every firing the importance
// level decides on the splitting.
class Simulation::RestartStep final : public StepHooks {
public:
    RestartStep(Simulation& sim, int repeats, double thrmin, double thrmax, int thrnumber)
        : sim_(sim),
          accounting_(sim.restartTime, sim.startTime, sim.net->getMeasureList().size()),
          repeats_(repeats),
          thrmin_(thrmin),
          thrmax_(thrmax),
          thrnumber_(thrnumber),
          hasMeasures_(!sim.net->getMeasureList().empty()) {
        current_ = level(thrmin_, thrmax_, sim.importance(), thrnumber_);
    }

    bool beforeMeasures(Binding&) override {
        if (hasMeasures_ && !sim_.noStopTime && sim_.eventTime > sim_.stopTime) {
            // The event lies beyond the stop time and is not executed; the
            // batch under way ends with the last event before it, if the
            // main path is where the run is.
            if (sim_.onMainPath()) finished_ = closeBatch();
            return false;
        }
        if (sim_.onMainPath()) accounting_.advanceMainPath(sim_.currentSimulationTime);
        return true;
    }

    bool beforeFiring(Binding&) override {
        if (hasMeasures_ && sim_.onMainPath() && sim_.eventTime >= sim_.nextSamplingTime) {
            finished_ = closeBatch();
            advancePoint();
            if (finished_) return false;
        }
        return true;
    }

    void afterFiring() override {
        if (!hasMeasures_ && sim_.noStopTime) {
            over_ = true;  // nothing to estimate and no end: one event is the run
            return;
        }
        if (sim_.analysisState != 1) ++sim_.analysisState;
        sim_.crossLevels(current_, level(thrmin_, thrmax_, sim_.importance(), thrnumber_), repeats_);
    }

    bool finished() const { return finished_; }
    bool over() const { return over_; }

private:
    // True when every measure is accurate; an empty batch goes on.
    bool closeBatch() {
        if (!accounting_.batchOpen()) return false;
        const bool accurate = sim_.updateSamplingPoints(true, accounting_);
        accounting_.batchClosed();
        if (progress::due(sim_.lastProgressPrint))
            // Before the analysis has an error to report, show how far the run is.
            std::cout << "batches closed: " << accounting_.batches() << " at main-path model time "
                      << sim_.restartTime << " (" << sim_.elapsedSeconds() << " s)" << std::endl;
        return accurate;
    }

    // Moves the next sampling point to the first one after the clock,
    // computed rather than stepped to: a main path that jumps far ahead (or
    // a short batch time) costs one step.
    void advancePoint() {
        const double interval = sim_.samplingInterval;
        const DateTime& now = sim_.currentSimulationTime;
        const double k = std::floor((now - sim_.startTime) / interval) + 1.0;
        DateTime next = sim_.startTime + k * interval;
        // Where the points can no longer be told apart, the next event ends
        // the next batch.
        if (!std::isfinite(k) || !(next > now)) next = DateTime(std::nextafter(now.FullDateTime(), HUGE_VAL));
        sim_.nextSamplingTime = next;
    }

    Simulation& sim_;
    RestartAccounting accounting_;
    const int repeats_;
    const double thrmin_;
    const double thrmax_;
    const int thrnumber_;
    const bool hasMeasures_;
    int current_ = 0;
    bool finished_ = false;
    bool over_ = false;
};

bool Simulation::run_restart_iterative(int repeats, double thrmin, double thrmax, int thrnumber) {
    currentSimulationTime = startTime;
    savedStates.clear();
    RestartStep hooks(*this, repeats, thrmin, thrmax, thrnumber);
    // Whatever level the run starts at, nothing has been split yet.
    fireWeight = 1.0;

    RunGuard guard(runTimeLimit(), currentSimulationTime);
    // A signal waits for the next event, as in the other runs, so that the
    // traces end with whole lines (the guard ends the process there).
    stoprequest::Polling polling;
    // The run goes on while the elapsed seconds are at most the limit.
    while (!hooks.over() && (currentSimulationTime <= stopTime || noStopTime) &&
           !guard.mustStop(maxRunTime + 1ul)) {
        if (step(hooks) != StepResult::Fired) break;  // a dead marking, the stop time or accuracy
    }
    return hooks.finished();
}
