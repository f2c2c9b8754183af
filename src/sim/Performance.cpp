#include "sim/Performance.h"

#include <chrono>
#include <iostream>
#include <list>

#include "engine/Binding.h"
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
    std::list<Binding*> candidates;
    // A signal waits for the next event, as in the simulation runs, so that
    // the traces end with whole lines.
    stoprequest::Polling polling;
    for (long i = 0; i < lcount; ++i) {
        const DateTime t0 = DateTime::Today();
        for (long k = 0; k < fcount; ++k) {
            endIfInterrupted();
            getFirstBindingsOfAllTransitions(&candidates, false);
            Binding* b = resolve_conflicts(candidates);
            if (b == nullptr) break;  // a dead marking ends the loop
            updateSimulationTime(b->getTime());
            updateAllMeasures(b, true, false);
            executeEvent(b);
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
