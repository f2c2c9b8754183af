#pragma once
// Small nets for the tests of the transition engine: a bare net, a driver
// whose initialisation and single-step mode the test controls, a transition
// whose search, firing, delay and guards the test sets, a measure that
// records what it saw, and helpers for traces and random streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainClass.h"
#include "core/NetClass.h"
#include "core/Place.h"
#include "core/Token.h"
#include "engine/Binding.h"
#include "engine/Delay.h"
#include "engine/RandomWrapper.h"
#include "engine/Transition.h"
#include "measures/MeasureObj.h"
#include "sim/Simulation.h"
#include "support/TestSupport.h"

namespace enginetest {

// A net whose structure the test builds by hand.
class Net : public NetClass {
public:
    void buildNet() override {}
    void createTokens() override {}
};

// The driver a run would have; the test marks it initialised (so that the
// result channel writes its lines) and may switch single-step mode on.
class TestSimulation : public Simulation {
public:
    explicit TestSimulation(NetClass* net)
        : Simulation(net, "TestNet", "NULL", start(), DateTime(1000.0), 10, 1, true, false, 0.05,
                     1.0, 0) {}
    bool isSingleStep() const override { return singleStep; }
    void setInitialised(bool b) { initialised = b; }
    bool singleStep = false;

private:
    static const DateTime& start() {
        static const DateTime zero(0.0);
        return zero;
    }
};

// One net with its driver; the clock starts at 0.
struct Env {
    Net net;
    TestSimulation* sim;
    Env() : sim(new TestSimulation(&net)) { net.setSimulation(sim); }
    ~Env() {
        net.setSimulation(nullptr);
        delete sim;
    }
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;
    void clock(double t) { sim->updateSimulationTime(DateTime(t)); }
    double now() const { return sim->getCurrentSimulationTime().FullDateTime(); }
};

// A place registered with the net.
inline Place* makePlace(Net& net, int id, const char* name, unsigned int capacity = 0,
                        bool firstTokensOnly = false) {
    Place* p = new Place(id, name, &net, firstTokensOnly, capacity);
    net.addPlace(p);
    return p;
}

// Puts a fresh integer token on `p` (through addToken) and returns it.
inline Ptr<Token> put(Place* p, long value = 0) {
    Ptr<Token> token(new Token_int(value));
    p->addToken(token);
    return token;
}

inline bool holds(const TokenList& list, const Ptr<Token>& token) {
    return std::find(list.begin(), list.end(), token) != list.end();
}

inline long countOf(const TokenList& list, const Ptr<Token>& token) {
    return std::count(list.begin(), list.end(), token);
}

inline bool lies(const Place* p, const Ptr<Token>& token) { return holds(p->getFullMarking(), token); }

// A transition whose behaviour the test chooses.
//
// Binding search: `generator` when set; otherwise every combination that takes
// w distinct tokens from each input place (w the arc multiplicity), reading
// each place through getPlaceMarking and keeping only the tokens that lie on
// that place (an infinite server's free list holds the tokens of all inputs).
// Combinations come in marking order; a transition without input places has
// one empty candidate.
//
// Firing: every bound token is removed from the input place that holds it,
// then `produce` new tokens (default: the arc multiplicity) go to each output
// place; `mover`, when set, replaces this.
class TestTransition : public Transition {
public:
    struct Options {
        bool infinite = false;
        int priority = 0;
        double weight = 1.0;
        bool localGuard = false;
    };

    TestTransition(int id, const char* name, NetClass* net) : TestTransition(id, name, net, Options()) {}
    TestTransition(int id, const char* name, NetClass* net, const Options& o)
        : Transition(id, name, net, PlaceIdentMap{{"local", "net"}}, "page", o.weight, o.priority,
                     false, false, o.infinite, o.localGuard) {}

    // ---- registration ----
    TestTransition* in(Place* p, int multiplicity = 1) {
        NetClass::linkIntoTransition(p, this, multiplicity);
        return this;
    }
    TestTransition* out(Place* p, int multiplicity = 1) {
        NetClass::linkOutOfTransition(this, p, multiplicity);
        return this;
    }

    // ---- delay ----
    bool exponential = false;  // draw Exp(mean) from the transition's delay stream
    double mean = 1.0;
    double fixedDelay = 0.0;   // otherwise this constant
    mutable std::vector<double> drawnDelays;
    Seconds_T getFiringDelay(TokenList&) const override {
        const double d = exponential ? delay.Exp(mean) : fixedDelay;
        drawnDelays.push_back(d);
        return d;
    }

