#include "engine/EventSelection.h"

#include <bit>

#include "core/NetClass.h"
#include "engine/Binding.h"
#include "engine/Transition.h"
#include "platform/Logging.h"

EventSelection::~EventSelection() { release(); }

void EventSelection::release() {
    // Only the transitions still ours: another selection may have taken
    // some over, and destroyed ones were dropped (forget).
    for (Transition* t : transitionOrder)
        if (t != nullptr && t->getEventSelection() == this) t->setEventSelection(nullptr, 0);
    transitionOrder.clear();
    madeFor = nullptr;
}

void EventSelection::forget(const Transition* t) {
    const std::size_t k = t->getSelectionOrder();
    if (k < transitionOrder.size() && transitionOrder[k] == t) transitionOrder[k] = nullptr;
    madeFor = nullptr;
}

void EventSelection::refresh(const NetClass& net) {
    if (madeFor == &net && madeAt == net.getGeneration()) return;
    release();
    const auto& transitions = net.getTransitions();
    pendingEvents.assign((transitions.size() + 63) / 64, 0);
    transitionOrder.reserve(transitions.size());
    for (const auto& entry : transitions) {
        Transition* t = entry.second;
        const std::size_t k = transitionOrder.size();
        if (EventSelection* other = t->getEventSelection(); other != nullptr && other != this)
            other->invalidate();
        transitionOrder.push_back(t);
        t->setEventSelection(this, k);
        eventsChanged(k, t->getNextEvent());
    }
    madeFor = &net;
    madeAt = net.getGeneration();
}

const std::vector<Transition*>& EventSelection::order(const NetClass& net) {
    refresh(net);
    return transitionOrder;
}

const std::vector<std::uint64_t>& EventSelection::pending(const NetClass& net) {
    refresh(net);
    return pendingEvents;
}

DateTime EventSelection::collect(const NetClass& net, bool all, std::vector<Binding*>& found) {
    refresh(net);
    found.clear();
    DateTime best = DateTime::MAX;
    int bestPriority = 0;
    // Only the transitions with events, in the order of their names.
    for (std::size_t word = 0; word < pendingEvents.size(); ++word) {
        for (std::uint64_t bits = pendingEvents[word]; bits != 0; bits &= bits - 1) {
            const std::size_t k = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
            Binding* b = transitionOrder[k]->getNextEvent();
            if (b == nullptr) continue;
            if (all) {
                found.push_back(b);
            } else if (b->getTime() < best || (b->getTime() == best && b->getPriority() > bestPriority)) {
                found.clear();
                found.push_back(b);
                best = b->getTime();
                bestPriority = b->getPriority();
            } else if (b->getTime() == best && b->getPriority() == bestPriority) {
                found.push_back(b);
            }
        }
    }
    return best;
}

void EventSelection::candidates(NetClass& net, std::list<Binding*>* out, bool all, const DateTime& now) {
    Logging* logs = Logging::process();
    std::list<Binding*> deferred;
    for (;;) {
        deferred.clear();
        const DateTime best = collect(net, all, scratch);
        // assign reuses the caller's list nodes.
        out->assign(scratch.begin(), scratch.end());
        if (out->empty()) return;

        const std::size_t n = out->size();
        for (auto it = out->begin(); it != out->end();) {
            Binding* b = *it;
            if (!b->isTempBinding()) {
                ++it;
                continue;
            }
            if (logs->isSimLogging())
                logs->getSimLog() << "***********************" << "TempBinding found at " << now << *b << "\n";
            if (b->getBoundTransition()->convertTimeguardBinding(b)) {
                ++it;
            } else {
                deferred.push_back(b);
                it = out->erase(it);
            }
        }
        if (deferred.size() < n) return;

        // Nothing can fire now: every waiting time guard looks again a second later.
        for (auto it = deferred.rbegin(); it != deferred.rend(); ++it) {
            Transition* t = (*it)->getBoundTransition();
            t->removeBinding(*it, false);
            t->addTimeguardBinding(best + 1.0);
        }
    }
}
