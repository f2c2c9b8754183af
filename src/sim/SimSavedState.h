#pragma once
// A complete snapshot of the net at one moment of a RESTART run: the marking
// of every place, every transition's pending events, its free tokens and its
// enabling bookkeeping, with the splitting level, model time and remaining
// retrials of the snapshot.
//
// The snapshot keeps private copies of the tokens, so restoring it any
// number of times gives the same state; every restore makes fresh token
// objects, and tokens are matched by their identifiers so that the restored
// events hold exactly the token objects that the restore put on the places.
#include <list>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/Token.h"
#include "engine/Binding.h"

class NetClass;
class Place;
class Transition;

class SimSavedState {
public:
    // The state of the net cannot be saved: an event or a free-token list
    // holds a token that lies on no place. Restoring such a snapshot would
    // make events without their tokens, so the run must not go on.
    class Unsaveable : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Takes the snapshot; throws Unsaveable (see above).
    SimSavedState(NetClass* net, int level, DateTime time);

    // The two halves of a restore, called in this order.
    void restoreMarkings(const std::map<std::string, Place*>& places);
    void restoreTransitionStates(const std::map<std::string, Transition*>& transitions);

    int getStateLevel() const { return stateLevel; }
    void setStateLevel(int level) { stateLevel = level; }
    const DateTime& getStateTime() const { return stateTime; }
    void setStateTime(const DateTime& t) { stateTime = t; }
    int getTrials() const { return trials; }
    void setTrials(int n) { trials = n; }
    void decrementTrials() { --trials; }

    std::vector<long> getSavedTokensID() const;
    Ptr<Token> getSavedToken(long id) const;
    // The object the last restore made for `id`; empty when it made none.
    Ptr<Token> getRestoredToken(long id) const;

private:
    void setSavedMarkings(const std::map<std::string, Place*>& places);
    void savePlaceMarking(Place* place);
    void saveTransitionStates(const std::map<std::string, Transition*>& transitions);
    void saveTransitionBindings(Transition* t);
    void saveTransitionNotBoundTokens(Transition* t);
    // The identifiers of `tokens`, each checked to lie on a place.
    std::vector<long> createTokensIDList(const TokenList& tokens, const Transition* t, const char* what) const;
    void restorePlaceMarking(Place* place);
    void restoreTransitionBindings(Transition* t);
    void restoreTransitionNotBoundTokens(Transition* t);
    // A new list of the restored tokens of `ids`, in order.
    TokenList* createTokenList(const std::vector<long>& ids) const;
    void addRestoredToken(long id, Ptr<Token> token);

    std::map<std::string, std::vector<long>> savedMarkings;
    std::map<std::string, std::set<BindingDummy>> savedBindings;
    std::map<std::string, std::vector<long>> savedNotBoundTokens;
    std::map<long, Ptr<Token>> savedTokens;
    std::map<long, Ptr<Token>> restoredTokens;
    std::map<std::string, std::list<Transition*>> savedCouldEnable;
    std::map<std::string, std::list<Transition*>> savedCouldDisable;
    std::map<std::string, bool> savedInEventList;
    // Events without tokens yet (time-guard events) must come back as such,
    // not as events that bind no tokens.
    std::set<long> savedTemporaryBindings;
    int stateLevel;
    DateTime stateTime;
    int trials = 0;
    NetClass* net;
};
