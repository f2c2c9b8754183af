#include "sim/Simulation.h"

#include <sstream>

#include "app/MainClass.h"
#include "core/DefaultGM.h"
#include "platform/Assert.h"

Simulation* Simulation::sim = nullptr;

Simulation::Simulation(NetClass* net_, const std::string& netName_, const std::string& resultPort_,
                       const DateTime& start, const DateTime& stop, int samplingPoints_,
                       int simulationType_, bool modelTimeAxis_, bool percentRule_, double epsMax_,
                       double samplingInterval_, unsigned int maxRunTime_)
    : samplingPoints(samplingPoints_),
      loopCount(0),
      analysisState(0),
      runStartWallClock(0),
      lastProgressPrint(0),
      alpha(0.0),
      modelTimeAxis(modelTimeAxis_),
      percentRule(percentRule_),
      noStopTime(false),
      resetMeasures(false),
      unlimitedRunTime(false),
      maxRunTime(maxRunTime_),
      simulationType(simulationType_),
      restartTime(0.0),
      epsMax(epsMax_),
      samplingInterval(samplingInterval_),
      net(net_),
      netName(netName_),
      resultPort(resultPort_),
      currentSimulationTime(start),
      nextSamplingTime(start),
      startTime(start),
      stopTime(stop),
      initialised(false),
      fireWeight(1.0) {
    SCPN_ASSERT(sim == NULL, "src/Simulation");
    sim = this;
}

Simulation::~Simulation() { sim = nullptr; }

bool Simulation::isSingleStep() const { return false; }

void Simulation::updateSimulationTime(const DateTime& t) {
    if (!initialised && t != currentSimulationTime) {
        Logging* log = MainClass::getLog();
        if (log->isSimLogging())
            log->getSimLog() << "measureOut not initialized, couldn't send Time: " << t << "\n";
    }
    currentSimulationTime = t;
}

void Simulation::resetCurrentTime() { currentSimulationTime = startTime; }

namespace {
std::string number16(double v) {
    std::ostringstream s;
    s.precision(16);
    s << v;
    return s.str();
}
}  // namespace

void Simulation::measureOut(DefaultGM* element, double value) {
    if (!initialised) {
        Logging* log = MainClass::getLog();
        if (log->isSimLogging())
            log->getSimLog() << "meassureOut not initialized: " << number16(value) << "\n";
        return;
    }
    sendResult("TIME;" + number16(currentSimulationTime.FullDateTime()) + "\n" + element->getName() +
                   "<" + element->getType() + ">;" + number16(value) + "\n",
               true);
}

void Simulation::displayOut(DefaultGM* element, double value) {
    if (!initialised) {
        Logging* log = MainClass::getLog();
        if (log->isSimLogging())
            log->getSimLog() << "displayOut not initialized: " << number16(value) << "\n";
        return;
    }
    sendResult("TIME;" + number16(currentSimulationTime.FullDateTime()) + "\n" + element->getName() +
                   "<" + element->getType() + ":Display>;" + number16(value) + "\n",
               false);
}

void Simulation::sendResult(const std::string& message, bool blankLineInTrace) {
    // The socket of the result port is connected here once the channel exists.
    Logging* log = MainClass::getLog();
    if (log->isSimLogging()) {
        log->getSimLog() << "NO_SOCK: " << message;
        if (blankLineInTrace) log->getSimLog() << "\n";
    }
}
