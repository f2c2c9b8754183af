#pragma once
// Checks the names and references of a Model read from a description:
// names that can become identifiers, no duplicates, identifiers in order, and
// every place, transition, colour, variable and attribute that an element
// names exists where it is used. Every problem is reported with its line.
#include "Diagnostics.h"
#include "Model.h"

namespace scpnc {

void checkModel(const Model& model, Diagnostics& diagnostics);

}  // namespace scpnc
