#pragma once
// What the net registry and its places do with the measures they refer to.
// Core passes measures around as opaque MeasureObj pointers (the type the
// drivers and the compiled model use); what a measure is, and when one may
// be freed, is the business of the measures, which sit above core: they
// implement this interface (measures/MeasureObj.cpp) and install it when the
// first measure is made. Core asks it only about a measure it was given, so
// one is always installed by then. Not on the event path.
#include <string>

class MeasureObj;

class MeasureKeeper {
public:
    static MeasureKeeper& process();
    static void install(MeasureKeeper* keeper);

    // One holder more / one fewer; drop frees nothing.
    virtual void hold(MeasureObj* m) = 0;
    virtual void drop(MeasureObj* m) = 0;
    // Frees the measure when no holder is left.
    virtual void freeIfUnheld(MeasureObj* m) = 0;
    // drop, then freeIfUnheld.
    void release(MeasureObj* m) {
        drop(m);
        freeIfUnheld(m);
    }

    virtual const std::string& name(const MeasureObj* m) const = 0;
    // Which kinds of run can estimate it (see NetClass::loadMeasureList).
    virtual bool accumulative(MeasureObj* m) = 0;
    virtual bool timeAverage(MeasureObj* m) = 0;

protected:
    ~MeasureKeeper() = default;
};
