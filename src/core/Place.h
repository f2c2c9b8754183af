#pragma once
// A place: its marking (oldest token first), the arcs to and from
// transitions with their multiplicities, and the measures that read it.
// addToken and removeToken carry the notifications the transition engine
// relies on; a place never refuses a token (transitions check capacity).
#include <list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "core/DefaultGM.h"
#include "core/Token.h"

class Transition;
class TransitionLink;
class MeasureObj;

class Place : public DefaultGM {
public:
    Place(int id, const char* name, NetClass* net, bool firstTokensOnly, unsigned int capacity);
    Place(int id, const char* name, NetClass* net, const std::map<std::string, std::string>& attributes,
          bool firstTokensOnly, unsigned int capacity);
    Place(int id, NetClass* net);
    ~Place() override;

    void setWatch(bool w) { watch = w; }
    bool getWatch() const { return watch; }

    void addOutTransition(TransitionLink* t, int multiplicity);
    void addInTransition(TransitionLink* t, int multiplicity);
    int getOutTransitionMultiplicity(int transitionId) const;
    int getInTransitionMultiplicity(int transitionId) const;
    void addGlobalGuardTransition(TransitionLink* t);
    void addMeasure(MeasureObj* m);
    // Puts `replacement` wherever the place refers to `old`, moving the
    // holder count with it.
    void replaceMeasure(MeasureObj* old, MeasureObj* replacement);

    const std::list<Transition*>& getInTransitions() const { return inTransitions; }
    const std::list<Transition*>& getOutTransitions() const { return outTransitions; }
    const std::list<Transition*>& getGlobalGuardTransitions() const { return globalGuardTransitions; }
    const TokenList& getFullMarking() const { return marking; }
    std::vector<MeasureObj*>& getMeasures() { return measures; }
    unsigned int getCapacity() const { return capacity; }
    int getMarkingSize() const { return static_cast<int>(marking.size()); }
    int getID() const { return id; }
    bool isFirstTokensOnly() const { return firstTokensOnly; }

    void addToken(const Ptr<Token>& token);
    void removeToken(const Ptr<Token>& token);
    void notifyGlobalGuardTransitions();

    bool canTake(unsigned int n) const;
    // The tokens a transition may bind: all of them, or only the first k
    // when the place hands out its oldest tokens first. The partial list is
    // valid until the next call.
    const TokenList& getMarking(int k) const;
    std::string content() const;
    void displContent();
    void printTrans() const;

    // Saved states: change the marking without telling anyone.
    void removeCurrentMarking();
    void addRestoredToken(Ptr<Token> token);

private:
    // The arcs as the engine reads them (typed lists), and the same
    // transitions as core notifies them (TransitionLink), in the same order.
    std::list<Transition*> inTransitions;
    std::vector<std::pair<int, int>> inMultiplicity;  // (transition id, multiplicity)
    std::list<Transition*> outTransitions;
    std::vector<std::pair<int, int>> outMultiplicity;
    std::list<Transition*> globalGuardTransitions;
    std::vector<TransitionLink*> inLinks;
    std::vector<TransitionLink*> outLinks;
    std::vector<TransitionLink*> guardLinks;
    static void setMultiplicity(std::vector<std::pair<int, int>>& arcs, int transitionId, int multiplicity);
    static int multiplicityOf(const std::vector<std::pair<int, int>>& arcs, int transitionId);
    void eraseFromMarking(const Ptr<Token>& token);

    TokenList marking;
    // Scratch list of getMarking; filling it does not change the place.
    mutable TokenList partialMarking;
    std::vector<MeasureObj*> measures;
    bool firstTokensOnly;
    bool watch;
    unsigned int capacity;
    int id;
};

std::ostream& operator<<(std::ostream& os, const Place& place);
