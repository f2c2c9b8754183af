#include "engine/Transition.h"

#include <algorithm>
#include <climits>
#include <iostream>
#include <iterator>
#include <vector>

#include "core/MeasureKeeper.h"
#include "core/NetClass.h"
#include "core/Place.h"
#include "engine/EventSelection.h"
#include "measures/MeasureObj.h"
#include "platform/Assert.h"
#include "platform/Logging.h"

long Transition::globalFireCount = 0;

namespace {
const char* truth(bool b) { return b ? "TRUE" : "FALSE"; }

std::string attribute(const std::map<std::string, std::string>& attributes, const char* key) {
    auto it = attributes.find(key);
    return it == attributes.end() ? std::string() : it->second;
}
}  // namespace

// ---------------------------------------------------------------------------
// Construction

Transition::Transition(int uniqueid, const char* transitionName, NetClass* owner,
                       const PlaceIdentMap& places, std::string page, double weight, int prio,
                       bool isExp, bool first, bool infinite, bool localGuard)
    : TransitionLink(transitionName, "Transition", owner),
      placeIdents(places),
      fireCount(0),
      inEventList(false),
      timeguardOptimization(false),
      isInfinite(infinite),
      exp(isExp),
      takeFirst(first),
      hasLocalGuard_(localGuard),
      watch(false),
      firing(false),
      priority(prio),
      firingWeight(weight),
      immediate(false),
      displaying(false),
      logging(false),
      id(uniqueid),
      pagePath(std::move(page)) {}

Transition::Transition(int uniqueid, const char* transitionName, NetClass* owner,
                       const std::map<std::string, std::string>& attributes,
                       const PlaceIdentMap& places, std::string page, double weight, int prio,
                       bool isExp, bool first, bool infinite, bool localGuard)
    : Transition(uniqueid, transitionName, owner, places, std::move(page), weight, prio, isExp, first,
                 infinite, localGuard) {
    displaying = !attribute(attributes, "display_expr").empty();
    watch = attribute(attributes, "watch") == "true";
    immediate = attribute(attributes, "timed_trans") == "false";
    const std::string logName = attribute(attributes, "logfile_name");
    if (!logName.empty()) openLogfile(logName, attribute(attributes, "logfile_desc"));
}

Transition::~Transition() {
    if (selection != nullptr) selection->forget(this);
    // The bindings are ours; their tokens may outlive us (on places of a
    // later build, in saved states), so they must forget us first.
    for (Binding* b : bindings) {
        if (b->getBoundTokens() != nullptr)
            for (Ptr<Token>& token : *b->getBoundTokens()) token->removeTransition(this);
        delete b;
    }
    bindings.clear();
    // Measures attached to us directly count us as a holder; let go of them
    // as places do, so that a replaced build leaves no measure behind.
    for (MeasureObj* m : attachedMeasures) MeasureKeeper::process().release(m);
}

bool Transition::tracing() { return Logging::process()->isTransLogging(); }
std::fstream& Transition::trace() { return Logging::process()->getTransLog(); }

DateTime Transition::now() const {
    RunDriver* sim = net ? net->getSimulation() : nullptr;
    // Before a driver exists (tests of a bare net) the clock stands at 0.
    return sim ? sim->getCurrentSimulationTime() : DateTime(0.0);
}

// ---------------------------------------------------------------------------
// Defaults of the model's operations

int Transition::getPriority() const { return priority; }
Seconds_T Transition::getFiringDelay(TokenList&) const { return 0.0; }
double Transition::getFiringWeight() const { return firingWeight; }
int Transition::getFireCount() const { return fireCount; }
void Transition::setDisplaying(bool d) { displaying = d; }
void Transition::setWatch(bool w) { watch = w; }
void Transition::setImmediate(bool i) { immediate = i; }
Seconds_T Transition::Timeguard(const DateTime&) { return 0.0; }
bool Transition::hasTimeguard() const { return false; }
void Transition::log(TokenList&) {}
double Transition::display(TokenList&) { return 0.0; }
bool Transition::globalGuard() { return true; }
void Transition::initGlobalGuards() {}

