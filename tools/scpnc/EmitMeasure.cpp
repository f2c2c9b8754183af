// MeasureObj_<X>: one performance measure with its global pointer.
#include <sstream>

#include "Emit.h"
#include "Names.h"

namespace scpnc {

namespace {

std::string flag(bool b) { return b ? "true" : "false"; }

std::string header(const Model& model, const MeasureDecl& m) {
    const std::string cls = measureClass(m.name);
    std::ostringstream h;
    h << fileBanner(model, "The measure \"" + m.name + "\".");
    h << "#pragma once\n"
         "#include \"measures/MeasureObj.h\"\n\n"
         "class Binding;\n"
         "class Transition;\n\n"
         "class " << cls << " : public MeasureObj {\n"
         "public:\n"
         "    explicit " << cls << "(NetClass* net);\n\n"
         "    double measure(double dt) override;\n"
         "    bool accumulative() override;\n"
         "    bool timeaverage() override;\n"
         "    void accum(const Binding* binding, double weight) override;\n\n"
         "private:\n"
         "    // The number of tokens on the net place named `place`, looked up now.\n"
         "    unsigned int count(const char* place) const;\n"
         "    // The registered transition named `name`.\n"
         "    Transition* transition(const char* name) const;\n"
         "};\n\n"
         "// The measure object of the current build of the net.\n"
         "extern " << cls << "* " << measurePointer(m.name) << ";\n";
    return h.str();
}

std::string source(const Model& model, const MeasureDecl& m) {
    const std::string cls = measureClass(m.name);
    std::ostringstream c;
    c << fileBanner(model, "The measure \"" + m.name + "\".");
    c << "#include \"" << cls << ".h\"\n\n"
         "#include \"core/NetClass.h\"\n"
         "#include \"core/Place.h\"\n"
         "#include \"engine/Binding.h\"\n"
         "#include \"engine/Transition.h\"\n\n";
    c << cls << "* " << measurePointer(m.name) << " = nullptr;\n\n";
    c << cls << "::" << cls << "(NetClass* net) : MeasureObj(" << cppString(m.name) << ", net, "
      << flag(m.watch) << ") {";
    if (m.state)
        c << "\n    lastTime = 0;\n    firstTime = lastTime;\n    value = 0;\n";
    c << "}\n\n";
    c << "double " << cls << "::measure([[maybe_unused]] double dt) {\n" << reindented(m.valueBody, 4) << "}\n\n";
    c << "bool " << cls << "::accumulative() { return " << flag(m.accumulative) << "; }\n\n";
    c << "bool " << cls << "::timeaverage() { return " << flag(m.timeaverage) << "; }\n\n";
    if (m.accumBody.find_first_not_of(" \t\r\n") == std::string::npos)
        c << "void " << cls << "::accum(const Binding*, double) {}\n\n";
    else
        c << "void " << cls << "::accum([[maybe_unused]] const Binding* binding, [[maybe_unused]] double weight) {\n"
          << reindented(m.accumBody, 4) << "}\n\n";
    c << "unsigned int " << cls << "::count(const char* place) const {\n"
         "    return static_cast<unsigned int>(placeNamed(place)->getMarkingSize());\n"
         "}\n\n";
    c << "Transition* " << cls << "::transition(const char* name) const { return transitionNamed(name); }\n";
    return c.str();
}

}  // namespace

std::vector<GeneratedFile> emitMeasure(const Model& model, const MeasureDecl& measure) {
    const std::string cls = measureClass(measure.name);
    return {{cls + ".h", header(model, measure)}, {cls + ".cpp", source(model, measure)}};
}

}  // namespace scpnc
