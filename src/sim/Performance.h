#pragma once
// The profiling run: fires a fixed number of events per loop, a fixed
// number of loops, on the marking the command line built, and prints the
// wall-clock time of every loop. No sampling, no analysis, no replications:
// the loops share one trajectory, so a seed always gives the same events.
#include <string>

#include "sim/Simulation.h"

class Performance : public Simulation {
public:
    Performance(NetClass* net, const std::string& netName, const std::string& resultPort, const DateTime& start,
                long fcount, long lcount);
    ~Performance() override;

    void run();

private:
    long fcount;
    long lcount;
    long eventsFired = 0;
};
