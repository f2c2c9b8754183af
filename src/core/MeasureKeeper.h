#pragma once
// What the net registry, its places and its transitions do with the
// measures they refer to. Core passes measures around as opaque MeasureObj
// pointers (the type the drivers and the compiled model use); what a
// measure is, and when one may be freed, is the business of the measures,
// which sit above core: they implement this interface
// (measures/MeasureObj.cpp) and install it when the first measure is made.
// Core asks it only about a measure it was given, so one is always
// installed by then. Not on the event path.
//
// A measure lives as long as something holds it: a place or transition it
// is attached to, or the registry across rebuilds. Every holder takes one
// reference with hold and gives it back with release, the only operation
// that frees a measure; rebind moves a holder from one measure to another.
#include <vector>
#include <string>

class MeasureObj;

class MeasureKeeper {
public:
    static MeasureKeeper& process();
    static void install(MeasureKeeper* keeper);

    // One holder more.
    virtual void hold(MeasureObj* m) = 0;
    // One holder fewer; the last one frees the measure.
    virtual void release(MeasureObj* m) = 0;

    // Every entry `old` of a holder's list becomes `replacement`, with the
    // references moved along. The caller keeps `old` alive meanwhile (see
    // NetClass::adoptStoredMeasures), so no release here frees it.
    void rebind(std::vector<MeasureObj*>& held, MeasureObj* old, MeasureObj* replacement) {
        for (MeasureObj*& m : held) {
            if (m != old) continue;
            hold(replacement);
            m = replacement;
            release(old);
        }
    }

    virtual const std::string& name(const MeasureObj* m) const = 0;
    // Which kinds of run can estimate it (see NetClass::loadMeasureList).
    virtual bool accumulative(MeasureObj* m) = 0;
    virtual bool timeAverage(MeasureObj* m) = 0;

protected:
    ~MeasureKeeper() = default;
};