    // What a binding copies from the transition may change during a test.
    int getPriority() const override { return priority; }
    void setPriority(int p) { priority = p; }

    // ---- time guard ----
    bool timeguard = false;
    std::function<double(const DateTime&)> timeguardFn;  // seconds until the guard opens
    bool hasTimeguard() const override { return timeguard; }
    Seconds_T Timeguard(const DateTime& at) override { return timeguardFn ? timeguardFn(at) : 0.0; }

    // ---- global guard ----
    std::function<bool()> guard;     // true when unset
    std::vector<Place*> guardPlaces;  // registered by initGlobalGuards
    int guardCalls = 0;
    bool globalGuard() override {
        ++guardCalls;
        note("globalGuard");
        return guard ? guard() : true;
    }
    void initGlobalGuards() override {
        for (Place* p : guardPlaces) p->addGlobalGuardTransition(this);
    }
    bool checkSpace() const override {
        note("checkSpace");
        return Transition::checkSpace();
    }

    // ---- search ----
    std::function<TempBindingList*()> generator;
    int generateCalls = 0;
    std::vector<std::vector<TokenList>> candidateHistory;  // what every call proposed
    TempBindingList* generateBindingList() override {
        ++generateCalls;
        note("generate");
        TempBindingList* list = generator ? generator() : allCombinations();
        std::vector<TokenList> copy;
        for (TokenList* c : *list) copy.push_back(*c);
        candidateHistory.push_back(copy);
        return list;
    }

    // ---- firing ----
    int produce = -1;  // tokens per output place; -1: the arc multiplicity
    std::function<void(TokenList&)> mover;
    std::vector<TokenList> moved;
    void moveTokens(TokenList& binding) override {
        note("moveTokens");
        moved.push_back(binding);
        if (mover) {
            mover(binding);
            return;
        }
        for (const Ptr<Token>& token : binding)
            for (Place* p : inPlaces)
                if (lies(p, token)) {
                    p->removeToken(token);
                    break;
                }
        for (Place* p : outPlaces) {
            const int n = produce >= 0 ? produce : p->getInTransitionMultiplicity(id);
            for (int i = 0; i < n; ++i) p->addToken(Ptr<Token>(new Token_int(100 + i)));
        }
    }
    std::vector<TokenList> logged;
    void log(TokenList& binding) override {
        note("log");
        logged.push_back(binding);
    }
    double displayValue = 0.0;
    double display(TokenList&) override {
        note("display");
        return displayValue;
    }

    // ---- observation ----
    std::vector<std::string>* journal = nullptr;  // shared record of calls, in order
    void note(const std::string& what) const {
        if (journal != nullptr) journal->push_back(name + "." + what);
    }
    // The next number of the choice stream and of the delay stream; used to
    // show how many numbers the engine took from them.
    double nextChoiceUniform() const { return random.randu01(); }
    double nextDelayUniform() const { return delay.randu01(); }

