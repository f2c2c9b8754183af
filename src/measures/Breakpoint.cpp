#include "measures/Breakpoint.h"

#include <cmath>

#include "measures/MeasureObj.h"

Breakpoint::Breakpoint() : measure(nullptr), relation(BR_NONE), threshold(0.0) {}

Breakpoint::Breakpoint(MeasureObj* m, BreakpointRelation r, double w) : measure(m), relation(r), threshold(w) {}

bool Breakpoint::isTriggered() const {
    if (measure == nullptr || relation == BR_NONE) return false;
    const double v = measure->measure(-1.0);
    switch (relation) {
        case BR_EQUAL: return std::fabs(v - threshold) <= 1e-8;
        case BR_GREATER: return v > threshold;
        case BR_LESS: return v < threshold;
        case BR_GREATER_EQ: return v >= threshold;
        case BR_LESS_EQ: return v <= threshold;
        default: return false;
    }
}

BreakpointRelation Breakpoint::stringToRelation(const std::string& text) {
    if (text == "=") return BR_EQUAL;
    if (text == "<") return BR_LESS;
    if (text == ">") return BR_GREATER;
    if (text == "<=") return BR_LESS_EQ;
    if (text == ">=") return BR_GREATER_EQ;
    return BR_NONE;
}
