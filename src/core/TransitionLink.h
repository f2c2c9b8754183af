#pragma once
// What places, tokens and the net registry ask of a transition. Places and
// transitions refer to each other (that is a Petri net), but the transition
// engine is built on top of core: core speaks to a transition through this
// interface only, and engine/Transition implements it with `final`
// overriders, so that calls made through a Transition are direct and the
// optimiser can devirtualise those made through this base.
//
// The calls of addToken, removeToken and of a consumed token are made at
// every event; the others while a net is built or logged.
#include <ostream>

#include "core/DefaultGM.h"
#include "core/Token.h"

class MeasureObj;
class Place;
class Transition;

class TransitionLink : public DefaultGM {
public:
    using DefaultGM::DefaultGM;

    // The engine's object behind this interface. Core keeps the lists it
    // hands out typed as Transition*, but cannot convert without the class.
    virtual Transition* asTransition() = 0;
    virtual int getID() const = 0;

    // ---- per event ----
    // A token arrived on (left) an input place of the transition.
    virtual void addNotBoundToken(const Ptr<Token>& token) = 0;
    virtual void removeNotBoundToken(const Ptr<Token>& token) = 0;
    // A token held in one of the transition's bindings was consumed.
    virtual void tokenNotify(const Ptr<Token>& token) = 0;
    // A place read by the transition's global guard changed.
    virtual void placeNotify() = 0;

    // ---- building the net ----
    virtual void addInPlace(Place* p) = 0;
    virtual void addOutPlace(Place* p) = 0;
    virtual void replaceMeasure(MeasureObj* old, MeasureObj* replacement) = 0;
    // The transition's line in traces (engine's operator<< of Transition).
    virtual void describe(std::ostream& os) const = 0;
};

inline std::ostream& operator<<(std::ostream& os, const TransitionLink& t) {
    t.describe(os);
    return os;
}