void Transition::setLogfile(std::string logName, std::string description) {
    logging = !logName.empty();
    if (logging) openLogfile(logName, description);
}

void Transition::openLogfile(const std::string& logName, const std::string& description) {
    logfileName = Logging::process()->getLogDir() + "/" + logName;
    if (tracing()) trace() << "Opening " << logfileName << " ..." << "\n";
    logfile.open(logfileName, std::ios::in | std::ios::out | std::ios::app);
    logging = logfile.is_open();
    if (logging) {
        logfile << (description.empty()
                        ? "\t******** LOGFILE of Transition " + name + " *********"
                        : description)
                << "\n";
        logfile.close();
    } else {
        logfile.clear();
        std::cout << logfileName << " couldn't be opened!" << std::endl;
    }
}

// ---------------------------------------------------------------------------
// Structure

void Transition::addInPlace(Place* p) {
    inPlaces.push_back(p);
    if (tracing()) trace() << *this << " <- " << *p << "\n";
}

void Transition::addOutPlace(Place* p) {
    outPlaces.push_back(p);
    if (tracing()) trace() << *this << " -> " << *p << "\n";
}

void Transition::addMeasure(MeasureObj* m) {
    MeasureKeeper::process().hold(m);
    measures.insert(m);
    attachedMeasures.push_back(m);
}

void Transition::replaceMeasure(MeasureObj* old, MeasureObj* replacement) {
    if (measures.erase(old) > 0) measures.insert(replacement);
    MeasureKeeper::process().rebind(attachedMeasures, old, replacement);
}

void Transition::startup() {
    inEventList = false;
    setTimeguardOptimization(true);
    if (tracing()) trace() << name << " startup 1 ..." << "\n";
    updateAffectedTransitionList();
    if (tracing()) trace() << name << " startup 2 ..." << "\n";
    affectedPlaces.insert(affectedPlaces.end(), inPlaces.begin(), inPlaces.end());
    affectedPlaces.insert(affectedPlaces.end(), outPlaces.begin(), outPlaces.end());
    if (tracing()) trace() << name << " startup 3 ..." << "\n";
    for (Place* p : affectedPlaces)
        for (MeasureObj* m : p->getMeasures()) measures.insert(m);
    updateEventList();
}

void Transition::updateAffectedTransitionList() {
    for (Place* p : inPlaces) {
        // Producers into p may regain space when we take tokens from p.
        const auto& producers = p->getInTransitions();
        couldEnableTransitions.insert(couldEnableTransitions.end(), producers.begin(), producers.end());
    }
    for (Place* p : outPlaces) {
        // Producers into p may lose space when we add tokens to p; those with
        // a local guard may also become enabled by what we add.
        for (Transition* u : p->getInTransitions()) {
            couldDisableTransitions.push_back(u);
            if (u->hasLocalGuard()) couldEnableTransitions.push_back(u);
        }
        // Consumers of p gain tokens.
        const auto& consumers = p->getOutTransitions();
        couldEnableTransitions.insert(couldEnableTransitions.end(), consumers.begin(), consumers.end());
    }
    couldEnableTransitions.remove(this);
    couldDisableTransitions.remove(this);
}

void Transition::updateEventList() {
    if (tracing()) trace() << name << " startup 4 ..." << "\n";
    initGlobalGuards();
    if (tracing()) trace() << name << " startup 5 ..." << "\n";
    if (isOptimizingTimeguardTransition())
        addTimeguardBinding(now());
    else
        searchConfiguration();
    if (tracing()) trace() << name << " startup 6 ..." << "\n";
    Logging* logs = Logging::process();
    if (logs->isEventLogging()) {
        std::fstream& out = logs->getEventLog();
        out << "\n" << "EventList of transition " << *this << ":" << "\n";
        for (Binding* b : bindings) out << " event " << *b << "\n\n";
    }
}

// ---------------------------------------------------------------------------
// Enabling and binding search

