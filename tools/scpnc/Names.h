#pragma once
// How model names become C++ identifiers and file names. A model name turns
// into an identifier by doubling every underscore; a single underscore then
// only ever separates a fixed prefix from a name, so generated identifiers
// of different kinds cannot collide.
#include <string>

namespace scpnc {

// "A3_execution" -> "A3__execution".
std::string doubled(const std::string& name);

std::string transitionClass(const std::string& transitionName);  // Transition_<X>
std::string measureClass(const std::string& measureName);        // MeasureObj_<X>
std::string measurePointer(const std::string& measureName);      // measure_<X>
std::string placeMap(const std::string& transitionName);         // places_<X>
// The token class of a colour: "int" -> Token_int, a record colour "Data" -> Token_Data.
std::string tokenClass(const std::string& colour);

// Letters, digits and underscores, starting with a letter: the names of
// colours, attributes, places, transitions and measures.
bool isModelName(const std::string& text);
// Letters and digits, starting with a letter: binding variables. Without
// underscores, "<var>_Place" and the other identifiers derived from a
// variable cannot meet another variable's name.
bool isVariableName(const std::string& text);

// Each of these is true for a name that, once doubled, would clash with a
// C++ keyword or with a name the generated code uses in the same scope.
// Places and transitions become local pointers of the net builder:
bool isReservedPointerName(const std::string& name);
// Binding variables become locals of the transition's operations:
bool isReservedVariable(const std::string& name);
// Record colour attributes become members of the token class:
bool isReservedAttribute(const std::string& name);

// `text` as a C++ string literal, quotes included.
std::string cppString(const std::string& text);

}  // namespace scpnc
