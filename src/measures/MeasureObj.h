#pragma once
// Base of the performance measures. Places and transitions that refer to a
// measure count themselves in its reference count; the last place to let go
// deletes it. The registry lists measures without owning them.
#include <string>

#include "core/DefaultGM.h"

class Binding;

class MeasureObj : public DefaultGM {
public:
    MeasureObj(const char* name, NetClass* net, bool watch);
    ~MeasureObj() override;

    // The measure's value; -1 asks for the value of the current window.
    virtual double measure(double arg) = 0;
    // Accumulates over the whole run instead of being averaged.
    virtual bool accumulative() = 0;
    // A time average, fed on every event.
    virtual bool timeaverage() = 0;
    // Folds one executed event into the current window.
    virtual void accum(const Binding* b, double weight) = 0;
    // Called after every firing of a transition that refers to the measure.
    virtual void notify();

    std::string getMeasureName() const { return name; }
    bool getWatch() const { return watch; }
    int getRefCount() const { return reference_count; }
    void incrementRefCount() { ++reference_count; }
    void decrementRefCount() { --reference_count; }

protected:
    int reference_count = 0;
    bool watch;
};