    TempBindingList* allCombinations() {
        std::vector<TokenList> partial{TokenList{}};
        for (Place* p : inPlaces) {
            const int w = p->getOutTransitionMultiplicity(id);
            if (w <= 0) continue;
            std::vector<Ptr<Token>> offered;
            for (const Ptr<Token>& t : getPlaceMarking(*p))
                if (lies(p, t)) offered.push_back(t);
            std::vector<TokenList> subsets;
            choose(offered, 0, w, TokenList{}, subsets);
            std::vector<TokenList> next;
            for (const TokenList& prefix : partial)
                for (const TokenList& s : subsets) {
                    bool clash = false;
                    for (const Ptr<Token>& t : s) clash = clash || holds(prefix, t);
                    if (clash) continue;
                    TokenList c = prefix;
                    c.insert(c.end(), s.begin(), s.end());
                    next.push_back(c);
                }
            partial = next;
        }
        auto* list = new TempBindingList;
        for (const TokenList& c : partial) list->push_back(new TokenList(c));
        return list;
    }

private:
    static void choose(const std::vector<Ptr<Token>>& from, size_t start, int k, TokenList current,
                       std::vector<TokenList>& out) {
        if (k == 0) {
            out.push_back(current);
            return;
        }
        for (size_t i = start; i < from.size(); ++i) {
            TokenList c = current;
            c.push_back(from[i]);
            choose(from, i + 1, k - 1, c, out);
        }
    }
};

// A candidate list made of the given candidates (for `generator`).
inline TempBindingList* candidates(const std::vector<TokenList>& cs) {
    auto* list = new TempBindingList;
    for (const TokenList& c : cs) list->push_back(new TokenList(c));
    return list;
}

// A measure that records the token count of one place whenever it is fed
// and notified; attach it to a place (the place then owns it).
class RecordingMeasure : public MeasureObj {
public:
    RecordingMeasure(const char* name, NetClass* net, const Place* watched,
                     std::vector<std::string>* journal = nullptr)
        : MeasureObj(name, net, false), watched_(watched), journal_(journal) {}
    double measure(double) override { return 0.0; }
    bool accumulative() override { return false; }
    bool timeaverage() override { return true; }
    void accum(const Binding* b, double weight) override {
        accumSizes.push_back(watched_->getMarkingSize());
        accumBindings.push_back(b);
        accumWeights.push_back(weight);
        if (journal_ != nullptr) journal_->push_back(name + ".accum");
    }
    void notify() override {
        notifySizes.push_back(watched_->getMarkingSize());
        if (journal_ != nullptr) journal_->push_back(name + ".notify");
    }
    std::vector<int> accumSizes;
    std::vector<const Binding*> accumBindings;
    std::vector<double> accumWeights;
    std::vector<int> notifySizes;

private:
    const Place* watched_;
    std::vector<std::string>* journal_;
};

// Turns the process-wide traces (simulation, transition, server) on in
// `folder` for the lifetime of the object; text() closes them and returns
// what the transition trace received.
class Traces {
public:
    explicit Traces(const testsupport::TempDir& dir) : dir_(dir), previous_(MainClass::getLog()->getLogDir()) {
        MainClass::getLog()->setLogFolder(dir.path().string());
        MainClass::getLog()->open();
    }
    ~Traces() {
        MainClass::getLog()->close();
        MainClass::getLog()->setLogFolder(previous_);
    }
    Traces(const Traces&) = delete;
    Traces& operator=(const Traces&) = delete;
    std::string trans() {
        MainClass::getLog()->close();
        return dir_.read("trans.log");
    }
    std::string sim() {
        MainClass::getLog()->close();
        return dir_.read("sim.log");
    }

private:
    const testsupport::TempDir& dir_;
    std::string previous_;
};

// Points the log folder somewhere else (traces stay off) for the lifetime of
// the object.
class LogDir {
public:
    explicit LogDir(const std::string& folder) : previous_(MainClass::getLog()->getLogDir()) {
        MainClass::getLog()->setLogFolder(folder);
    }
    ~LogDir() { MainClass::getLog()->setLogFolder(previous_); }
    LogDir(const LogDir&) = delete;
    LogDir& operator=(const LogDir&) = delete;

private:
    std::string previous_;
};

// The lines of a text.
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

// Index of the first line at or after `from` that equals `line`; -1 if none.
inline long findLine(const std::vector<std::string>& ls, const std::string& line, long from = 0) {
    for (size_t i = static_cast<size_t>(std::max(0L, from)); i < ls.size(); ++i)
        if (ls[i] == line) return static_cast<long>(i);
    return -1;
}

// Seeds the random package so that the next streams created are known.
inline const unsigned long* knownSeed() {
    static const unsigned long seed[6] = {1234, 2345, 3456, 4567, 5678, 6789};
    return seed;
}

// The two streams a transition created right after seeding will own:
// its delay stream and then its choice stream.
struct TransitionStreams {
    TransitionStreams() : seeded(RandomWrapper::SetPackageSeed(knownSeed())) {}
    bool seeded;
    Delay delay;
    RandomWrapper random;
};

// Reseeds the package so that the next transition gets the streams that a
// TransitionStreams made just before owns.
inline void reseed() { ASSERT_TRUE(RandomWrapper::SetPackageSeed(knownSeed())); }

// A test transition registered with `net` (which then owns it).
inline TestTransition* addTransition(Net& net, int id, const char* name, bool infinite = false) {
    TestTransition::Options o;
    o.infinite = infinite;
    auto* t = new TestTransition(id, name, &net, o);
    net.addTransition(t);
    return t;
}

}  // namespace enginetest
