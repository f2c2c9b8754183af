// The stationary run: one long trajectory cut into batches of 100 events;
// each batch gives every measure one value, and the batch values are
// analysed until every measure is accurate, the model time passes the stop
// time, the marking is dead or the wall-clock limit is reached.
#include <algorithm>
#include <iostream>

#include "core/NetClass.h"
#include "engine/Binding.h"
#include "measures/MeasureObj.h"
#include "platform/StopRequest.h"
#include "sim/BatchValues.h"
#include "sim/Progress.h"
#include "sim/RunGuard.h"
#include "sim/Simulation.h"

namespace {
constexpr int kBatchEvents = Simulation::kStationaryBatchEvents;
}  // namespace

// A stationary run's event step: a batch ends after every kBatchEvents
// events, and with the first event past the stop time; it closes after the
// event's measure update and before its firing. Each batch value covers the
// model time since the batch began: a time average weights it by that length.
class Simulation::StationaryStep final : public StepHooks, public BatchValues {
public:
    explicit StationaryStep(Simulation& sim) : sim_(sim), batchStart_(sim.startTime) {}

    bool beforeFiring(Binding&) override {
        ++events_;
        if (events_ > kBatchEvents - 1 || (!sim_.noStopTime && sim_.eventTime > sim_.stopTime)) closeBatch();
        return true;
    }

    double value(MeasureObj& m, std::size_t, double& weight) override {
        weight = m.timeaverage() ? sim_.eventTime - batchStart_ : 1.0;
        return m.measure(-1.0);
    }
    void closed(MeasureObj& m) override { m.reset(sim_.eventTime); }

    // Every measure is accurate.
    bool finished() const { return finished_; }

private:
    void closeBatch() {
        finished_ = sim_.updateSamplingPoints(true, *this);
        batchStart_ = sim_.eventTime;
        events_ = 0;
        ++batches_;
        if (sim_.analysisState != 1) ++sim_.analysisState;
        if (progress::due(sim_.lastProgressPrint))
            // Before the analysis has an error to report, show how far the run is.
            std::cout << "batches closed: " << batches_ << " at model time "
                      << sim_.currentSimulationTime.FullDateTime() << " (" << sim_.elapsedSeconds() << " s)"
                      << std::endl;
    }

    Simulation& sim_;
    DateTime batchStart_;
    int events_ = 0;
    long batches_ = 0;
    bool finished_ = false;
};

void Simulation::run_stationary(double& alphaArg) {
    alpha = alphaArg;
    resetCurrentTime();
    rebuildNet();
    initTransitions();
    initMeasureList(true);
    steadyState.begin();
    analysisState = -2;
    resetMeasures = true;
    nextSamplingTime = startTime;
    runStartWallClock = lastProgressPrint = std::time(nullptr);
    unlimitedRunTime = maxRunTime == kNoRunTimeLimit;
    noStopTime = stopTime - startTime <= 0.0;

    RunGuard guard(runTimeLimit(), currentSimulationTime);
    StationaryStep hooks(*this);
    stoprequest::Polling polling;
    while (!hooks.finished() && (currentSimulationTime <= stopTime || noStopTime) && !guard.mustStop(0)) {
        if (step(hooks) == StepResult::Dead) {
            std::cout << "WARNING: Stationary simulation stops at a dead marking." << std::endl;
            break;
        }
    }

    // A measure without a steady state is never a success, whatever else
    // ended the run (the per-cent rule can pass it as accurate).
    const bool drifting = reviewEstimates();
    if (analysisState != 1)
        std::cout << "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY."
                  << std::endl;
    if (drifting)
        std::cout << "\nABORTED SIMULATION. NO STEADY STATE FOUND." << std::flush;
    else if (hooks.finished())
        std::cout << "\nSIMULATION SUCCESSFUL" << std::flush;
    else if (!noStopTime && currentSimulationTime >= stopTime)
        std::cout << "\nABORTED SIMULATION. REACHED MAXIMUM MODEL TIME." << std::flush;
    else
        std::cout << "\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME." << std::flush;
}

bool Simulation::updateSamplingPoints(bool stationaryCheck, BatchValues& values) {
    bool result = true;
    double largestError = 0.0;
    steadyState.sample(*net);
    std::size_t position = 0;
    for (MeasureObj* m : net->getMeasureList()) {
        const std::size_t k = position++;
        if (!takesPartInAnalysis(*m)) continue;
        double weight = 1.0;
        const double v = values.value(*m, k, weight);
        m->addBatchValue(v, weight);
        values.closed(*m);
        if (stationaryCheck && analysisState == 1 && m->batchCount() > 4) {
            const bool precise =
                m->makeStationaryAnalysis(alpha, startTime.FullDateTime(), nextSamplingTime.FullDateTime());
            result = result && precise;
            measureOut(m, m);
            largestError = std::max(largestError, m->lastEpsilon());
        } else {
            result = false;
        }
        if (largestError > 0.0 && progress::due(lastProgressPrint))
            std::cout << "remaining relative error " << largestError << std::endl;
    }
    return result;
}
