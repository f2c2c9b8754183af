#pragma once
// What the elements of a net ask of the driver that runs it: the simulation
// clock, whether the user fires step by step, and the result channel for
// watched places and transitions. The simulation driver implements it; the
// net's elements reach it through their net (NetClass::getSimulation), so
// that they need not know the drivers built on top of them.
#include "core/DateTime.h"

class DefaultGM;

class RunDriver {
public:
    virtual ~RunDriver() = default;
    virtual const DateTime& getCurrentSimulationTime() const = 0;
    // True in the token game, where the user fires step by step.
    virtual bool isSingleStep() const = 0;
    // The value of a watched place or transition, for the result channel.
    virtual void measureOut(DefaultGM* element, double value) = 0;
    // The display value of a transition, for the result channel.
    virtual void displayOut(DefaultGM* element, double value) = 0;
};