bool Transition::checkSpace() const {
    for (Place* out : outPlaces) {
        if (out->getCapacity() == 0) continue;  // unbounded: takes anything
        const int m = out->getInTransitionMultiplicity(id);
        if (out->canTake(static_cast<unsigned int>(m))) continue;
        // A place we also take from frees what we take before we add.
        if (std::find(inPlaces.begin(), inPlaces.end(), out) != inPlaces.end()) {
            const int a = out->getOutTransitionMultiplicity(id);
            if (static_cast<long>(out->getCapacity()) >=
                static_cast<long>(out->getMarkingSize()) + m - a)
                continue;
        }
        if (tracing()) trace() << name << " checkSpace(): " << *out << " can't take token..." << "\n";
        return false;
    }
    return true;
}

const TokenList& Transition::getPlaceMarking(const Place& p) const {
    if (isInfinite) return notBoundTokens;
    return p.getMarking(p.getOutTransitionMultiplicity(id));
}

TempBindingList* Transition::getAvailableBindingList() {
    const bool space = checkSpace();
    const bool guard = globalGuard();
    if (tracing())
        trace() << name << " so we check()...  GlobalGuard(): " << truth(guard)
                << " ==> Space()&&GlobalGuard() " << truth(space && guard) << "\n";
    if (space && guard) return generateBindingList();
    return nullptr;
}

int Transition::getEnablingDegree() {
    long degree = INT_MAX;
    for (Place* in : inPlaces) {
        const int w = in->getOutTransitionMultiplicity(id);
        if (w > 0) degree = std::min<long>(degree, in->getMarkingSize() / w);
    }
    for (Place* out : outPlaces) {
        const int v = out->getInTransitionMultiplicity(id);
        const bool alsoInput = std::find(inPlaces.begin(), inPlaces.end(), out) != inPlaces.end();
        const int s = alsoInput ? out->getOutTransitionMultiplicity(id) : 0;
        const int d = v - s;
        if (d < 0) {
            degree = std::min<long>(degree, out->getMarkingSize() / -d);
        } else if (d > 0 && out->getCapacity() > 0) {
            degree = std::min<long>(
                degree, (static_cast<long>(out->getCapacity()) - out->getMarkingSize()) / d);
        }
    }
    return degree < 0 ? 0 : static_cast<int>(degree);
}

void Transition::deleteCandidates(TempBindingList* list) {
    if (list == nullptr) return;
    for (TokenList* candidate : *list) delete candidate;
    delete list;
}

void Transition::searchConfiguration() {
    const DateTime t = now();
    if (isOptimizingTimeguardTransition() && Timeguard(t) != 0.0) return;
    TempBindingList* list = getAvailableBindingList();
    if (list == nullptr) return;
    if (tracing()) {
        trace() << name << " search configuration..." << "\n";
        trace() << name << " is IS: " << truth(isInfinite) << "\n";
    }
    if (!isInfinite) {
        if (list->empty()) {
            if (tracing()) trace() << name << " found no configuration ;-(" << "\n";
        } else {
            Binding* b = new Binding(extractRandomBinding(list), this, t);
            addBinding(b);
            if (tracing()) trace() << "Binding extracted and checked into Eventlist: " << *b << "\n";
        }
    } else {
        int g = getEnablingDegree();
        const int n = static_cast<int>(bindings.size());
        while (!list->empty() && g - n > 0) {
            --g;
            TokenList* tokens = extractRandomBinding(list);
            deleteCandidates(list);
            Binding* b = new Binding(tokens, this, t);
            addBinding(b);
            if (tracing()) trace() << "Binding extracted and checked into Eventlist: " << *b << "\n";
            list = generateBindingList();
        }
    }
    deleteCandidates(list);
}

TokenList* Transition::extractRandomBinding(TempBindingList* list) {
    const long n = static_cast<long>(list->size());
    if (tracing()) trace() << "choose binding of " << n << "\n";
    const long k = random.randint(0, n - 1);
    auto it = list->begin();
    std::advance(it, k);
    TokenList* chosen = *it;
    list->erase(it);
    return chosen;
}

