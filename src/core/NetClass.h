#pragma once
// The registry of one net: places and transitions by name, the measures of
// the current run, and the link to the running simulation. A compiled model
// derives from it and supplies buildNet and createTokens.
#include <list>
#include <map>
#include <vector>
#include <string>

#include "core/RunDriver.h"
#include "core/Token.h"

class Place;
class Transition;
class TransitionLink;
class MeasureObj;

class NetClass {
public:
    NetClass();
    virtual ~NetClass();
    NetClass(const NetClass&) = delete;
    NetClass& operator=(const NetClass&) = delete;

    virtual void buildNet() = 0;
    virtual void createTokens() = 0;
    // Copy and up-cast by colour name; the compiled model knows its colours.
    virtual Ptr<Token> copyToken(Ptr<Token> token);
    virtual Ptr<Token> upcastToken(Ptr<Token> token);

    void addPlace(Place* p);
    void addTransition(TransitionLink* t);
    void addMeasure(MeasureObj* m);

    static void linkIntoTransition(Place* p, TransitionLink* t, int multiplicity);
    static void linkOutOfTransition(TransitionLink* t, Place* p, int multiplicity);
    void linkPlaceToTransition(const char* placeName, const char* transitionName, int multiplicity);
    void linkTransitionToPlace(const char* transitionName, const char* placeName, int multiplicity);

    Place* getPlace(const char* name);
    Place* getPlace(const std::string& name);
    Place* getPlace(int id);
    Place* getPlace(std::map<std::string, std::string>* placeIdents, const char* localName);
    Transition* getTransition(const char* name);
    Transition* getTransition(int id);

    const std::map<std::string, Place*>& getPlaces() const { return places; }
    // In name order; the event selection (engine/EventSelection) keeps
    // the transitions in this order.
    const std::map<std::string, Transition*>& getTransitions() const { return transitions; }
    // Changes whenever a place or transition is registered or the maps are
    // cleared: look-ups cached under one generation stay valid until then.
    unsigned long getGeneration() const { return generation; }
    std::list<MeasureObj*>& getMeasureList() { return measureList; }
    const std::list<MeasureObj*>& getStoredMeasureList() const { return storedMeasureList; }

    // The driver that runs the net, or null.
    void setSimulation(RunDriver* s) { simulation = s; }
    RunDriver* getSimulation() const { return simulation; }

    void storeMeasureList();
    // Forgets the current build (after storing its measure list) so that the
    // model can build the net again for a new run.
    void clearMaps();
    // Keeps the measures that the kind of run (0 transient, 1 stationary,
    // 2 RESTART) can estimate.
    void loadMeasureList(int simulationKind);
    void restoreNet(int simulationKind);
    // What a run does before it starts: clearMaps, buildNet and
    // loadMeasureList, and then the build that was replaced is freed
    // (places, transitions, their tokens and bindings). The measures of the
    // stored list, which carry a run's statistics from build to build,
    // survive: the registry keeps a reference on them.
    void rebuildForRun(int simulationKind);

    std::string writeMaps() const;

protected:
    std::map<std::string, Place*> places;
    std::map<std::string, Transition*> transitions;
    std::list<MeasureObj*> measureList;
    std::list<MeasureObj*> storedMeasureList;
    RunDriver* simulation;

private:
    unsigned long generation = 0;
    // The same transitions as `transitions`, as core speaks to them.
    std::map<std::string, TransitionLink*> transitionLinks;
    TransitionLink* findTransitionLink(const char* name);
    // Frees a replaced build (transitions first: their bindings refer to
    // tokens on the places).
    static void freeBuild(const std::map<std::string, Place*>& oldPlaces,
                          const std::map<std::string, TransitionLink*>& oldTransitions);
    // The measures of a rebuild are new objects, but the run's statistics
    // live in those of the stored list: the new places and transitions are
    // given the stored ones instead (same name), so that every accumulation
    // the model describes reaches the measure the run reports, and the new
    // objects are freed.
    void adoptStoredMeasures();
    // Measures the registry keeps alive across rebuilds (one reference each).
    void holdStoredMeasures();
    void releaseHeldMeasures();
    std::list<MeasureObj*> heldMeasures;
};
