#pragma once
// Base of every transition of a compiled model, and the incremental enabling
// engine: each transition keeps its own event list of bindings and searches
// for new ones only when a notification says its enabling may have changed.
//
// Three channels carry those notifications after a firing:
//  - tokens: a consumed token tells the transitions that hold a binding
//    with it (tokenNotify), which withdraw that binding and search again;
//  - structure: the firing transition tells the transitions it could enable
//    or disable (couldEnableNotify / couldDisableNotify);
//  - guards: a place tells the transitions whose global guard reads it
//    (placeNotify).
#include <fstream>
#include <list>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "core/Token.h"
#include "core/TransitionLink.h"
#include "engine/Binding.h"
#include "engine/Delay.h"
#include "engine/RandomWrapper.h"

class Place;
class MeasureObj;
class EventSelection;

using TempBindingList = std::list<TokenList*>;
using PlaceIdentMap = std::map<std::string, std::string>;

class Transition : public TransitionLink {
public:
    Transition(int uniqueid, const char* name, NetClass* net, const PlaceIdentMap& places,
               std::string pagePath, double firingWeight, int priority, bool exp, bool takeFirst,
               bool isInfinite, bool hasLocalGuard);
    Transition(int uniqueid, const char* name, NetClass* net,
               const std::map<std::string, std::string>& attributes, const PlaceIdentMap& places,
               std::string pagePath, double firingWeight, int priority, bool exp, bool takeFirst,
               bool isInfinite, bool hasLocalGuard);
    ~Transition() override;

    // ---- operations the compiled model may override ----
    virtual void startup();
    virtual int getPriority() const;
    virtual Seconds_T getFiringDelay(TokenList& binding) const;
    virtual double getFiringWeight() const;
    virtual int getFireCount() const;
    virtual void setDisplaying(bool d);
    virtual void setWatch(bool w);
    virtual void setImmediate(bool i);
    virtual void setLogfile(std::string name, std::string description);
    // Seconds until the transition may fire.
    virtual Seconds_T Timeguard(const DateTime& now);
    virtual bool hasTimeguard() const;
    virtual void updateEventList();
    virtual void log(TokenList& binding);
    virtual double display(TokenList& binding);
    virtual bool checkSpace() const;
    // New candidate bindings (each satisfying the local guard); the caller
    // owns the list and every candidate. Must not change any marking.
    virtual TempBindingList* generateBindingList() = 0;
    virtual bool globalGuard();
    virtual void initGlobalGuards();
    // Consumes the bound tokens and produces the output tokens, through
    // Place::removeToken and Place::addToken only.
    virtual void moveTokens(TokenList& binding) = 0;

    // ---- structure ----
    void addInPlace(Place* p) final;
    void addOutPlace(Place* p) final;
    void addMeasure(MeasureObj* m);
    // Puts `replacement` wherever the transition refers to `old` (attached
    // or read through a place), moving the holder count with it.
    void replaceMeasure(MeasureObj* old, MeasureObj* replacement) final;
    void updateAffectedTransitionList();

    // ---- enabling and binding search ----
    const TokenList& getPlaceMarking(const Place& p) const;
    TempBindingList* getAvailableBindingList();
    int getEnablingDegree();
    void searchConfiguration();
    TokenList* extractRandomBinding(TempBindingList* list);

    // ---- event list ----
    void addBinding(Binding* b);
    void removeBinding(Binding* b, bool notify);
    void addNotBoundToken(const Ptr<Token>& token) final;
    void removeNotBoundToken(const Ptr<Token>& token) final;
    // The event selection that keeps this transition at position k of its
    // order, and is told whenever the transition gains its first event or
    // loses its last (null: none; EventSelection sets and clears it).
    void setEventSelection(EventSelection* s, std::size_t k) {
        selection = s;
        selectionOrder = k;
    }
    EventSelection* getEventSelection() const { return selection; }
    std::size_t getSelectionOrder() const { return selectionOrder; }

    // Asked of every transition at every event: inline.
    Binding* getNextEvent() const { return bindings.empty() ? nullptr : *bindings.begin(); }
    // Gives every event due before `now` the time `now` plus a fresh delay
    // (Binding::updateTime), so that none lies in the past; returns the
    // events moved. The token game does this after firing by hand.
    std::vector<Binding*> rescheduleEventsBefore(const DateTime& now);