// ---------------------------------------------------------------------------
// Event list

void Transition::addBinding(Binding* binding) {
    SCPN_ASSERT(binding->getBoundTokens() != NULL, "src/Transition");
    SCPN_ASSERT(isInfinite || bindings.empty(), "src/Transition");
    Logging* logs = Logging::process();
    if (logs->isEventLogging()) logs->getEventLog() << "addToEventList()... " << *binding << "\n";
    bindings.insert(binding);
    for (Ptr<Token>& token : *binding->getBoundTokens()) {
        token->addTransition(this);
        removeNotBoundToken(token);
    }
    inEventList = true;
    noteEvents();
}

void Transition::noteEvents() {
    if (selection != nullptr) selection->eventsChanged(selectionOrder, getNextEvent());
}

void Transition::removeBinding(Binding* b, bool notify) {
    if (tracing()) trace() << "removeFromEventList()... " << *this << "\n";
    if (b->getBoundTokens() != nullptr) {
        for (Ptr<Token>& token : *b->getBoundTokens()) {
            token->removeTransition(this);
            if (notify) token->notifyTransitions(token);
        }
    }
    auto it = bindings.find(b);
    if (it == bindings.end() || *it != b) {
        // A binding re-timed while in the set can no longer be found by its
        // order; fall back to its identity.
        it = std::find(bindings.begin(), bindings.end(), b);
    }
    if (it != bindings.end()) bindings.erase(it);
    delete b;
    inEventList = !bindings.empty();
    noteEvents();
}

void Transition::addNotBoundToken(const Ptr<Token>& token) {
    if (isInfinite) notBoundTokens.push_back(token);
}

void Transition::removeNotBoundToken(const Ptr<Token>& token) {
    if (isInfinite) notBoundTokens.remove(token);
}

std::vector<Binding*> Transition::rescheduleEventsBefore(const DateTime& now) {
    // The set is ordered by time: the events to move are its first ones,
    // taken out before their times change and put back after.
    std::vector<Binding*> moved;
    while (!bindings.empty() && (*bindings.begin())->getTime() < now) {
        moved.push_back(*bindings.begin());
        bindings.erase(bindings.begin());
    }
    for (Binding* b : moved) {
        b->updateTime(now);
        bindings.insert(b);
    }
    if (!moved.empty()) noteEvents();
    return moved;
}

// ---------------------------------------------------------------------------
// Time-guard optimisation

bool Transition::isOptimizingTimeguardTransition() const {
    // Asked on every notification: the plain flags first, the virtual
    // questions only when they can still matter.
    if (!timeguardOptimization || isInfinite || !immediate || !hasTimeguard()) return false;
    RunDriver* sim = net ? net->getSimulation() : nullptr;
    return sim == nullptr || !sim->isSingleStep();
}

void Transition::addTimeguardBinding(const DateTime& at) {
    SCPN_ASSERT(bindings.empty(), "src/Transition");
    timeguardOptimization = true;
    Binding* b = new Binding(this, at);
    bindings.insert(b);
    inEventList = true;
    noteEvents();
    Logging* logs = Logging::process();
    if (logs->isEventLogging())
        logs->getEventLog() << "Timeguard-Binding extracted and checked into Eventlist: " << *b << "\n";
}

bool Transition::convertTimeguardBinding(Binding* b) {
    TempBindingList* list = getAvailableBindingList();
    if (list == nullptr) return false;
    if (tracing()) trace() << name << " convert temporary Timeguard binding..." << "\n";
    if (list->empty()) {
        if (tracing()) trace() << name << " found no configuration ;-(" << "\n";
        delete list;
        return false;
    }
    TokenList* tokens = extractRandomBinding(list);
    deleteCandidates(list);
    b->convertTempBinding(tokens);
    // The converted binding's tokens are registered as for any new binding,
    // so that a token consumed elsewhere before it fires withdraws it
    // instead of letting it fire with a token that is gone.
    for (Ptr<Token>& token : *tokens) {
        token->addTransition(this);
        removeNotBoundToken(token);
    }
    timeguardOptimization = false;
    if (tracing()) trace() << "Binding is converted to: " << *b << "\n";
    return true;
}

