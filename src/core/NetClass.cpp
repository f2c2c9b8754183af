#include "core/NetClass.h"

#include <algorithm>
#include <iostream>

#include "core/MeasureKeeper.h"
#include "core/Place.h"
#include "core/TransitionLink.h"

NetClass::NetClass() : simulation(nullptr) {}

NetClass::~NetClass() {
    for (auto& entry : places) delete entry.second;
    for (auto& entry : transitionLinks) delete entry.second;
    places.clear();
    transitions.clear();
    transitionLinks.clear();
    releaseHeldMeasures();
}

Ptr<Token> NetClass::copyToken(Ptr<Token> token) {
    if (token == 0) return Ptr<Token>();
    if (token->getName() == "int") {
        Ptr<Token_int> source = ReferenceCountedSmartPointer::Dynamic_Cast<Token_int>(token);
        if (source == 0) return Ptr<Token>();
        return Ptr<Token>(new Token_int(*source, true));
    }
    return Ptr<Token>();
}

Ptr<Token> NetClass::upcastToken(Ptr<Token> token) {
    if (token == 0) return Ptr<Token>();
    if (token->getName() == "int")
        return Ptr<Token>(ReferenceCountedSmartPointer::Dynamic_Cast<Token_int>(token));
    return Ptr<Token>();
}

void NetClass::addPlace(Place* p) {
    places.emplace(p->getName(), p);
    ++generation;
}

void NetClass::addTransition(TransitionLink* t) {
    // As before, a second transition of the same name is not registered.
    if (transitionLinks.emplace(t->getName(), t).second) transitions.emplace(t->getName(), t->asTransition());
    ++generation;
}

void NetClass::addMeasure(MeasureObj* m) { measureList.push_back(m); }

void NetClass::linkIntoTransition(Place* p, TransitionLink* t, int multiplicity) {
    p->addOutTransition(t, multiplicity);
    t->addInPlace(p);
}

void NetClass::linkOutOfTransition(TransitionLink* t, Place* p, int multiplicity) {
    t->addOutPlace(p);
    p->addInTransition(t, multiplicity);
}

void NetClass::linkPlaceToTransition(const char* placeName, const char* transitionName,
                                     int multiplicity) {
    Place* p = getPlace(placeName);
    TransitionLink* t = findTransitionLink(transitionName);
    // A name that does not resolve has been reported; linking it would crash.
    if (p != nullptr && t != nullptr) linkIntoTransition(p, t, multiplicity);
}

void NetClass::linkTransitionToPlace(const char* transitionName, const char* placeName,
                                     int multiplicity) {
    TransitionLink* t = findTransitionLink(transitionName);
    Place* p = getPlace(placeName);
    if (p != nullptr && t != nullptr) linkOutOfTransition(t, p, multiplicity);
}

Place* NetClass::getPlace(const char* name) { return getPlace(std::string(name)); }

Place* NetClass::getPlace(const std::string& name) {
    auto it = places.find(name);
    if (it == places.end()) {
        std::cout << "Couldn't find Place: " << name << std::endl;
        return nullptr;
    }
    return it->second;
}

Place* NetClass::getPlace(int id) {
    for (auto& entry : places)
        if (entry.second->getID() == id) return entry.second;
    return nullptr;
}

Place* NetClass::getPlace(std::map<std::string, std::string>* placeIdents, const char* localName) {
    auto it = placeIdents->find(localName);
    if (it == placeIdents->end()) {
        std::cout << "Couldn't find Place: " << localName << std::endl;
        return nullptr;
    }
    return getPlace(it->second);
}

Transition* NetClass::getTransition(const char* name) {
    TransitionLink* t = findTransitionLink(name);
    return t == nullptr ? nullptr : t->asTransition();
}

TransitionLink* NetClass::findTransitionLink(const char* name) {
    auto it = transitionLinks.find(name);
    if (it == transitionLinks.end()) {
        std::cout << "Couldn't find Transition: " << name << std::endl;
        return nullptr;
    }
    return it->second;
}

