#pragma once
// A condition on a measure's current value that the token game reports after
// every firing, so that a front end playing the net automatically knows when
// to stop: a measure, a relation and a threshold.
#include <string>

class MeasureObj;

enum BreakpointRelation {
    BR_NONE = 0,       // never holds
    BR_EQUAL = 1,      // "=": |v - w| <= 1e-8
    BR_GREATER = 2,    // ">"
    BR_LESS = 3,       // "<"
    BR_GREATER_EQ = 4, // ">="
    BR_LESS_EQ = 5     // "<="
};

class Breakpoint {
public:
    // Never holds.
    Breakpoint();
    // The measure is not owned and may be null (a name that was not found):
    // such a breakpoint never holds.
    Breakpoint(MeasureObj* measure, BreakpointRelation relation, double threshold);

    // Asks the measure for its current value (measure(-1)) and compares it
    // with the threshold; false without a measure or relation.
    bool isTriggered() const;

    // "=", "<", ">", "<=", ">=" exactly; any other text (blanks included) is
    // BR_NONE.
    static BreakpointRelation stringToRelation(const std::string& text);

    MeasureObj* getMeasure() const { return measure; }

private:
    MeasureObj* measure;
    BreakpointRelation relation;
    double threshold;
};