// ---------------------------------------------------------------------------
// Firing

void Transition::fire(Binding* b, double eventWeight) {
    const DateTime firingTime = b->getTime();
    accumMeasures(b, eventWeight);
    firing = true;
    if (tracing()) {
        trace() << "\n"
                << "#####################################################################" << "\n";
        trace() << name << " -> fire..." << "\n";
    }
    ++fireCount;
    ++globalFireCount;
    if (tracing()) trace() << name << "... firecounter increased..." << "\n";

    TokenList none;
    TokenList& tokens = b->getBoundTokens() ? *b->getBoundTokens() : none;
    moveTokens(tokens);
    if (logging) {
        if (tracing()) trace() << name << "... now i log ..." << "\n";
        log(tokens);
    }
    if (displaying) {
        if (tracing()) trace() << name << "... display expression ..." << "\n";
        RunDriver* sim = net ? net->getSimulation() : nullptr;
        const double value = display(tokens);
        if (sim != nullptr) sim->displayOut(this, value);
    }
    if (tracing()) trace() << " token->notifyTransition() " << name << " now deleting event..." << "\n";
    removeBinding(b, true);
    notifyTransitions();
    if (tracing()) trace() << name << "... event deleted..." << "\n";
    if (isOptimizingTimeguardTransition())
        addTimeguardBinding(firingTime);
    else
        searchConfiguration();
    if (tracing()) {
        trace() << name << "... searched configuration ..." << "\n";
        trace() << "\t fire ende" << "\n";
    }
    firing = false;
    if (watch) {
        RunDriver* sim = net ? net->getSimulation() : nullptr;
        if (sim != nullptr) sim->measureOut(this, static_cast<double>(fireCount));
    }
    notifyMeasures();
    notifyPlaceWatch();
}

void Transition::accumMeasures(const Binding* b, double eventWeight) {
    if (tracing()) trace() << name << "->accumMeasures() BEGIN" << "\n";
    for (MeasureObj* m : measures) m->accum(b, eventWeight);
    if (tracing()) trace() << name << "->accumMeasures() END" << "\n";
}

void Transition::notifyMeasures() {
    if (tracing()) trace() << name << "->notifyMeasures() BEGIN" << "\n";
    for (MeasureObj* m : measures) m->notify();
    if (tracing()) trace() << name << "->notifyMeasures() END" << "\n";
}

void Transition::notifyPlaceWatch() {
    for (Place* p : affectedPlaces) p->displContent();
}

// ---------------------------------------------------------------------------
// Structural channel

void Transition::notifyTransitions() {
    for (Transition* t : couldEnableTransitions) t->couldEnableNotify();
    for (Transition* t : couldDisableTransitions) t->couldDisableNotify();
}

void Transition::couldEnableNotify() {
    if (tracing())
        trace() << name << " couldEnableNF() isInf: " << truth(isInfinite)
                << " inEventList: " << truth(inEventList) << "\n";
    if (isOptimizingTimeguardTransition()) return;
    if (isInfinite || bindings.empty()) searchConfiguration();
}

void Transition::couldDisableNotify() {
    if (tracing()) trace() << name << "couldDisableNF()" << "\n";
    if (isOptimizingTimeguardTransition() || bindings.empty()) return;
    const bool space = checkSpace();
    const bool guard = globalGuard();
    if (!space || !guard) removeAllBindingsFromEventList();
    if (isInfinite) {
        const int excess = static_cast<int>(bindings.size()) - getEnablingDegree();
        for (int i = 0; i < excess && !bindings.empty(); ++i) removeRandomBindingFromEventList();
    }
}

// ---------------------------------------------------------------------------
// Token channel

