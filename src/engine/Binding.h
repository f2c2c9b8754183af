#pragma once
// One scheduled event: a transition with the tokens it will consume, when
// it is due, and the priority and weight that decide between events due at
// the same time. operator< is the event order of the whole system.
#include <ostream>
#include <vector>

#include "core/DateTime.h"
#include "core/Token.h"

class Transition;

using Seconds_T = double;

class Binding {
public:
    // A firing or time-guard event of `t` made at `now`; takes the list.
    Binding(TokenList* tokens, Transition* t, const DateTime& now);
    // A temporary time-guard binding: no tokens yet.
    Binding(Transition* t, const DateTime& now);
    // A time marker: no transition; the transient driver samples at it.
    explicit Binding(const DateTime& at);
    // A binding restored from a saved state; keeps its identifier.
    Binding(long id, Transition* t, DateTime time, int priority, double weight, bool fireEvent,
            TokenList* tokens);
    ~Binding();

    // Shares the other's token list; meant for time markers, which have none.
    Binding& operator=(const Binding& other);
    Binding(const Binding&) = delete;

    // Due time = now + a fresh firing delay (+ the time-guard wait for
    // time-guard events).
    void updateTime(const DateTime& now);

    bool operator<(const Binding& other) const;
    bool operator==(const Binding& other) const { return ID == other.ID; }

    TokenList* getBoundTokens() const { return boundTokens; }
    Transition* getBoundTransition() const { return boundTransition; }
    const DateTime& getTime() const { return time; }
    int getPriority() const { return priority; }
    long getID() const { return ID; }
    double getWeight() const { return weight; }
    bool isFireEvent() const { return fireEvent; }
    bool isTempBinding() const { return boundTokens == nullptr; }

    // Gives a temporary binding its tokens; time, priority and identifier stay.
    void convertTempBinding(TokenList* tokens);

    static long idCounter;

private:
    void init(Transition* t, const DateTime& now);

    TokenList* boundTokens;
    Transition* boundTransition;
    DateTime time;
    int priority;
    long ID;
    double weight;
    bool fireEvent;
};

std::ostream& operator<<(std::ostream& os, const Binding& b);

// Orders sets of pointers by the pointed-to values.
template <class P>
struct DerefLess {
    bool operator()(const P& a, const P& b) const { return *a < *b; }
};

// A value copy of a binding, with token identifiers instead of handles.
class BindingDummy {
public:
    BindingDummy(long id, Transition* t, DateTime time, int priority, double weight, bool fireEvent,
                 std::vector<long> tokensID);
    BindingDummy(const BindingDummy& other) = default;
    BindingDummy& operator=(const BindingDummy& other) = default;

    Transition* getBoundTransition() const { return boundTransition; }
    const DateTime& getTime() const { return time; }
    int getPriority() const { return priority; }
    long getID() const { return ID; }
    double getWeight() const { return weight; }
    bool isFireEvent() const { return fireEvent; }
    const std::vector<long>& getTokensID() const { return tokensID; }

    bool operator<(const BindingDummy& other) const;
    bool operator==(const BindingDummy& other) const { return ID == other.ID; }

private:
    Transition* boundTransition;
    DateTime time;
    int priority;
    long ID;
    double weight;
    bool fireEvent;
    std::vector<long> tokensID;  // token identifiers are as wide as Token::getID
};
