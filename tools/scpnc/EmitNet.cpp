// buildnet.h/.cpp: the net builder ImplementedNetClass and the program entry.
#include <set>
#include <sstream>

#include "Emit.h"
#include "Names.h"

namespace scpnc {

namespace {

std::string flag(bool b) { return b ? "true" : "false"; }

std::string header(const Model& model) {
    std::ostringstream h;
    h << fileBanner(model, "The net builder.");
    h << "#pragma once\n"
         "#include \"core/NetClass.h\"\n\n"
         "class ImplementedNetClass : public NetClass {\n"
         "public:\n"
         "    ImplementedNetClass() = default;\n"
         "    ~ImplementedNetClass() override = default;\n\n"
         "    // Creates and registers every place, transition, arc and measure and\n"
         "    // loads the initial marking from the marking file.\n"
         "    void buildNet() override;\n"
         "    // Adds the tokens stored in the database.\n"
         "    void createTokens() override;\n"
         "    // A copy of a token of a known colour (same identifier and attributes);\n"
         "    // an empty handle for any other colour.\n"
         "    Ptr<Token> copyToken(Ptr<Token> oldToken) override;\n"
         "    // The same token as a handle of its own colour, converted back; an empty\n"
         "    // handle for a colour the model does not know.\n"
         "    Ptr<Token> upcastToken(Ptr<Token> token) override;\n"
         "};\n";
    return h.str();
}

void buildNetBody(std::ostringstream& c, const Model& model) {
    c << "void ImplementedNetClass::buildNet() {\n";
    if (!model.places.empty()) c << "    // Places, in identifier order.\n";
    for (const PlaceDecl& p : model.places) {
        const std::string v = doubled(p.name);
        c << "    Place* " << v << " = new Place(" << p.id << ", " << cppString(p.name) << ", this, "
          << flag(p.firstTokensOnly) << ", " << p.capacity << ");\n"
          << "    " << v << "->setWatch(" << flag(p.watch) << ");\n"
          << "    addPlace(" << v << ");\n";
    }
    if (!model.transitions.empty()) c << "\n    // Transitions, in identifier order.\n";
    for (const TransitionDecl& t : model.transitions) {
        const std::string v = doubled(t.name);
        const std::string map = placeMap(t.name);
        c << "    PlaceIdentMap " << map << ";\n";
        // Each place of the transition's arcs once, mapped to itself.
        std::set<std::string> mapped;
        for (const std::vector<Arc>* arcs : {&t.inputs, &t.outputs})
            for (const Arc& arc : *arcs)
                if (mapped.insert(arc.place).second)
                    c << "    " << map << "[" << cppString(arc.place) << "] = " << cppString(arc.place) << ";\n";
        c << "    Transition* " << v << " = new " << transitionClass(t.name) << "(" << t.id << ", "
          << cppString(t.name) << ", this, " << map << ", " << cppString(t.pagePath) << ", " << t.weight
          << ", " << t.priority << ", " << flag(t.exp) << ", " << flag(t.takeFirst) << ", "
          << flag(t.infinite) << ", " << flag(t.localGuard) << ");\n"
          << "    " << v << "->setDisplaying(false);\n"
          << "    " << v << "->setWatch(" << flag(t.watch) << ");\n"
          << "    " << v << "->setImmediate(" << flag(t.immediate) << ");\n"
          << "    " << v << "->setLogfile(\"\", \"\");\n"
          << "    addTransition(" << v << ");\n";
    }
    if (!model.transitions.empty()) c << "\n    // Arcs: per transition its inputs, then its outputs.\n";
    for (const TransitionDecl& t : model.transitions) {
        for (const Arc& arc : t.inputs)
            c << "    linkPlaceToTransition(" << cppString(arc.place) << ", " << cppString(t.name) << ", "
              << arc.multiplicity << ");\n";
        for (const Arc& arc : t.outputs)
            c << "    linkTransitionToPlace(" << cppString(t.name) << ", " << cppString(arc.place) << ", "
              << arc.multiplicity << ");\n";
    }
    if (!model.measures.empty()) c << "\n    // Measures.\n";
    for (const MeasureDecl& m : model.measures) {
        const std::string ptr = measurePointer(m.name);
        c << "    " << ptr << " = new " << measureClass(m.name) << "(this);\n";
        for (const Attachment& a : m.attachments)
            c << "    " << doubled(a.target) << "->addMeasure(" << ptr << ");\n";
        c << "    addMeasure(" << ptr << ");\n";
    }
    if (!model.initials.empty()) c << "\n    // Initial marking.\n";
    for (const InitialLoad& load : model.initials)
        c << "    " << tokenClass(load.colour) << "::addInitialTokens(" << doubled(load.place) << ");\n";
    c << "}\n\n";
}

// Dispatch on the colour name: one branch per colour, "int" first.
void colourDispatch(std::ostringstream& c, const Model& model, bool copy) {
    std::vector<std::string> colours = {"int"};
    for (const Colour& colour : model.colours) colours.push_back(colour.name);
    if (copy)
        c << "Ptr<Token> ImplementedNetClass::copyToken(Ptr<Token> oldToken) {\n"
             "    if (oldToken == 0) return Ptr<Token>();\n"
             "    const std::string colour = oldToken->getName();\n";
    else
        c << "Ptr<Token> ImplementedNetClass::upcastToken(Ptr<Token> token) {\n"
             "    if (token == 0) return Ptr<Token>();\n"
             "    const std::string colour = token->getName();\n";
    for (const std::string& colour : colours) {
        const std::string cls = tokenClass(colour);
        c << "    if (colour == " << cppString(colour) << ") {\n";
        if (copy)
            c << "        Ptr<" << cls << "> cast = ReferenceCountedSmartPointer::Dynamic_Cast<" << cls
              << ">(oldToken);\n"
              << "        if (cast == 0) return Ptr<Token>();\n"
              << "        return Ptr<Token>(new " << cls << "(*cast, true));\n";
        else
            c << "        return Ptr<Token>(ReferenceCountedSmartPointer::Dynamic_Cast<" << cls << ">(token));\n";
        c << "    }\n";
    }
    c << "    return Ptr<Token>();\n}\n\n";
}

std::string source(const Model& model) {
    std::ostringstream c;
    c << fileBanner(model, "The net builder and, unless SCPN_NO_MAIN is defined, the program entry.");
    c << "#include \"buildnet.h\"\n\n"
         "#include <string>\n\n"
         "#include \"core/Place.h\"\n"
         "#include \"core/Token.h\"\n"
         "#include \"engine/Transition.h\"\n"
         "#include \"io/DatabaseTokens.h\"\n";
    for (const Colour& colour : model.colours) c << "#include \"" << tokenClass(colour.name) << ".h\"\n";
    for (const TransitionDecl& t : model.transitions) c << "#include \"" << transitionClass(t.name) << ".h\"\n";
    for (const MeasureDecl& m : model.measures) c << "#include \"" << measureClass(m.name) << ".h\"\n";
    c << "\n";
    buildNetBody(c, model);
    c << "void ImplementedNetClass::createTokens() {\n"
         "    // The tokens of every record colour stored in the data source.\n"
         "    dbtokens::loadTokens(*this, {";
    for (std::size_t k = 0; k < model.colours.size(); ++k)
        c << (k > 0 ? ", " : "") << "&" << tokenClass(model.colours[k].name) << "::createTokensFromDB";
    c << "});\n"
         "}\n\n";
    colourDispatch(c, model, true);
    colourDispatch(c, model, false);
    c << "#ifndef SCPN_NO_MAIN\n"
         "#include \"app/MainClass.h\"\n\n"
         "int main(int argc, char** argv) {\n"
         "    MainClass* program = new MainClass();\n"
         "    // The run's status: 0, or 1 when its results could not be saved.\n"
         "    const int status = program->main(argc, argv);\n"
         "    delete program;\n"
         "    return status;\n"
         "}\n"
         "#endif\n";
    return c.str();
}

}  // namespace

std::vector<GeneratedFile> emitNet(const Model& model) {
    return {{"buildnet.h", header(model)}, {"buildnet.cpp", source(model)}};
}

}  // namespace scpnc
