#include "sim/Simulation.h"

#include <cstdint>
#include <fstream>
#include <iostream>
#include <sstream>

#include "core/DefaultGM.h"
#include "core/NetClass.h"
#include "engine/Binding.h"
#include "engine/Transition.h"
#include "measures/MeasureObj.h"
#include "platform/Assert.h"
#include "platform/Logging.h"
#include "platform/WholeFile.h"
#include "platform/net/ChannelWriter.h"
#include "platform/net/Socket.h"
#include "sim/TransientSchedule.h"

Simulation* Simulation::sim = nullptr;

namespace {
Logging* logs() { return Logging::process(); }

std::string number16(double v) {
    std::ostringstream s;
    s.precision(16);
    s << v;
    return s.str();
}
}  // namespace

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
    task::initialize();
}

Simulation::~Simulation() {
    if (measureSocket != nullptr) {
        // The front end learns that the run is over; a broken channel
        // swallows this like every other message.
        sendOnChannel("EXIT;0\n");
        if (channelWriter) {
            channelWriter->finish();
            reportDroppedMessages();
            channelWriter.reset();
        }
        measureSocket->close();
        delete measureSocket;
        measureSocket = nullptr;
    }
    if (net != nullptr && net->getSimulation() == this) net->setSimulation(nullptr);
    sim = nullptr;
}

// ---------------------------------------------------------------------------
// Set-up

void Simulation::init() {
    initMeasureSocket();
    if (measureSocket != nullptr) {
        sendOnChannel("NETNAME;" + netName + "\n" + (modelTimeAxis ? "XTICKFORMAT;0\n" : "XTICKFORMAT;3\n"));
        if (simulationType == 0) {
            sendOnChannel("STARTTIME;" + number16(startTime.FullDateTime()) + "\n");
            sendOnChannel("ENDTIME;" + number16(stopTime.FullDateTime()) + "\n");
        }
        sendOnChannel("TIME;" + number16(currentSimulationTime.FullDateTime()) + "\n");
    }
    net->setSimulation(this);
    initTransitions();
    initialised = true;
}

void Simulation::initMeasureSocket() {
    if (resultPort == "NULL") return;
    std::cout << "Try to connect to: " << resultPort << std::endl;
    // "localhost:port" is the local transport, any other host TCP; the front
    // end gets about a hundred seconds to start listening, and no more than
    // the wall-clock limit of the run.
    int attempts = 100;
    if (maxRunTime != kNoRunTimeLimit && maxRunTime > 0 && maxRunTime < 100) attempts = static_cast<int>(maxRunTime);
    measureSocket = socket_t::connect(resultPort.c_str(), socket_t::sock_any_domain, attempts, 1);
    channelWriter = std::make_unique<ChannelWriter>(measureSocket);
    // No write waits past the wall-clock limit: what the front end cannot
    // take by then is dropped, and the run ends on time.
    channelWriter->setDeadline([this] {
        if (unlimitedRunTime || runStartWallClock == 0) return ChannelWriter::clock::time_point::max();
        const unsigned long elapsed = elapsedSeconds();
        const unsigned long left = elapsed >= maxRunTime ? 0 : maxRunTime - elapsed;
        return ChannelWriter::clock::now() + std::chrono::seconds(left);
    });
    if (measureSocket == nullptr) {
        std::cout << "Sim::init Failed to connect to server " << resultPort << std::endl;
        return;
    }
    if (measureSocket->is_ok()) {
        std::cout << "connection established.." << std::endl;
    } else {
        char text[256];
        measureSocket->get_error_text(text, sizeof text);
        std::cout << "Sim::init Connection to server " << resultPort << " failed: " << text << std::endl;
    }
}

bool Simulation::isSingleStep() const { return false; }

void Simulation::initTransitions() {
    if (logs()->isSimLogging())
        logs()->getSimLog() << "************** starting init()... *****************" << "\n";
    for (const auto& entry : net->getTransitions()) entry.second->startup();
}

void Simulation::resetCurrentTime() { currentSimulationTime = startTime; }

void Simulation::rebuildNet() { net->rebuildForRun(simulationType); }

// ---------------------------------------------------------------------------
// The event step

bool StepHooks::beforeMeasures(Binding&) { return true; }
bool StepHooks::beforeFiring(Binding&) { return true; }
void StepHooks::afterFiring() {}

Binding* Simulation::chooseEvent(bool all) {
    getFirstBindingsOfAllTransitions(&candidates, all);
    return resolve_conflicts(candidates);  // through the virtual slot
}

StepResult Simulation::step(StepHooks& hooks) {
    Binding* b = chooseEvent(hooks.allTransitions);
    if (b == nullptr) return StepResult::Dead;
    eventTime = b->getTime();
    updateSimulationTime(eventTime);
    if (!hooks.beforeMeasures(*b)) return StepResult::Held;
    updateAllMeasures(b, true, false);
    if (!hooks.beforeFiring(*b)) return StepResult::Held;
    if (hooks.traceFiring && logs()->isSimLogging()) logs()->getSimLog() << "FIRING: " << *b << "\n";
    executeEvent(b);
    hooks.afterFiring();
    // Whatever the hooks did, the clock stands at the event just fired.
    SCPN_ASSERT(currentSimulationTime == eventTime, "src/sim/Simulation.cpp");
    return StepResult::Fired;
}

