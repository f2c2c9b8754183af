#pragma once
// Turns the element tree of a description into a Model. It checks the shape
// of the description: known elements in the right places, known attributes,
// required attributes present, and values of the right form (integers,
// "true"/"false", number literals). Names and references are checked later
// by checkModel.
#include "Diagnostics.h"
#include "Model.h"
#include "XmlTree.h"

namespace scpnc {

Model readModel(const XmlElement& root, Diagnostics& diagnostics);

}  // namespace scpnc
