#include "sim/SimSavedState.h"

#include <sstream>

#include "core/NetClass.h"
#include "core/Place.h"
#include "engine/Transition.h"

SimSavedState::SimSavedState(NetClass* netArg, int level, DateTime time)
    : stateLevel(level), stateTime(time), net(netArg) {
    setSavedMarkings(net->getPlaces());
    saveTransitionStates(net->getTransitions());
}

// ---------------------------------------------------------------------------
// Taking the snapshot

void SimSavedState::setSavedMarkings(const std::map<std::string, Place*>& places) {
    for (const auto& [name, place] : places) savePlaceMarking(place);
}

void SimSavedState::savePlaceMarking(Place* place) {
    std::vector<long> ids;
    for (const Ptr<Token>& token : place->getFullMarking()) {
        Ptr<Token> copy = net->copyToken(token);
        if (copy == 0)
            throw Unsaveable("the token " + std::to_string(token->getID()) + " of colour \"" + token->getName() +
                             "\" on place " + place->getName() + " cannot be copied");
        savedTokens[copy->getID()] = copy;
        ids.push_back(copy->getID());
    }
    savedMarkings[place->getName()] = std::move(ids);
}

void SimSavedState::saveTransitionStates(const std::map<std::string, Transition*>& transitions) {
    for (const auto& [name, t] : transitions) {
        savedCouldEnable[name] = t->getCouldEnableTransitions();
        savedCouldDisable[name] = t->getCouldDisableTransitions();
        savedInEventList[name] = t->getInEventList();
        saveTransitionBindings(t);
        saveTransitionNotBoundTokens(t);
    }
}

void SimSavedState::saveTransitionBindings(Transition* t) {
    std::set<BindingDummy>& saved = savedBindings[t->getName()];
    for (const Binding* b : t->getEvents()) {
        std::vector<long> ids;
        if (b->isTempBinding())
            savedTemporaryBindings.insert(b->getID());
        else
            ids = createTokensIDList(*b->getBoundTokens(), t, "an event");
        saved.insert(BindingDummy(b->getID(), t, b->getTime(), b->getPriority(), b->getWeight(), b->isFireEvent(),
                                  std::move(ids)));
    }
}

void SimSavedState::saveTransitionNotBoundTokens(Transition* t) {
    savedNotBoundTokens[t->getName()] = createTokensIDList(t->getNotBoundTokens(), t, "the free-token list");
}

std::vector<long> SimSavedState::createTokensIDList(const TokenList& tokens, const Transition* t,
                                                    const char* what) const {
    std::vector<long> ids;
    ids.reserve(tokens.size());
    for (const Ptr<Token>& token : tokens) {
        if (savedTokens.count(token->getID()) == 0) {
            std::ostringstream why;
            why << what << " of transition " << t->getName() << " holds the token " << token->getID()
                << " (colour \"" << token->getName() << "\"), which lies on no place";
            throw Unsaveable(why.str());
        }
        ids.push_back(token->getID());
    }
    return ids;
}

// ---------------------------------------------------------------------------
// Restoring it

void SimSavedState::restoreMarkings(const std::map<std::string, Place*>& places) {
    restoredTokens.clear();
    for (const auto& [name, place] : places) restorePlaceMarking(place);
}

void SimSavedState::restorePlaceMarking(Place* place) {
    place->removeCurrentMarking();
    const auto saved = savedMarkings.find(place->getName());
    if (saved == savedMarkings.end()) return;  // a place the snapshot did not know keeps nothing
    for (long id : saved->second) {
        Ptr<Token> token = net->copyToken(savedTokens.at(id));
        place->addRestoredToken(token);
        addRestoredToken(id, token);
    }
}

void SimSavedState::addRestoredToken(long id, Ptr<Token> token) { restoredTokens[id] = token; }

void SimSavedState::restoreTransitionStates(const std::map<std::string, Transition*>& transitions) {
    for (const auto& [name, t] : transitions) {
        t->setCouldEnableTransitions(savedCouldEnable[name]);
        t->setCouldDisableTransitions(savedCouldDisable[name]);
        restoreTransitionBindings(t);
        // After the events: adding them marks the transition as listed.
        t->setInEventList(savedInEventList[name]);
        restoreTransitionNotBoundTokens(t);
    }
}

void SimSavedState::restoreTransitionBindings(Transition* t) {
    t->removeCurrentBindings();
    const auto saved = savedBindings.find(t->getName());
    if (saved == savedBindings.end()) return;
    for (const BindingDummy& d : saved->second) {
        TokenList* tokens = savedTemporaryBindings.count(d.getID()) ? nullptr : createTokenList(d.getTokensID());
        t->addRestoredBinding(
            new Binding(d.getID(), t, d.getTime(), d.getPriority(), d.getWeight(), d.isFireEvent(), tokens));
    }
}

void SimSavedState::restoreTransitionNotBoundTokens(Transition* t) {
    t->removeCurrentNotBoundTokens();
    const auto saved = savedNotBoundTokens.find(t->getName());
    if (saved == savedNotBoundTokens.end()) return;
    for (long id : saved->second) t->addNotBoundToken(net->upcastToken(restoredTokens.at(id)));
}

TokenList* SimSavedState::createTokenList(const std::vector<long>& ids) const {
    auto* tokens = new TokenList();
    for (long id : ids) tokens->push_back(net->upcastToken(restoredTokens.at(id)));
    return tokens;
}

// ---------------------------------------------------------------------------
// Accessors

std::vector<long> SimSavedState::getSavedTokensID() const {
    std::vector<long> ids;
    for (const auto& entry : savedTokens) ids.push_back(entry.first);
    return ids;
}

Ptr<Token> SimSavedState::getSavedToken(long id) const {
    const auto found = savedTokens.find(id);
    return found == savedTokens.end() ? Ptr<Token>() : found->second;
}

Ptr<Token> SimSavedState::getRestoredToken(long id) const {
    const auto found = restoredTokens.find(id);
    return found == restoredTokens.end() ? Ptr<Token>() : found->second;
}
