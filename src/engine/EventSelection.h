#pragma once
// Chooses the candidates of the next event of a net: of all the
// transitions' first events, every one with the earliest time and, among
// those, the highest priority (or, for the token game, the first event of
// every transition). Conflict resolution then draws among the candidates,
// so their order is part of a run's trajectory: it is the order of the
// transitions' names, as NetClass::getTransitions lists them.
//
// Why the structure has this shape:
//  - Each transition keeps its own events, ordered (Transition::getEvents);
//    only its first one can be a candidate. So the selection keeps one
//    entry per transition, not one per event, and a transition tells it
//    whenever its first event may have changed (eventsChanged, called by
//    the transition after every change of its set).
//  - Most transitions of a net have no event most of the time. The entries
//    are a bit set over the transition order (bit k of word k / 64 says
//    whether transition k has events), and a scan visits the set bits only,
//    in order, which keeps the name order for free.
//  - The order is made once per build of the net and remade when the
//    net's generation counter changes (a place or transition registered,
//    the maps cleared) or when a transition it holds is destroyed. The
//    selection registers itself with each transition it orders
//    (Transition::setEventSelection); a transition of no selection tells
//    nobody, and its events are read when an order containing it is made.
//
// This is where an indexed heap of the transitions' first events will go
// (keyed by time, then priority, then position): eventsChanged gives the
// position whose key may have changed, and the candidates are then the
// heap's top entries with the top's time and priority, taken in position
// order. A heap needs to hear of re-timed events too, which is why
// Transition::rescheduleEventsBefore reports as well.
//
// One selection serves one net at a time; the Simulation owns one. Not
// thread-safe (a net is run by one thread).
#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

#include "core/DateTime.h"

class Binding;
class NetClass;
class Transition;

class EventSelection {
public:
    EventSelection() = default;
    ~EventSelection();
    EventSelection(const EventSelection&) = delete;
    EventSelection& operator=(const EventSelection&) = delete;

    // The candidates of the next event of `net` at model time `now` (the
    // latter for traces only), in transition order: with `all` false every
    // earliest event of the highest priority among those, with `all` true
    // the first event of every transition. Time-guard placeholders among
    // them are converted to real events; those that cannot fire yet are
    // left out and, when nothing else can fire, every one of them looks
    // again a second after the earliest, and the selection starts over.
    // `out` is empty when no transition has an event.
    void candidates(NetClass& net, std::list<Binding*>* out, bool all, const DateTime& now);

    // What a transition reports (see the class comment): the first event
    // of the transition at position k may have changed; `first` is its
    // first event now, or null.
    void eventsChanged(std::size_t k, const Binding* first) {
        const std::uint64_t bit = std::uint64_t{1} << (k % 64);
        if (first != nullptr)
            pendingEvents[k / 64] |= bit;
        else
            pendingEvents[k / 64] &= ~bit;
    }
    // A transition of our order is being destroyed: it is dropped and the
    // order remade at the next use.
    void forget(const Transition* t);
    // The order is remade at the next use (another selection took over
    // some of our transitions).
    void invalidate() { madeFor = nullptr; }

    // The transition order of `net` and which of them have events (bit k
    // of word k / 64), made or remade first if need be.
    const std::vector<Transition*>& order(const NetClass& net);
    const std::vector<std::uint64_t>& pending(const NetClass& net);

private:
    // Every candidate binding (before time-guard handling) into `found`;
    // returns their time (DateTime::MAX with `all`, which takes every time).
    DateTime collect(const NetClass& net, bool all, std::vector<Binding*>& found);
    void refresh(const NetClass& net);
    void release();

    const NetClass* madeFor = nullptr;
    unsigned long madeAt = 0;  // the net's generation then
    std::vector<Transition*> transitionOrder;
    std::vector<std::uint64_t> pendingEvents;
    // Kept from event to event so that collecting allocates nothing.
    std::vector<Binding*> scratch;
};
