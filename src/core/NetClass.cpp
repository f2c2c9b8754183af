#include "core/NetClass.h"

#include <algorithm>
#include <iostream>

#include "core/Place.h"
#include "engine/Transition.h"
#include "measures/MeasureObj.h"

NetClass::NetClass() : simulation(nullptr) {}

NetClass::~NetClass() {
    for (auto& entry : places) delete entry.second;
    for (auto& entry : transitions) delete entry.second;
    places.clear();
    transitions.clear();
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

void NetClass::addTransition(Transition* t) {
    transitions.emplace(t->getName(), t);
    transitionOrder.clear();
    ++generation;
}

const std::vector<Transition*>& NetClass::getTransitionsInOrder() const {
    // Remade whenever the map may have changed: a new transition clears it,
    // and a map of another size or another first entry cannot be the one it
    // was made of.
    const void* first = transitions.empty() ? nullptr : transitions.begin()->second;
    if (transitionOrder.size() != transitions.size() || transitionOrderOf != first) {
        transitionOrder.clear();
        pendingEvents.assign((transitions.size() + 63) / 64, 0);
        for (const auto& entry : transitions) {
            const std::size_t k = transitionOrder.size();
            transitionOrder.push_back(entry.second);
            entry.second->setNetOrder(k);
            if (entry.second->getNextEvent() != nullptr) pendingEvents[k / 64] |= std::uint64_t{1} << (k % 64);
        }
        transitionOrderOf = first;
    }
    return transitionOrder;
}

const std::vector<std::uint64_t>& NetClass::getPendingEvents() const {
    getTransitionsInOrder();  // remade with the order when that is
    return pendingEvents;
}

void NetClass::notePendingEvents(const Transition* t, bool hasEvents) {
    // Reports of transitions not (or no longer) in the order are left out:
    // the next remaking of the order reads every transition's events.
    const std::size_t k = t->getNetOrder();
    if (k >= transitionOrder.size() || transitionOrder[k] != t) return;
    const std::uint64_t bit = std::uint64_t{1} << (k % 64);
    if (hasEvents)
        pendingEvents[k / 64] |= bit;
    else
        pendingEvents[k / 64] &= ~bit;
}

void NetClass::addMeasure(MeasureObj* m) { measureList.push_back(m); }

void NetClass::linkIntoTransition(Place* p, Transition* t, int multiplicity) {
    p->addOutTransition(t, multiplicity);
    t->addInPlace(p);
}

void NetClass::linkOutOfTransition(Transition* t, Place* p, int multiplicity) {
    t->addOutPlace(p);
    p->addInTransition(t, multiplicity);
}

void NetClass::linkPlaceToTransition(const char* placeName, const char* transitionName,
                                     int multiplicity) {
    Place* p = getPlace(placeName);
    Transition* t = getTransition(transitionName);
    // A name that does not resolve has been reported; linking it would crash.
    if (p != nullptr && t != nullptr) linkIntoTransition(p, t, multiplicity);
}

void NetClass::linkTransitionToPlace(const char* transitionName, const char* placeName,
                                     int multiplicity) {
    Transition* t = getTransition(transitionName);
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
    auto it = transitions.find(name);
    if (it == transitions.end()) {
        std::cout << "Couldn't find Transition: " << name << std::endl;
        return nullptr;
    }
    return it->second;
}

Transition* NetClass::getTransition(int id) {
    for (auto& entry : transitions)
        if (entry.second->getID() == id) return entry.second;
    return nullptr;
}

void NetClass::storeMeasureList() { storedMeasureList = measureList; }

void NetClass::clearMaps() {
    storeMeasureList();
    places.clear();
    transitions.clear();
    measureList.clear();
    ++generation;
}

void NetClass::loadMeasureList(int simulationKind) {
    measureList.clear();
    for (MeasureObj* m : storedMeasureList) {
        if (simulationKind == 0) {
            measureList.push_back(m);
        } else if (m->accumulative()) {
            std::cout << "Warning: accumulative performance measures are only allowed in transient "
                         "simulation."
                      << " Ignoring Measure " << m->getName() << std::endl;
        } else if (!m->timeaverage()) {
            std::cout << "Warning: instantaneous performance measures are only allowed in transient "
                         "simulation."
                      << " Ignoring Measure " << m->getName() << std::endl;
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
    const std::map<std::string, Transition*> oldTransitions = transitions;
    clearMaps();
    holdStoredMeasures();
    buildNet();
    adoptStoredMeasures();
    loadMeasureList(simulationKind);
    // Without this every replication would leave a whole net behind and a
    // long transient run would exhaust the memory. Transitions go first:
    // their bindings refer to tokens on the places.
    for (auto& entry : oldTransitions) delete entry.second;
    for (auto& entry : oldPlaces) delete entry.second;
}

void NetClass::adoptStoredMeasures() {
    for (MeasureObj* fresh : measureList) {
        MeasureObj* kept = nullptr;
        for (MeasureObj* m : storedMeasureList)
            if (m != fresh && m->getName() == fresh->getName()) kept = m;
        if (kept == nullptr) continue;
        for (auto& entry : places) entry.second->replaceMeasure(fresh, kept);
        for (auto& entry : transitions) entry.second->replaceMeasure(fresh, kept);
        if (fresh->getRefCount() <= 0) delete fresh;
    }
}

void NetClass::holdStoredMeasures() {
    for (MeasureObj* m : storedMeasureList) {
        if (std::find(heldMeasures.begin(), heldMeasures.end(), m) != heldMeasures.end()) continue;
        m->incrementRefCount();
        heldMeasures.push_back(m);
    }
}

void NetClass::releaseHeldMeasures() {
    for (MeasureObj* m : heldMeasures) {
        m->decrementRefCount();
        if (m->getRefCount() <= 0) delete m;
    }
    heldMeasures.clear();
}

std::string NetClass::writeMaps() const {
    std::string text = "Places:\n";
    for (const auto& entry : places) text += "\t" + entry.first + " -> " + entry.second->getName() + "\n";
    text += "Transitions:\n";
    for (const auto& entry : transitions)
        text += "\t" + entry.first + " -> " + entry.second->getName() + "\n";
    return text;
}
