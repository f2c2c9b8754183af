#pragma once
// What a run loop adds to the one event step that every mode shares
// (Simulation::step). The step chooses the event, advances the clock, lets
// the measures see it, traces and fires it; a mode only says what happens
// around that: sampling points before an event, a batch that ends with it,
// the splitting level after it. The state a mode needs lives in its hooks,
// which its run function owns, not in the driver.
class Binding;

// How a step ended.
enum class StepResult {
    Fired,  // the event was executed
    Dead,   // there was no event: the marking is dead
    Held,   // a hook kept the chosen event from firing; the run loop ends
};

class StepHooks {
public:
    virtual ~StepHooks() = default;

    // The clock stands at the event, the measures have not seen it yet.
    // False keeps it from firing (it lies past the end of the run).
    virtual bool beforeMeasures(Binding& event);
    // The measures have seen the event. False ends the run before it fires.
    virtual bool beforeFiring(Binding& event);
    // The event has fired (its binding is gone with it).
    virtual void afterFiring();

    // The candidates are the first event of every transition rather than
    // only the earliest ones of the highest priority (the token game's
    // single step).
    bool allTransitions = false;
    // A "FIRING:" line in the simulation trace for every event (the
    // simulation runs; the token game and the profiling run write none).
    bool traceFiring = true;
};
