#pragma once
// The driver of a run. Exactly one exists at a time (Simulation::sim); places
// and transitions reach it through their net for the simulation clock, the
// single-step flag and the result channel.
#include <ctime>
#include <string>

#include "core/DateTime.h"
#include "engine/RandomWrapper.h"

class NetClass;
class DefaultGM;

class Simulation {
public:
    Simulation(NetClass* net, const std::string& netName, const std::string& resultPort,
               const DateTime& startTime, const DateTime& stopTime, int samplingPoints,
               int simulationType, bool modelTimeAxis, bool percentRule, double epsMax,
               double samplingInterval, unsigned int maxRunTime);
    virtual ~Simulation();
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    // True in the token game, where the user fires step by step.
    virtual bool isSingleStep() const;

    const DateTime& getCurrentSimulationTime() const { return currentSimulationTime; }
    void updateSimulationTime(const DateTime& t);
    void resetCurrentTime();

    // Result channel: the value of a watched place or transition, and the
    // display value of a transition.
    void measureOut(DefaultGM* element, double value);
    void displayOut(DefaultGM* element, double value);
    bool hasMeasureSocket() const { return false; }

    static Simulation* sim;

protected:
    // Sends one message on the result channel, or traces it when there is none.
    void sendResult(const std::string& message, bool blankLineInTrace);

    int samplingPoints;
    int loopCount;
    int analysisState;
    std::time_t runStartWallClock;
    std::time_t lastProgressPrint;
    double alpha;
    bool modelTimeAxis;
    bool percentRule;
    bool noStopTime;
    bool resetMeasures;
    bool unlimitedRunTime;
    unsigned int maxRunTime;
    int simulationType;
    double restartTime;
    double epsMax;
    double samplingInterval;
    NetClass* net;
    std::string netName;
    std::string resultPort;
    DateTime currentSimulationTime;
    DateTime nextSamplingTime;
    DateTime eventTime;
    const DateTime& startTime;
    DateTime stopTime;
    std::string lastFiredTransition;
    bool initialised;
    RandomWrapper random;
    double fireWeight;
};
