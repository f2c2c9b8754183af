#include "core/Place.h"

#include <iostream>

#include "core/MeasureKeeper.h"
#include "core/NetClass.h"
#include "core/TransitionLink.h"

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
    for (const Ptr<Token>& token : marking) token->removePlacement();
    marking.clear();
    partialMarking.clear();
    for (MeasureObj* m : measures) MeasureKeeper::process().release(m);
}

void Place::addOutTransition(TransitionLink* t, int multiplicity) {
    outTransitions.push_back(t->asTransition());
    outLinks.push_back(t);
    setMultiplicity(outMultiplicity, t->getID(), multiplicity);
}

void Place::addInTransition(TransitionLink* t, int multiplicity) {
    inTransitions.push_back(t->asTransition());
    inLinks.push_back(t);
    setMultiplicity(inMultiplicity, t->getID(), multiplicity);
}

// A place has a handful of arcs: a short list scanned in order is faster
// to ask at every event than a map.
void Place::setMultiplicity(std::vector<std::pair<int, int>>& arcs, int transitionId, int multiplicity) {
    for (auto& arc : arcs)
        if (arc.first == transitionId) {
            arc.second = multiplicity;
            return;
        }
    arcs.emplace_back(transitionId, multiplicity);
}

int Place::multiplicityOf(const std::vector<std::pair<int, int>>& arcs, int transitionId) {
    for (const auto& arc : arcs)
        if (arc.first == transitionId) return arc.second;
    return 0;
}

int Place::getOutTransitionMultiplicity(int transitionId) const {
    return multiplicityOf(outMultiplicity, transitionId);
}

int Place::getInTransitionMultiplicity(int transitionId) const {
    return multiplicityOf(inMultiplicity, transitionId);
}

void Place::addGlobalGuardTransition(TransitionLink* t) {
    globalGuardTransitions.push_back(t->asTransition());
    guardLinks.push_back(t);
}

void Place::addMeasure(MeasureObj* m) {
    MeasureKeeper::process().hold(m);
    measures.push_back(m);
}

void Place::replaceMeasure(MeasureObj* old, MeasureObj* replacement) {
    MeasureKeeper::process().rebind(measures, old, replacement);
}

void Place::addToken(const Ptr<Token>& token) {
    marking.push_back(token);
    token->addPlacement();
    notifyGlobalGuardTransitions();
    for (TransitionLink* t : outLinks) t->addNotBoundToken(token);
}

void Place::removeToken(const Ptr<Token>& token) {
    eraseFromMarking(token);
    notifyGlobalGuardTransitions();
    for (TransitionLink* t : outLinks) t->removeNotBoundToken(token);
}

void Place::eraseFromMarking(const Ptr<Token>& token) {
    // Every entry of the token goes; the walk ends after the last entry the
    // token has on any place, which for a token on one place is where it is
    // found (mostly near the front: tokens are taken in arrival order).
    // The handle may be one of our entries: keep the token alive meanwhile.
    const Ptr<Token> held = token;
    for (auto it = marking.begin(); it != marking.end() && held->placementCount() > 0;) {
        if (*it == held) {
            it = marking.erase(it);
            held->removePlacement();
        } else {
            ++it;
        }
    }
}

void Place::notifyGlobalGuardTransitions() {
    for (TransitionLink* t : guardLinks) t->placeNotify();
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
    for (const TransitionLink* t : inLinks) std::cout << "\t\t" << t->getName() << "\n";
    std::cout << "\t->\n";
    for (const TransitionLink* t : outLinks) std::cout << "\t\t" << t->getName() << "\n";
}

void Place::removeCurrentMarking() {
    for (const Ptr<Token>& token : marking) token->removePlacement();
    marking.clear();
}

void Place::addRestoredToken(Ptr<Token> token) {
    token->addPlacement();
    marking.push_back(std::move(token));
}

std::ostream& operator<<(std::ostream& os, const Place& place) {
    return os << place.getName() << " (Place)";
}