void Simulation::getFirstBindingsOfAllTransitions(std::list<Binding*>* out, bool all) {
    eventSelection.candidates(*net, out, all, currentSimulationTime);
}

Binding* Simulation::resolve_conflicts(std::list<Binding*>& candidates) {
    const bool tracing = logs()->isSimLogging();
    std::fstream& trace = logs()->getSimLog();
    if (tracing) trace << " ******* FIRE ****** " << currentSimulationTime << printEventList(candidates);
    if (candidates.empty()) {
        if (tracing) trace << "can't fire..." << "\n";
        return nullptr;
    }
    Binding* chosen = candidates.front();
    const std::size_t n = candidates.size();
    if (n >= 2) {
        if (tracing)
            trace << "\n\n\n     ----    !! select randomly !!    ---- \n\n"
                  << "\t" << n << "\t transitions in conflict:";
        if (candidates.front()->getPriority() > 0) {
            double total = 0.0;
            for (Binding* b : candidates) total += b->getWeight();
            const double r = random.randu01() * total;
            double sum = 0.0;
            auto it = candidates.begin();
            while (it != candidates.end() && r > (*it)->getWeight() + sum) {
                sum += (*it)->getWeight();
                ++it;
            }
            // Negative weights can carry the walk past the end; the last
            // candidate is then chosen.
            chosen = it == candidates.end() ? candidates.back() : *it;
            if (tracing)
                trace << "\t total amount of weights = " << total
                      << "\t randomly selected weight = " << r;
        } else {
            const long k = random.randint(0, static_cast<long>(n) - 1);
            auto it = candidates.begin();
            std::advance(it, k);
            chosen = *it;
            if (tracing) trace << "\t randomly selected event = " << k;
        }
        if (tracing) trace << "\n\n     ---- !! END of random select !!  ---- \n\n\n";
    }
    lastFiredTransition = chosen->getBoundTransition()->getName();
    return chosen;
}

void Simulation::updateSimulationTime(const DateTime& t) {
    if (currentSimulationTime == t) return;
    currentSimulationTime = t;
    if (!initialised && logs()->isSimLogging())
        logs()->getSimLog() << "measureOut not initialized, couldn't send Time: " << t << "\n";
}

void Simulation::executeEvent(Binding* b) {
    if (logs()->isEventLogging())
        logs()->getEventLog() << "************** EVENT BEGIN *********************"
                              << currentSimulationTime.FullDateTime() << *b << "\n\n";
    b->getBoundTransition()->fire(b, fireWeight);
}

void Simulation::updateAllMeasures(Binding* b, bool accumulate, bool timedOnly) {
    for (MeasureObj* m : net->getMeasureList()) {
        if (m->isImportanceFunction()) continue;
        if (resetMeasures) m->setFirstValue(true);
        if (m->precisionReached()) continue;
        if (m->getFirstValue()) {
            m->reset(startTime);
            m->setFirstValue(false);
        }
        if (timedOnly && !m->timeaverage() && !m->accumulative()) continue;
        if (accumulate) m->accum(b, fireWeight);
    }
    resetMeasures = false;
}

std::string Simulation::printEventList(std::list<Binding*>& events) {
    std::ostringstream text;
    text << " ******** ---- EventList ---- ********" << "\n";
    Transition* runOf = nullptr;
    int listed = 0;
    bool elided = false;
    for (Binding* b : events) {
        if (b->getBoundTransition() != runOf) {
            runOf = b->getBoundTransition();
            listed = 0;
            elided = false;
            text << *b << "\n";
            continue;
        }
        if (elided) continue;
        if (listed < MAXCOUNT) {
            ++listed;
            text << *b << "\n";
        } else {
            elided = true;
            std::cout << "Binding[..., " << (runOf ? runOf->getName() : std::string())
                      << ",  ...  ]" << std::endl;
        }
    }
    text << "---- --------- ----" << "\n";
    return text.str();
}

// ---------------------------------------------------------------------------
// Results file

