#pragma once
// What a transient run owns while it runs (the sequential run and every
// process of a parallel one): the sampling schedule, the guard of its
// event loops, the state of its progress lines and its time marker.
#include <ctime>

#include "engine/Binding.h"
#include "sim/RunGuard.h"
#include "sim/Simulation.h"
#include "sim/TransientSchedule.h"

struct Simulation::TransientRun {
    // After prepareTransientRun: the schedule of the driver's sampling
    // points, and a guard of its wall-clock limit.
    explicit TransientRun(Simulation& sim)
        : schedule(sim.startTime, sim.stopTime, sim.samplingPoints),
          guard(sim.runTimeLimit(), sim.currentSimulationTime),
          lastProgressLine(sim.runStartWallClock),
          marker(sim.startTime) {}

    TransientSchedule schedule;
    RunGuard guard;
    // The last "replication(s) ..." progress line, and the start of the
    // replication under way.
    std::time_t lastProgressLine;
    std::time_t replicationStart = 0;
    // The run's time marker: every sampling step copies a fresh marker at
    // the sampling time into it for the measures to integrate up to.
    Binding marker;
};
