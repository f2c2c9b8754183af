#pragma once
// Test doubles for the net kernel, shared by the kernel's tests:
//  - TestNet: a net whose buildNet/createTokens run whatever the test sets;
//  - TestTransition: a transition with settable delay, time guard, global
//    guard, priority and weight, a default binding search and token move,
//    and counters of the calls the kernel makes on it;
//  - TestMeasure: a measure of a fixed kind (instantaneous, time-averaged,
//    accumulative) that can report its destruction;
//  - CountingToken: a token colour that reports its destruction;
//  - TransLogToFolder: switches the process-wide transition trace on, into a
//    given folder, for the lifetime of the object.
// Everything is header-only so that any test file can include it.
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/MainClass.h"
#include "core/NetClass.h"
#include "core/Place.h"
#include "core/Token.h"
#include "engine/Binding.h"
#include "engine/Transition.h"
#include "measures/MeasureObj.h"

namespace testnet {

// The number of handles sharing `p`'s counter; 0 for an empty handle.
template <class T>
unsigned long handleCount(const Ptr<T>& p) {
    return p.GetRefObject() ? p.GetRefObject()->activeCount() : 0;
}

inline Ptr<Token> intToken(long value) { return Ptr<Token>(new Token_int(value)); }

// A colour without content whose destructions are counted in *destroyed.
class CountingToken : public Token {
public:
    explicit CountingToken(int* destroyed = nullptr, std::string colour = "counting")
        : destroyed_(destroyed), colour_(std::move(colour)) {}
    ~CountingToken() override {
        if (destroyed_ != nullptr) ++*destroyed_;
    }
    const std::string getName() const override { return colour_; }

private:
    int* destroyed_;
    std::string colour_;
};

// A net built by the test. buildNet and createTokens append their names to
// `calls` and then run the matching hook, if any.
class TestNet : public NetClass {
public:
    std::function<void(TestNet&)> onBuild;
    std::function<void(TestNet&)> onCreateTokens;
    std::vector<std::string> calls;

    void buildNet() override {
        calls.push_back("buildNet");
        if (onBuild) onBuild(*this);
    }
    void createTokens() override {
        calls.push_back("createTokens");
        if (onCreateTokens) onCreateTokens(*this);
    }
};

// A measure of a fixed kind. `destroyed`, when given, counts its destructions.
class TestMeasure : public MeasureObj {
public:
    TestMeasure(const char* name, NetClass* net, bool isAccumulative, bool isTimeAverage,
                int* destroyed = nullptr)
        : MeasureObj(name, net, false),
          accumulative_(isAccumulative),
          timeaverage_(isTimeAverage),
          destroyed_(destroyed) {}
    ~TestMeasure() override {
        if (destroyed_ != nullptr) ++*destroyed_;
    }

    static TestMeasure* instantaneous(const char* name, NetClass* net, int* destroyed = nullptr) {
        return new TestMeasure(name, net, false, false, destroyed);
    }
    static TestMeasure* timeAveraged(const char* name, NetClass* net, int* destroyed = nullptr) {
        return new TestMeasure(name, net, false, true, destroyed);
    }
    static TestMeasure* accumulating(const char* name, NetClass* net, int* destroyed = nullptr) {
        return new TestMeasure(name, net, true, false, destroyed);
    }

    double measure(double) override { return value; }
    bool accumulative() override { return accumulative_; }
    bool timeaverage() override { return timeaverage_; }
    void accum(const Binding* b, double weight) override {
        accumulated.push_back({b, weight});
    }
    void notify() override { ++notifyCalls; }

    double value = 0.0;
    std::vector<std::pair<const Binding*, double>> accumulated;
    int notifyCalls = 0;

private:
    bool accumulative_;
    bool timeaverage_;
    int* destroyed_;
};

// A transition whose behaviour the test sets through public members.
//
// Binding search (generateBindingList): `generator` when set; otherwise one
// candidate made of the first m bindable tokens of every input place (m the
// arc multiplicity, at least 1), or no candidate when a place has too few.
// "Bindable" means: offered by getPlaceMarking (so first-tokens-only places
// and the infinite-server free list are respected) and still on that place.
//
// Firing (moveTokens): records the binding in `moved`, then runs `mover`
// when set; otherwise removes every bound token from the input place that
// holds it and puts m new Token_int(0) on every output place.
class TestTransition : public Transition {
public:
    struct Options {
        int priority = 0;
        double weight = 1.0;
        bool infinite = false;
        bool localGuard = false;
        bool takeFirst = false;
        bool exp = false;
    };