void Simulation::shutdown() {
    // A trace that failed in the last events of the run is reported too.
    RunGuard::checkTraces();
    // The file is composed first and then written whole, so that a failed
    // write leaves the previous results as they were instead of half a file.
    // It is written before the same lines go to standard output: a run that
    // is being ended from outside (a parallel run losing a process gets a
    // second's grace) saves its results first.
    std::ostringstream file;
    std::ostringstream console;
    console.copyfmt(std::cout);
    console << "\n\n";
    const char* header = simulationType == 0 ? "RESULTS OF TRANSIENT SIMULATION"
                                             : "RESULTS OF STATIONARY SIMULATION";
    file << header << "\n";
    console << header << "\n";
    double shown = stopTime.FullDateTime();
    if (simulationType != 0) {
        // The model time the run reached: a run that ended early (accuracy,
        // a dead marking, the wall-clock limit) did not get to the stop time,
        // and one without a stop time has only this to show. The clock of a
        // RESTART run goes back at every retrial; its main path is the run.
        const double reached =
            simulationType == 1 ? currentSimulationTime.FullDateTime() : startTime.FullDateTime() + restartTime;
        shown = noStopTime || reached < shown ? reached : shown;
    }
    file.precision(3);
    console.precision(3);
    file << "SIMULATION TIME: " << shown << "\n\n";
    console << "SIMULATION TIME: " << shown << "\n\n";
    // A transient run with one sampling point observes it at the stop time.
    DateTime firstPoint = simulationType == 0 ? TransientSchedule(startTime, stopTime, samplingPoints).at(0) : startTime;
    for (MeasureObj* m : net->getMeasureList())
        m->writeResult(file, console, simulationType, &firstPoint, &samplingInterval);
    const std::string error = writeWholeFile("results.log", file.str(), !resultsInHaste);
    std::cout << console.str() << std::flush;
    std::cout.copyfmt(console);
    if (!error.empty()) {
        resultsSaved_ = false;
        std::cerr << "ERROR: results.log could not be written (" << error
                  << "); the results above are not saved." << std::endl;
    }
}

// ---------------------------------------------------------------------------
// Result channel

void Simulation::measureOut(DefaultGM* element, MeasureObj* measure) {
    if (analysisState == 0) return;
    double mean = 0.0, halfWidth = 0.0;
    measure->lastEstimate(mean, halfWidth);
    if (!initialised) {
        if (logs()->isSimLogging())
            logs()->getSimLog() << "meassureOut not initialized for measure object: " << number16(mean)
                                << "\n";
        return;
    }
    if (!hasMeasureSocket() && !logs()->isSimLogging()) return;  // nobody would receive it
    std::string message;
    if (simulationType == 0)
        message = "TIME;" + number16(nextSamplingTime.FullDateTime()) + "\n";
    else if (simulationType == 1)
        message = "TIME;" + number16(currentSimulationTime.FullDateTime()) + "\n";
    else if (simulationType == 2)
        message = "TIME;" + number16(restartTime) + "\n";
    if (measure->getWatch() && (simulationType == 0 || !measure->accumulative()))
        message += element->getName() + "<" + element->getType() + ":Mean>,<-ConfMin>,<+ConfMax>;" +
                   number16(mean) + "," + number16(mean - halfWidth) + "," +
                   number16(mean + halfWidth) + "\n";
    sendResult(message, true);
}

void Simulation::measureOut(DefaultGM* element, double value) {
    if (!initialised) {
        if (logs()->isSimLogging())
            logs()->getSimLog() << "meassureOut not initialized: " << number16(value) << "\n";
        return;
    }
    // Watched elements report after every firing: skip building a message
    // that nobody would receive.
    if (!hasMeasureSocket() && !logs()->isSimLogging()) return;
    sendResult("TIME;" + number16(currentSimulationTime.FullDateTime()) + "\n" + element->getName() +
                   "<" + element->getType() + ">;" + number16(value) + "\n",
               true);
}

void Simulation::displayOut(DefaultGM* element, double value) {
    if (!initialised) {
        if (logs()->isSimLogging())
            logs()->getSimLog() << "displayOut not initialized: " << number16(value) << "\n";
        return;
    }
    if (!hasMeasureSocket() && !logs()->isSimLogging()) return;
    sendResult("TIME;" + number16(currentSimulationTime.FullDateTime()) + "\n" + element->getName() +
                   "<" + element->getType() + ":Display>;" + number16(value) + "\n",
               false);
}

void Simulation::sendOnChannel(const std::string& message) {
    // One message, one write; a failed write is not retried (the channel
    // only loses what it cannot carry, the run goes on).
    if (channelWriter) channelWriter->send(message);
}

void Simulation::reportDroppedMessages() const {
    const std::uint64_t dropped = channelWriter->dropped();
    if (dropped == 0) return;
    std::cout << "Result port " << resultPort << ": the front end did not keep up with the run; " << dropped
              << (dropped == 1 ? " message was" : " messages were") << " dropped (a write waits at most "
              << ChannelWriter::kStallBound.count() / 1000
              << " s for it to take anything, and never past the wall-clock limit)." << std::endl;
}

void Simulation::sendResult(const std::string& message, bool blankLineInTrace) {
    if (measureSocket != nullptr) {
        sendOnChannel(message);
        return;
    }
    // Without a result channel the messages go to the simulation trace.
    if (logs()->isSimLogging()) {
        logs()->getSimLog() << "NO_SOCK: " << message;
        if (blankLineInTrace) logs()->getSimLog() << "\n";
    }
}
