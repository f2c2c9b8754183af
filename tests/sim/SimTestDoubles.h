#pragma once
// Test doubles for the simulation driver:
//  - ProbeSimulation: a driver whose internal state the tests read and set;
//  - JournalMeasure: a measure of a chosen kind that writes every observation
//    (accumulation, reading of its value) into a shared journal, as text;
//  - ClockNet: a net that a run can rebuild: one place "P" and one
//    transition "Tick" that fires every `period` seconds, moving one token
//    from P back to P, until it has fired `limit` times in the current build
//    (the marking is then dead). It counts its builds, its database-token
//    loads and how many of its transitions were destroyed.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "core/NetClass.h"
#include "core/Place.h"
#include "engine/Binding.h"
#include "engine/EngineTestDoubles.h"
#include "engine/RandomWrapper.h"
#include "measures/MeasureObj.h"
#include "sim/Simulation.h"

namespace simtest {

// The maximum wall-clock limit: the value that a requested limit of 0 becomes,
// and which switches the limit off.
constexpr unsigned int kNoLimit = std::numeric_limits<unsigned int>::max();

// Plain text of a time, e.g. "25" or "50.5".
inline std::string num(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

class ProbeSimulation : public Simulation {
public:
    ProbeSimulation(NetClass* net, const DateTime& start, const DateTime& stop, int samplingPoints,
                    int simulationType, double epsMax, unsigned int maxRunTime,
                    double samplingInterval = 0.0, const std::string& resultPort = "NULL",
                    bool percentRule = false)
        : Simulation(net, "TestNet", resultPort, start, stop, samplingPoints, simulationType, true, percentRule,
                     epsMax, samplingInterval, maxRunTime) {}

    using Simulation::analysisState;
    using Simulation::crossLevels;
    using Simulation::restartTime;
    using Simulation::savedStates;
    using Simulation::fireWeight;
    using Simulation::loopCount;
    using Simulation::nextSamplingTime;
    using Simulation::noStopTime;
    using Simulation::resetMeasures;
    using Simulation::samplingInterval;
};

enum class Kind { Instantaneous, TimeAveraged, Accumulative };

// Journal lines:
//   "<measure> accum <transition>@<t>"  an executed event folded in
//   "<measure> accum marker@<t>"        a sampling-time marker folded in
//   "<measure> measure=<v>"             the value read at a sampling point
// Every line is prefixed with "r<k> " where k is the driver's replication
// counter at that moment.
class JournalMeasure : public MeasureObj {
public:
    JournalMeasure(const char* name, NetClass* net, Kind kind, std::vector<std::string>* journal,
                   int* destroyed = nullptr)
        : MeasureObj(name, net, false), kind_(kind), journal_(journal), destroyed_(destroyed) {
        firstTime = lastTime = value = 0.0;
    }
    ~JournalMeasure() override {
        if (destroyed_ != nullptr) ++*destroyed_;
    }

    // The value reported at sampling points; a constant 0 when unset.
    std::function<double()> valueFn;

    double measure(double arg) override {
        args.push_back(arg);
        windowStarts.push_back(firstTime);
        const double v = valueFn ? valueFn() : 0.0;
        note("measure=" + num(v));
        return v;
    }
    bool accumulative() override { return kind_ == Kind::Accumulative; }
    bool timeaverage() override { return kind_ == Kind::TimeAveraged; }
    void accum(const Binding* b, double weight) override {
        weights.push_back(weight);
        accumWindowStarts.push_back(firstTime);
        const Transition* t = b->getBoundTransition();
        note(std::string("accum ") + (t != nullptr ? t->getName() : std::string("marker")) + "@" +
             num(b->getTime().FullDateTime()));
        lastTime = b->getTime().FullDateTime();
        value += 1.0;  // counts the accumulations of the current window
    }

    void markPrecise() { precision_reached = true; }
    double windowStart() const { return firstTime; }
    // Accumulations since the window was last opened.
    double windowCount() const { return value; }
    const std::list<double>& means() const { return AveragedMean; }
    const std::list<double>& variances() const { return Variance; }
    const std::list<double>& halfWidths() const { return DeltaX; }
    const std::list<double>& epsilons() const { return Epsilon; }

    std::vector<double> args;              // argument of every measure() call
    std::vector<double> windowStarts;      // window start seen by every measure() call
    std::vector<double> accumWindowStarts;  // window start seen by every accum() call
    std::vector<double> weights;           // weight of every accum() call

private:
    void note(const std::string& what) {
        if (journal_ == nullptr) return;
        const int loop = Simulation::sim != nullptr ? Simulation::sim->getLoopCount() : -1;
        journal_->push_back("r" + std::to_string(loop) + " " + name + " " + what);
    }

    Kind kind_;
    std::vector<std::string>* journal_;
    int* destroyed_;
};

// The lines of `journal` that begin with `prefix`.
inline std::vector<std::string> linesStartingWith(const std::vector<std::string>& journal,
                                                  const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : journal)
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
}

// The transition of a ClockNet: a fixed delay; the token goes back to P
// (with `extra` more) until the transition has fired `limit` times.
class Clock : public enginetest::TestTransition {
public:
    Clock(int id, const char* name, NetClass* net, double period, int limit, int* destroyed, int extra = 0)
        : TestTransition(id, name, net), limit_(limit), extra_(extra), destroyed_(destroyed) {
        fixedDelay = period;
    }
    ~Clock() override {
        if (destroyed_ != nullptr) ++*destroyed_;
    }
    void moveTokens(TokenList& binding) override {
        produce = getFireCount() < limit_ ? 1 + extra_ : 0;
        TestTransition::moveTokens(binding);
    }

private:
    int limit_;
    int extra_;
    int* destroyed_;
};

class ClockNet : public NetClass {
public:
    // `growth` more tokens on P after every firing: a queue that grows.
    ClockNet(double period, int limit, int tokens = 1, int growth = 0)
        : period_(period), limit_(limit), tokens_(tokens), growth_(growth) {}

    void buildNet() override {
        ++builds;
        Place* p = new Place(1, "P", this, false, 0);
        addPlace(p);
        for (int i = 0; i < tokens_; ++i) p->addToken(Ptr<Token>(new Token_int(i)));
        auto* t = new Clock(1, "Tick", this, period_, limit_, &transitionsDestroyed, growth_);
        addTransition(t);
        NetClass::linkIntoTransition(p, t, 1);
        NetClass::linkOutOfTransition(t, p, 1);
    }
    void createTokens() override { ++tokenLoads; }

    // Firings of "Tick" in the current build.
    int fires() {
        Transition* t = getTransitions().count("Tick") ? getTransitions().at("Tick") : nullptr;
        return t != nullptr ? t->getFireCount() : -1;
    }

    int builds = 0;
    int tokenLoads = 0;
    int transitionsDestroyed = 0;

private:
    double period_;
    int limit_;
    int tokens_;
    int growth_;
};

}  // namespace simtest