    TestTransition(int id, const char* name, NetClass* net)
        : TestTransition(id, name, net, Options()) {}
    TestTransition(int id, const char* name, NetClass* net, const Options& o)
        : Transition(id, name, net, PlaceIdentMap(), "", o.weight, o.priority, o.exp, o.takeFirst,
                     o.infinite, o.localGuard) {}
    ~TestTransition() override {
        if (destroyed != nullptr) ++*destroyed;
    }

    // ---- timing ----
    Seconds_T delaySeconds = 0.0;
    std::function<Seconds_T(TokenList&)> delayFn;  // overrides delaySeconds
    bool timeguardOn = false;
    Seconds_T timeguardSeconds = 0.0;
    mutable int delayCalls = 0;
    std::vector<DateTime> timeguardQueries;  // the `now` of every Timeguard call

    Seconds_T getFiringDelay(TokenList& binding) const override {
        ++delayCalls;
        return delayFn ? delayFn(binding) : delaySeconds;
    }
    bool hasTimeguard() const override { return timeguardOn; }
    Seconds_T Timeguard(const DateTime& at) override {
        timeguardQueries.push_back(at);
        return timeguardSeconds;
    }

    // ---- what bindings copy from the transition ----
    std::optional<int> reportedPriority;
    std::optional<double> reportedWeight;
    int getPriority() const override {
        return reportedPriority ? *reportedPriority : Transition::getPriority();
    }
    double getFiringWeight() const override {
        return reportedWeight ? *reportedWeight : Transition::getFiringWeight();
    }

    // ---- global guard ----
    std::function<bool()> guard;  // true when unset
    int globalGuardCalls = 0;
    bool globalGuard() override {
        ++globalGuardCalls;
        return guard ? guard() : true;
    }

    // ---- binding search and firing ----
    std::function<TempBindingList*()> generator;
    std::function<void(TokenList&)> mover;
    int generateCalls = 0;
    std::vector<TokenList> moved;
    int* destroyed = nullptr;

    TempBindingList* generateBindingList() override {
        ++generateCalls;
        return generator ? generator() : firstTokensOfEveryInputPlace();
    }

    void moveTokens(TokenList& binding) override {
        moved.push_back(binding);
        if (mover) {
            mover(binding);
            return;
        }
        for (const Ptr<Token>& token : binding) {
            for (Place* p : inPlaces) {
                const TokenList& marking = p->getFullMarking();
                if (std::find(marking.begin(), marking.end(), token) != marking.end()) {
                    p->removeToken(token);
                    break;
                }
            }
        }
        for (Place* p : outPlaces) {
            const int m = std::max(1, p->getInTransitionMultiplicity(getID()));
            for (int i = 0; i < m; ++i) p->addToken(Ptr<Token>(new Token_int(0)));
        }
    }

    TempBindingList* firstTokensOfEveryInputPlace() {
        auto* list = new TempBindingList;
        auto* candidate = new TokenList;
        for (Place* p : inPlaces) {
            int need = std::max(1, p->getOutTransitionMultiplicity(getID()));
            const TokenList& marking = p->getFullMarking();
            for (const Ptr<Token>& token : getPlaceMarking(*p)) {
                if (need == 0) break;
                const bool onPlace = std::find(marking.begin(), marking.end(), token) != marking.end();
                const bool taken = std::find(candidate->begin(), candidate->end(), token) != candidate->end();
                if (onPlace && !taken) {
                    candidate->push_back(token);
                    --need;
                }
            }
            if (need > 0) {
                delete candidate;
                return list;
            }
        }
        list->push_back(candidate);
        return list;
    }
};

// Turns the process-wide transition trace on, writing into `folder`, and
// restores the previous folder (with every trace off) when destroyed.
class TransLogToFolder {
public:
    explicit TransLogToFolder(const std::string& folder)
        : previous_(MainClass::getLog()->getLogDir()) {
        MainClass::getLog()->setLogFolder(folder);
        MainClass::getLog()->open();
    }
    ~TransLogToFolder() { MainClass::getLog()->setLogFolder(previous_); }
    TransLogToFolder(const TransLogToFolder&) = delete;
    TransLogToFolder& operator=(const TransLogToFolder&) = delete;
    // Closes the traces so that their files can be read completely.
    void finish() { MainClass::getLog()->close(); }

private:
    std::string previous_;
};

}  // namespace testnet