    // ---- time-guard optimisation ----
    bool isOptimizingTimeguardTransition() const;
    void addTimeguardBinding(const DateTime& at);
    bool convertTimeguardBinding(Binding* b);

    // ---- firing and propagation ----
    void fire(Binding* b, double eventWeight);
    void accumMeasures(const Binding* b, double eventWeight);
    void notifyMeasures();
    void notifyPlaceWatch();
    void notifyTransitions();
    void couldEnableNotify();
    void couldDisableNotify();
    void tokenNotify(const Ptr<Token>& token) final;
    void placeNotify() final;
    void removeAllBindingsFromEventList();
    void removeRandomBindingFromEventList();

    // ---- saved states ----
    void removeCurrentBindings();
    void addRestoredBinding(Binding* b);
    void removeCurrentNotBoundTokens();
    void addRestoredNotBoundToken(Ptr<Token> token);
    std::list<Transition*> getCouldEnableTransitions() const { return couldEnableTransitions; }
    std::list<Transition*> getCouldDisableTransitions() const { return couldDisableTransitions; }
    void setCouldEnableTransitions(const std::list<Transition*>& l) { couldEnableTransitions = l; }
    void setCouldDisableTransitions(const std::list<Transition*>& l) { couldDisableTransitions = l; }

    // ---- accessors ----
    using EventList = std::set<Binding*, DerefLess<Binding*>>;
    const EventList& getEvents() const { return bindings; }
    const std::list<Place*>& getInPlaces() const { return inPlaces; }
    const std::list<Place*>& getOutPlaces() const { return outPlaces; }
    const std::list<Place*>& getAffectedPlaces() const { return affectedPlaces; }
    const TokenList& getNotBoundTokens() const { return notBoundTokens; }
    const std::set<MeasureObj*>& getMeasures() const { return measures; }
    int getID() const final { return id; }
    Transition* asTransition() final { return this; }
    void describe(std::ostream& os) const final;
    bool getInEventList() const { return inEventList; }
    void setInEventList(bool b) { inEventList = b; }
    void setTimeguardOptimization(bool b) { timeguardOptimization = b; }
    bool hasLocalGuard() const { return hasLocalGuard_; }
    bool getIsInfinite() const { return isInfinite; }
    bool isImmediate() const { return immediate; }
    bool isWatched() const { return watch; }
    bool isDisplaying() const { return displaying; }
    bool isLogging() const { return logging; }
    bool isFiring() const { return firing; }
    bool isExp() const { return exp; }
    bool isTakeFirst() const { return takeFirst; }
    const std::string& getLogfileName() const { return logfileName; }
    const std::string& getPagePath() const { return pagePath; }
    const PlaceIdentMap& getPlaceIdents() const { return placeIdents; }
    void printPlaces() const;

    static long globalFireCount;

protected:
    // The current simulation time, or the default time before a driver exists.
    DateTime now() const;
    // True when the transition trace is on.
    static bool tracing();
    static std::fstream& trace();

    Delay delay;
    RandomWrapper random;
    std::list<Place*> inPlaces;
    std::list<Place*> outPlaces;
    std::list<Transition*> couldEnableTransitions;
    std::list<Transition*> couldDisableTransitions;
    std::list<Place*> affectedPlaces;
    PlaceIdentMap placeIdents;
    TokenList notBoundTokens;
    EventList bindings;
    std::set<MeasureObj*> measures;
    std::vector<MeasureObj*> attachedMeasures;  // those given by addMeasure, each counted once
    int fireCount;
    bool inEventList;
    bool timeguardOptimization;
    bool isInfinite;
    bool exp;
    bool takeFirst;
    bool hasLocalGuard_;
    bool watch;
    bool firing;
    int priority;
    double firingWeight;
    bool immediate;
    bool displaying;
    bool logging;
    std::fstream logfile;
    std::string logfileName;
    int id;
    std::string pagePath;
    EventSelection* selection = nullptr;
    std::size_t selectionOrder = 0;

private:
    // Tells the event selection whether we have events now (after every
    // change of the set).
    void noteEvents();
    void openLogfile(const std::string& name, const std::string& description);
    void deleteCandidates(TempBindingList* list);
    // Hands the tokens of a binding being withdrawn that still lie on one of
    // our input places back to the free list (each token once).
    void returnTokensToNotBound(Binding* b);
};

std::ostream& operator<<(std::ostream& os, const Transition& t);