void Transition::tokenNotify(const Ptr<Token>& token) {
    SCPN_ASSERT(!bindings.empty(), "src/Transition");
    if (isOptimizingTimeguardTransition()) return;
    if (isInfinite) {
        for (auto it = bindings.begin(); it != bindings.end();) {
            Binding* b = *it;
            ++it;
            bool holds = false;
            for (const Ptr<Token>& bound : *b->getBoundTokens())
                if (*bound == *token) holds = true;
            if (!holds) continue;
            // The binding's tokens that still lie on our places are free for
            // us to bind again; without this the transition would silently
            // lose enablings.
            returnTokensToNotBound(b);
            removeBinding(b, false);
        }
    } else {
        SCPN_ASSERT(bindings.size() == 1, "src/Transition");
        removeBinding(*bindings.begin(), false);
    }
    searchConfiguration();
}

// ---------------------------------------------------------------------------
// Guard channel

void Transition::placeNotify() {
    if (firing || isOptimizingTimeguardTransition()) return;
    if (tracing()) trace() << name << " placeNotify()... BEGIN" << "\n";
    if (bindings.empty())
        searchConfiguration();
    else if (!globalGuard())
        removeAllBindingsFromEventList();
    if (tracing()) trace() << name << " placeNotify() ...END" << "\n";
}

// ---------------------------------------------------------------------------
// Withdrawing bindings

void Transition::returnTokensToNotBound(Binding* b) {
    if (!isInfinite || b->getBoundTokens() == nullptr) return;
    for (const Ptr<Token>& token : *b->getBoundTokens()) {
        // Free are the tokens on our input places that none of our bindings
        // holds. A token taken away (by the firing being propagated, or by
        // one whose notifications have not reached us yet) lies on none of
        // them and must not come back as free. A token such a firing took and
        // put back lies there again and is free like any other; so is a copy
        // that shares the identifier of a consumed token.
        bool present = false;
        for (Place* in : inPlaces) {
            const TokenList& marking = in->getFullMarking();
            if (std::find(marking.begin(), marking.end(), token) != marking.end()) {
                present = true;
                break;
            }
        }
        if (!present) continue;
        // A token that came back was recorded as free by its place already;
        // it is free only once.
        if (std::find(notBoundTokens.begin(), notBoundTokens.end(), token) != notBoundTokens.end())
            continue;
        addNotBoundToken(token);
    }
}

void Transition::removeAllBindingsFromEventList() {
    while (!bindings.empty()) {
        Binding* last = *std::prev(bindings.end());
        returnTokensToNotBound(last);
        removeBinding(last, false);
    }
}

void Transition::removeRandomBindingFromEventList() {
    const long n = static_cast<long>(bindings.size());
    const long k = random.randint(0, n - 1);
    if (tracing()) trace() << "Random number: " << k << "\n";
    auto it = bindings.begin();
    std::advance(it, k);
    Binding* chosen = *it;
    returnTokensToNotBound(chosen);
    removeBinding(chosen, false);
}

// ---------------------------------------------------------------------------
// Saved states

void Transition::removeCurrentBindings() {
    // The events are ours: a restore replaces them many times in a RESTART
    // run, and each set left behind would stay allocated until the run ends.
    for (Binding* b : bindings) delete b;
    bindings.clear();
    inEventList = false;
    noteEvents();
}

void Transition::addRestoredBinding(Binding* b) {
    bindings.insert(b);
    inEventList = true;
    noteEvents();
}

void Transition::removeCurrentNotBoundTokens() { notBoundTokens.clear(); }

void Transition::addRestoredNotBoundToken(Ptr<Token> token) { notBoundTokens.push_back(token); }

// ---------------------------------------------------------------------------
// Text forms

void Transition::printPlaces() const {
    std::cout << "\t<-\n";
    for (Place* p : inPlaces) std::cout << "\t\t" << p->getName() << "\n";
    std::cout << "\t->\n";
    for (Place* p : outPlaces) std::cout << "\t\t" << p->getName() << "\n";
}

void Transition::describe(std::ostream& os) const { os << *this; }

std::ostream& operator<<(std::ostream& os, const Transition& t) {
    return os << t.getName() << ", weight:" << t.getFiringWeight() << ", priority:" << t.getPriority()
              << "\n";
}
