#include "sim/Performance.h"

#include <chrono>
#include <iostream>

#include "sim/RunGuard.h"
#include "platform/StopRequest.h"

Performance::Performance(NetClass* net, const std::string& netName, const std::string& resultPort,
                         const DateTime& start, long fcountArg, long lcountArg)
    : Simulation(net, netName, resultPort, start, DateTime(), 0, 1, false, true, 5.0, 50.0, 0),
      fcount(fcountArg),
      lcount(lcountArg) {}

Performance::~Performance() = default;

void Performance::run() {
    std::cout << "firing " << lcount << " * " << fcount << " times" << std::endl;
    init();
    const auto began = std::chrono::steady_clock::now();
    // A signal waits for the next event, as in the simulation runs, so that
    // the traces end with whole lines.
    stoprequest::Polling polling;
    RunGuard guard(runTimeLimit(), currentSimulationTime);
    StepHooks hooks;
    hooks.traceFiring = false;
    for (long i = 0; i < lcount; ++i) {
        const DateTime t0 = DateTime::Today();
        for (long k = 0; k < fcount; ++k) {
            guard.endIfInterrupted();
            if (step(hooks) == StepResult::Dead) break;  // a dead marking ends the loop
            ++eventsFired;
        }
        const DateTime t1 = DateTime::Today();
        std::cout << i << ". loop in " << DateTime(t1 - t0) << std::endl;
    }
    // The loop lines show whole seconds; this is the figure to compare.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::cout << "events fired: " << eventsFired << " in " << seconds << " s";
    if (seconds > 0.0) std::cout << " (" << static_cast<long>(eventsFired / seconds) << " events per second)";
    std::cout << std::endl;
}
