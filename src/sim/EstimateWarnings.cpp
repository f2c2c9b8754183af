// What a run says about its estimates before its verdict: for every measure
// what its estimate rests on (replications, or batches with their length and
// correlation), and warnings where an estimate is weaker than the verdict
// alone would say: measures that count as accurate only because the
// per-cent rule let them, and (stationary and RESTART runs) measures whose
// batch means never lost their correlation, which shows no steady state
// within the run.
#include <cmath>
#include <iostream>
#include <sstream>

#include "core/NetClass.h"
#include "measures/MeasureObj.h"
#include "sim/Simulation.h"

namespace {

std::string percent(double fraction) {
    std::ostringstream s;
    s.precision(3);
    s << fraction * 100.0 << " %";
    return s.str();
}

}  // namespace

std::string Simulation::batchLengthText(const BatchMeans::Estimate& e) const {
    std::ostringstream s;
    // A RESTART batch ends at the first main-path event after its point, so
    // its length is measured, not counted.
    if (simulationType == 2)
        s << e.meanLength << " s of main-path model time on average";
    else
        s << e.batchUnits * static_cast<std::size_t>(kStationaryBatchEvents) << " events";
    return s.str();
}

bool Simulation::reviewEstimates() {
    bool drifting = false;
    const std::string epsmax = percent(epsMax);
    for (MeasureObj* m : net->getMeasureList()) {
        if (m->isImportanceFunction()) continue;
        const std::string name = m->getMeasureName();
        if (simulationType == 0) {
            if (m->observationCount() > 0)
                std::cout << "Measure " << name << ": " << m->observationCount() << " replications." << std::endl;
        } else if (m->batchEstimate().valid) {
            const BatchMeans::Estimate& e = m->batchEstimate();
            std::cout << "Measure " << name << ": " << e.batches << " batches of " << batchLengthText(e)
                      << " (lag-1 correlation " << e.lag1 << (e.independent ? "" : ", significant") << ")."
                      << std::endl;
        }
        if (m->reachedOnlyByRule()) {
            std::cout << "WARNING: Measure " << name << " counts as accurate only by the per-cent rule: ";
            if (simulationType == 0) {
                std::cout << m->missedPoints() << " of " << m->decidedPoints()
                          << " sampling points missed --epsmax " << epsmax << " (largest Epsilon "
                          << m->largestEpsilon() << ", " << percent(m->largestEpsilon()) << ")";
            } else {
                const BatchMeans::Estimate& e = m->batchEstimate();
                if (e.mean == 0.0)
                    std::cout << "its mean stayed exactly 0, which has no relative error";
                else if (!(std::fabs(m->lastEpsilon()) < epsMax))
                    std::cout << "Epsilon " << m->lastEpsilon() << " (" << percent(m->lastEpsilon())
                              << ") is not below --epsmax " << epsmax;
                else
                    std::cout << "its batch means are no evidence of accuracy yet (Epsilon "
                              << m->lastEpsilon() << " against --epsmax " << epsmax << ")";
                std::cout << ", after " << m->batchCount() << " batches";
            }
            std::cout << "; turn the rule off with --percentage false." << std::endl;
        }
        if (simulationType != 0 && m->showsNoSteadyState()) {
            const BatchMeans::Estimate& e = m->batchEstimate();
            std::cout << "WARNING: Measure " << name
                      << " shows no steady state: its batch means drift (lag-1 correlation " << e.lag1
                      << " over " << e.batches << " batches of " << batchLengthText(e)
                      << ", trend statistic " << e.trend << "); its interval is not to be trusted." << std::endl;
            drifting = true;
        } else if (simulationType != 0 && m->stillCorrelated() && !m->precisionReached()) {
            const BatchMeans::Estimate& e = m->batchEstimate();
            std::cout << "WARNING: Measure " << name << ": its batch means are still correlated (lag-1 correlation "
                      << e.lag1 << " over " << e.batches << " batches of " << batchLengthText(e)
                      << "): the run is too short for its interval, which may be too narrow." << std::endl;
        }
    }
    if (simulationType != 0 && steadyState.grows()) {
        std::cout << "WARNING: the net shows no steady state: the tokens on the places that its transitions take "
                     "from rose steadily from "
                  << steadyState.firstTokens() << " to " << steadyState.lastTokens() << " over "
                  << steadyState.samples() << " batches, so its queues grow; no estimate of this run ("
                  << estimatedNames() << ") describes a long-run state." << std::endl;
        drifting = true;
    }
    return drifting;
}

std::string Simulation::estimatedNames() const {
    std::string names;
    for (MeasureObj* m : net->getMeasureList()) {
        if (m->isImportanceFunction()) continue;
        if (!names.empty()) names += ", ";
        names += m->getMeasureName();
    }
    return names.empty() ? "none" : names;
}
