#include "engine/Binding.h"

#include <sstream>

#include "engine/Transition.h"
#include "platform/FatalError.h"

long Binding::idCounter = 0;

namespace {
// Earlier time first, then higher priority, then the older binding.
template <class B>
bool eventBefore(const B& a, const B& b) {
    if (a.getTime() != b.getTime()) return a.getTime() < b.getTime();
    if (a.getPriority() != b.getPriority()) return a.getPriority() > b.getPriority();
    return a.getID() < b.getID();
}
}  // namespace

Binding::Binding(TokenList* tokens, Transition* t, const DateTime& now)
    : boundTokens(tokens), boundTransition(nullptr), priority(0), ID(0), weight(1.0), fireEvent(true) {
    init(t, now);
}

Binding::Binding(Transition* t, const DateTime& now)
    : boundTokens(nullptr), boundTransition(nullptr), priority(0), ID(0), weight(1.0), fireEvent(true) {
    init(t, now);
}

Binding::Binding(const DateTime& at)
    : boundTokens(nullptr),
      boundTransition(nullptr),
      time(at),
      priority(0),
      ID(idCounter++),
      weight(1.0),
      fireEvent(false) {}

Binding::Binding(long id, Transition* t, DateTime at, int prio, double w, bool fire, TokenList* tokens)
    : boundTokens(tokens), boundTransition(t), time(at), priority(prio), ID(id), weight(w), fireEvent(fire) {}

Binding::~Binding() { delete boundTokens; }

Binding& Binding::operator=(const Binding& other) {
    if (this != &other) {
        boundTokens = other.boundTokens;
        boundTransition = other.boundTransition;
        time = other.time;
        priority = other.priority;
        ID = other.ID;
        weight = other.weight;
        fireEvent = other.fireEvent;
    }
    return *this;
}

void Binding::init(Transition* t, const DateTime& now) {
    boundTransition = t;
    fireEvent = !t->hasTimeguard();
    updateTime(now);
    priority = t->getPriority();
    weight = t->getFiringWeight();
    ID = idCounter++;
}

void Binding::updateTime(const DateTime& now) {
    TokenList none;
    TokenList& tokens = boundTokens ? *boundTokens : none;
    const double delay = boundTransition->getFiringDelay(tokens);
    // A negative delay would schedule the event in the past and move the
    // clock backwards; no estimate of such a run means anything.
    if (!(delay >= 0.0)) {  // also a delay that is not a number
        std::ostringstream text;
        text.precision(16);
        text << "transition \"" << boundTransition->getName() << "\" drew the firing delay " << delay
             << " s at model time " << now.FullDateTime()
             << "; a firing delay must be a number of seconds of at least 0. Correct the "
                "delay distribution of the model. The run ends without results.";
        fatalError(text.str());
    }
    time = now + delay;
    if (!fireEvent) time += static_cast<double>(boundTransition->Timeguard(now));
}

bool Binding::operator<(const Binding& other) const { return eventBefore(*this, other); }

void Binding::convertTempBinding(TokenList* tokens) {
    if (tokens == boundTokens) return;
    delete boundTokens;  // only a temporary binding (no list) is converted in practice
    boundTokens = tokens;
}

std::ostream& operator<<(std::ostream& os, const Binding& b) {
    if (b.isTempBinding()) os << "Temp";
    os << "Binding[" << (b.isFireEvent() ? "FIRE, " : "TIMEGUARD, ");
    os << (b.getBoundTransition() ? b.getBoundTransition()->getName() : std::string());
    os << ", ID: " << b.getID();
    os.precision(16);
    os << ", time: " << b.getTime().FullDateTime() << ", prio: " << b.getPriority()
       << ", weight: " << b.getWeight() << "]";
    return os;
}

BindingDummy::BindingDummy(long id, Transition* t, DateTime at, int prio, double w, bool fire,
                           std::vector<long> tokens)
    : boundTransition(t), time(at), priority(prio), ID(id), weight(w), fireEvent(fire),
      tokensID(std::move(tokens)) {}

bool BindingDummy::operator<(const BindingDummy& other) const { return eventBefore(*this, other); }
