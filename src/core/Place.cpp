#include "core/Place.h"

#include <iostream>

#include "core/NetClass.h"
#include "engine/Transition.h"
#include "measures/MeasureObj.h"

Place::Place(int placeId, const char* placeName, NetClass* owner, bool firstOnly, unsigned int cap)
    : DefaultGM(placeName, "Place", owner), firstTokensOnly(firstOnly), watch(false), capacity(cap),
      id(placeId) {}

Place::Place(int placeId, const char* placeName, NetClass* owner,
             const std::map<std::string, std::string>& attributes, bool firstOnly, unsigned int cap)
    : Place(placeId, placeName, owner, firstOnly, cap) {
    auto it = attributes.find("watch");
    watch = it != attributes.end() && it->second == "true";
}

Place::Place(int placeId, NetClass* owner) : Place(placeId, "noname", owner, false, 0) {}

Place::~Place() {
    marking.clear();
    partialMarking.clear();
    for (MeasureObj* m : measures) {
        m->decrementRefCount();
        if (m->getRefCount() <= 0) delete m;
    }
}

void Place::addOutTransition(Transition* t, int multiplicity) {
    outTransitions.push_back(t);
    outMultiplicity[t->getID()] = multiplicity;
}

void Place::addInTransition(Transition* t, int multiplicity) {
    inTransitions.push_back(t);
    inMultiplicity[t->getID()] = multiplicity;
}

int Place::getOutTransitionMultiplicity(int transitionId) const {
    auto it = outMultiplicity.find(transitionId);
    return it == outMultiplicity.end() ? 0 : it->second;
}

int Place::getInTransitionMultiplicity(int transitionId) const {
    auto it = inMultiplicity.find(transitionId);
    return it == inMultiplicity.end() ? 0 : it->second;
}

void Place::addGlobalGuardTransition(Transition* t) { globalGuardTransitions.push_back(t); }

void Place::addMeasure(MeasureObj* m) {
    m->incrementRefCount();
    measures.push_back(m);
}

void Place::replaceMeasure(MeasureObj* old, MeasureObj* replacement) {
    for (MeasureObj*& m : measures) {
        if (m != old) continue;
        m = replacement;
        replacement->incrementRefCount();
        old->decrementRefCount();
    }
}

void Place::addToken(Ptr<Token> token) {
    marking.push_back(token);
    notifyGlobalGuardTransitions();
    for (Transition* t : outTransitions) t->addNotBoundToken(token);
}

void Place::removeToken(Ptr<Token> token) {
    marking.remove(token);
    notifyGlobalGuardTransitions();
    for (Transition* t : outTransitions) t->removeNotBoundToken(token);
}

void Place::notifyGlobalGuardTransitions() {
    for (Transition* t : globalGuardTransitions) t->placeNotify();
}

bool Place::canTake(unsigned int n) const {
    if (capacity == 0) return true;
    return capacity >= n + marking.size();
}

const TokenList& Place::getMarking(int k) const {
    if (!firstTokensOnly) return marking;
    partialMarking.clear();
    int taken = 0;
    for (auto it = marking.begin(); it != marking.end() && taken < k; ++it, ++taken)
        partialMarking.push_back(*it);
    return partialMarking;
}

std::string Place::content() const {
    std::string text;
    bool first = true;
    for (const Ptr<Token>& t : marking) {
        if (!first) text += ",";
        text += t->content();
        first = false;
    }
    return text;
}

void Place::displContent() {
    if (!watch) return;
    RunDriver* sim = net ? net->getSimulation() : nullptr;
    if (sim != nullptr) sim->measureOut(this, static_cast<double>(marking.size()));
}

void Place::printTrans() const {
    std::cout << "\t<-\n";
    for (Transition* t : inTransitions) std::cout << "\t\t" << t->getName() << "\n";
    std::cout << "\t->\n";
    for (Transition* t : outTransitions) std::cout << "\t\t" << t->getName() << "\n";
}

void Place::removeCurrentMarking() { marking.clear(); }

void Place::addRestoredToken(Ptr<Token> token) { marking.push_back(token); }

std::ostream& operator<<(std::ostream& os, const Place& place) {
    return os << place.getName() << " (Place)";
}