Transition* NetClass::getTransition(int id) {
    for (auto& entry : transitionLinks)
        if (entry.second->getID() == id) return entry.second->asTransition();
    return nullptr;
}

void NetClass::storeMeasureList() { storedMeasureList = measureList; }

void NetClass::clearMaps() {
    storeMeasureList();
    places.clear();
    transitions.clear();
    transitionLinks.clear();
    measureList.clear();
    ++generation;
}

void NetClass::loadMeasureList(int simulationKind) {
    measureList.clear();
    MeasureKeeper* keeper = storedMeasureList.empty() ? nullptr : &MeasureKeeper::process();
    for (MeasureObj* m : storedMeasureList) {
        if (simulationKind == 0) {
            measureList.push_back(m);
        } else if (keeper->accumulative(m)) {
            std::cout << "Warning: accumulative performance measures are only allowed in transient "
                         "simulation."
                      << " Ignoring Measure " << keeper->name(m) << std::endl;
        } else if (!keeper->timeAverage(m)) {
            std::cout << "Warning: instantaneous performance measures are only allowed in transient "
                         "simulation."
                      << " Ignoring Measure " << keeper->name(m) << std::endl;
        } else {
            measureList.push_back(m);
        }
    }
}

void NetClass::restoreNet(int simulationKind) {
    buildNet();
    createTokens();
    loadMeasureList(simulationKind);
}

void NetClass::rebuildForRun(int simulationKind) {
    const std::map<std::string, Place*> oldPlaces = places;
    const std::map<std::string, TransitionLink*> oldTransitions = transitionLinks;
    clearMaps();
    holdStoredMeasures();
    buildNet();
    adoptStoredMeasures();
    loadMeasureList(simulationKind);
    // Without this every replication would leave a whole net behind and a
    // long transient run would exhaust the memory.
    freeBuild(oldPlaces, oldTransitions);
}

void NetClass::freeBuild(const std::map<std::string, Place*>& oldPlaces,
                         const std::map<std::string, TransitionLink*>& oldTransitions) {
    for (auto& entry : oldTransitions) delete entry.second;
    for (auto& entry : oldPlaces) delete entry.second;
}

void NetClass::adoptStoredMeasures() {
    for (MeasureObj* fresh : measureList) {
        MeasureKeeper& keeper = MeasureKeeper::process();
        MeasureObj* kept = nullptr;
        for (MeasureObj* m : storedMeasureList)
            if (m != fresh && keeper.name(m) == keeper.name(fresh)) kept = m;
        // Held here while its holders move over to the stored one; this
        // release then frees it. One that replaces nothing stays with the
        // places and transitions holding it, and one held by nothing at all
        // (listed, attached nowhere, and not a measure of this kind of run)
        // is freed too rather than left behind by every rebuild.
        keeper.hold(fresh);
        if (kept != nullptr) {
            for (auto& entry : places) entry.second->replaceMeasure(fresh, kept);
            for (auto& entry : transitionLinks) entry.second->replaceMeasure(fresh, kept);
        }
        keeper.release(fresh);
    }
}

void NetClass::holdStoredMeasures() {
    for (MeasureObj* m : storedMeasureList) {
        if (std::find(heldMeasures.begin(), heldMeasures.end(), m) != heldMeasures.end()) continue;
        MeasureKeeper::process().hold(m);
        heldMeasures.push_back(m);
    }
}

void NetClass::releaseHeldMeasures() {
    for (MeasureObj* m : heldMeasures) MeasureKeeper::process().release(m);
    heldMeasures.clear();
}

std::string NetClass::writeMaps() const {
    std::string text = "Places:\n";
    for (const auto& entry : places) text += "\t" + entry.first + " -> " + entry.second->getName() + "\n";
    text += "Transitions:\n";
    for (const auto& entry : transitionLinks)
        text += "\t" + entry.first + " -> " + entry.second->getName() + "\n";
    return text;
}
