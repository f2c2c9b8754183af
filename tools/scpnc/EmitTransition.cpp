// Transition_<X>: binding search, firing delay and token moves of one
// transition.
#include <cctype>
#include <set>
#include <sstream>

#include "Emit.h"
#include "Names.h"

namespace scpnc {

namespace {

const char* const kCast = "ReferenceCountedSmartPointer::Dynamic_Cast";

struct PlaceMember {
    std::string member;
    std::string place;
};

// `<var>_Place` per variable in binding order, then `nona<k>_Place` per output
// place that no variable is bound from, in output order.
std::vector<PlaceMember> placeMembers(const TransitionDecl& t) {
    std::vector<PlaceMember> members;
    std::set<std::string> bound;
    for (const BindVar& b : t.binds) {
        members.push_back({b.var + "_Place", b.place});
        bound.insert(b.place);
    }
    int k = 0;
    for (const Arc& arc : t.outputs)
        if (bound.count(arc.place) == 0) members.push_back({"nona" + std::to_string(++k) + "_Place", arc.place});
    return members;
}

// The member that stands for net place `place`: the first one naming it.
std::string memberFor(const std::vector<PlaceMember>& members, const std::string& place) {
    for (const PlaceMember& m : members)
        if (m.place == place) return m.member;
    return "";
}

std::string colourOf(const TransitionDecl& t, const std::string& var) {
    for (const BindVar& b : t.binds)
        if (b.var == var) return b.colour;
    return "";
}

// The record colours whose classes the transition's code names.
std::set<std::string> recordColours(const TransitionDecl& t) {
    std::set<std::string> colours;
    for (const BindVar& b : t.binds)
        if (b.colour != "int") colours.insert(b.colour);
    for (const Action& a : t.actions)
        if (a.kind == Action::Kind::PutNew && a.colour != "int") colours.insert(a.colour);
    return colours;
}

const char* const kConstructorParameters =
    "int uniqueid, const char* name, NetClass* net, PlaceIdentMap places,\n"
    "        std::string pagePath, double firingWeight, int priority, bool exp, bool takeFirst,\n"
    "        bool isInfinite, bool hasLocalGuard";

std::string header(const Model& model, const TransitionDecl& t) {
    const std::string cls = transitionClass(t.name);
    std::ostringstream h;
    h << fileBanner(model, "The transition \"" + t.name + "\".");
    h << "#pragma once\n"
         "#include <string>\n\n"
         "#include \"engine/Transition.h\"\n\n"
         "class " << cls << " : public Transition {\n"
         "public:\n"
         "    " << cls << "(" << kConstructorParameters << ");\n\n"
         "    Seconds_T getFiringDelay(TokenList& binding) const override;\n"
         "    Seconds_T Timeguard(const DateTime& now) override;\n"
         "    bool hasTimeguard() const override;\n"
         "    void log(TokenList& binding) override;\n"
         "    double display(TokenList& binding) override;\n"
         "    TempBindingList* generateBindingList() override;\n"
         "    bool globalGuard() override;\n"
         "    void initGlobalGuards() override;\n"
         "    void moveTokens(TokenList& binding) override;\n";
    const std::vector<PlaceMember> members = placeMembers(t);
    if (!members.empty()) {
        h << "\nprivate:\n"
             "    // The places the transition's code touches, resolved once through the\n"
             "    // place map. The binding search only reads them; firing changes their\n"
             "    // markings through Place::removeToken and Place::addToken.\n";
        for (const PlaceMember& m : members) h << "    const Place& " << m.member << ";\n";
    }
    h << "};\n";
    return h.str();
}

// True when C++ text `code` names the identifier `name`.
bool namesIdentifier(const std::string& code, const std::string& name) {
    auto identifierChar = [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_'; };
    for (std::size_t at = code.find(name); at != std::string::npos; at = code.find(name, at + 1)) {
        const bool startsWord = at == 0 || !identifierChar(code[at - 1]);
        const bool endsWord = at + name.size() >= code.size() || !identifierChar(code[at + name.size()]);
        if (startsWord && endsWord) return true;
    }
    return false;
}

// True when the firing code needs variable `var` with its colour's type:
// to set an attribute, to copy it, or in an expression.
bool firingNeedsTyped(const TransitionDecl& t, const std::string& var) {
    for (const Action& a : t.actions) {
        if ((a.kind == Action::Kind::Set || a.kind == Action::Kind::PutCopy) && a.var == var) return true;
        if (namesIdentifier(a.value, var)) return true;
    }
    return false;
}

// The bound variables that `used` says the code needs, taken from `binding`
// in binding order as handles of their colours. Each typed handle costs a
// colour check and a counter update, so variables the code does not name
// are skipped.
std::string unpackTyped(const TransitionDecl& t, const std::vector<bool>& used) {
    std::ostringstream c;
    std::size_t last = 0;
    for (std::size_t i = 0; i < used.size(); ++i)
        if (used[i]) last = i + 1;
    if (last == 0) return "";
    c << "    TokenList::iterator next = binding.begin();\n";
    for (std::size_t i = 0; i < last; ++i) {
        const BindVar& b = t.binds[i];
        const std::string type = tokenClass(b.colour);
        if (used[i])
            c << "    Ptr<" << type << "> " << b.var << " = " << kCast << "<" << type << ">(*next);\n";
        if (i + 1 < last) c << "    ++next;\n";
    }
    return c.str();
}

// Firing: the bound tokens leave their places (as untyped handles, the
// binding's own), and the variables the inscription needs are typed.
std::string unpackForFiring(const TransitionDecl& t, const std::vector<PlaceMember>& members) {
    std::ostringstream c;
    if (t.binds.empty()) return "";
    c << "    TokenList::iterator next = binding.begin();\n";
    for (std::size_t i = 0; i < t.binds.size(); ++i) {
        const BindVar& b = t.binds[i];
        const std::string type = tokenClass(b.colour);
        c << "    const Ptr<Token>& " << b.var << "_token = *next++;\n";
        if (firingNeedsTyped(t, b.var))
            c << "    Ptr<" << type << "> " << b.var << " = " << kCast << "<" << type << ">(" << b.var << "_token);\n";
        c << "    const_cast<Place&>(" << members[i].member << ").removeToken(" << b.var << "_token);\n";
    }
    return c.str();
}

std::string bindingSearch(const TransitionDecl& t) {
    std::ostringstream c;
    c << "    TempBindingList* result = new TempBindingList();\n";
    if (t.binds.empty()) {
        c << "    // Nothing to bind: the one binding is the empty one.\n"
             "    result->push_back(new TokenList());\n"
             "    return result;\n";
        return c.str();
    }
    // How many variables are bound from each place: a shared place is
    // enumerated on a copy of its marking, since the place may hand out a
    // scratch list that the next look-up refills.
    std::multiset<std::string> perPlace;
    for (const BindVar& b : t.binds) perPlace.insert(b.place);

    std::string indent = "    ";
    for (std::size_t i = 0; i < t.binds.size(); ++i) {
        const BindVar& b = t.binds[i];
        const std::string type = tokenClass(b.colour);
        if (perPlace.count(b.place) > 1) {
            c << indent << "const TokenList " << b.var << "_tokens = getPlaceMarking(" << b.var << "_Place);\n";
            c << indent << "for (const Ptr<Token>& " << b.var << "_token : " << b.var << "_tokens) {\n";
        } else {
            c << indent << "for (const Ptr<Token>& " << b.var << "_token : getPlaceMarking(" << b.var
              << "_Place)) {\n";
        }
        indent += "    ";
        c << indent << "if (!ReferenceCountedSmartPointer::hasColour<" << type << ">(" << b.var << "_token)) continue;\n";
        // One token is never bound to two variables.
        for (std::size_t j = 0; j < i; ++j)
            if (t.binds[j].place == b.place)
                c << indent << "if (" << b.var << "_token == " << t.binds[j].var << "_token) continue;\n";
    }
    c << indent << "TokenList* binding = new TokenList();\n";
    for (const BindVar& b : t.binds) c << indent << "binding->push_back(" << b.var << "_token);\n";
    c << indent << "result->push_back(binding);\n";
    c << indent << "return result;\n";
    for (std::size_t i = t.binds.size(); i > 0; --i) {
        indent.resize(indent.size() - 4);
        c << indent << "}\n";
    }
    c << "    return result;\n";
    return c.str();
}

std::string moveTokens(const TransitionDecl& t, const std::vector<PlaceMember>& members) {
    std::ostringstream c;
    c << unpackForFiring(t, members);
    for (const Action& a : t.actions) {
        const std::string target = "const_cast<Place&>(" + memberFor(members, a.place) + ")";
        switch (a.kind) {
            case Action::Kind::PutVar:
                c << "    " << target << ".addToken(" << a.var << "_token);\n";
                break;
            case Action::Kind::PutNew:
                if (a.colour == "int")
                    c << "    " << target << ".addToken(Ptr<Token>(new Token_int(" << a.value << ")));\n";
                else
                    c << "    " << target << ".addToken(Ptr<Token>(new " << tokenClass(a.colour) << "()));\n";
                break;
            case Action::Kind::PutCopy: {
                const std::string type = tokenClass(colourOf(t, a.var));
                c << "    " << target << ".addToken(Ptr<Token>(new " << type << "(*" << a.var << ", false)));\n";
                break;
            }
            case Action::Kind::Set:
                c << "    " << a.var << "->set_" << a.attribute << "(" << a.value << ");\n";
                break;
        }
    }
    return c.str();
}

std::string source(const Model& model, const TransitionDecl& t) {
    const std::string cls = transitionClass(t.name);
    const std::vector<PlaceMember> members = placeMembers(t);
    std::ostringstream c;
    c << fileBanner(model, "The transition \"" + t.name + "\".");
    c << "#include \"" << cls << ".h\"\n\n"
         "#include \"core/NetClass.h\"\n"
         "#include \"core/Place.h\"\n"
         "#include \"core/Token.h\"\n";
    for (const std::string& colour : recordColours(t)) c << "#include \"" << tokenClass(colour) << ".h\"\n";
    c << "\n";

    c << cls << "::" << cls << "(" << kConstructorParameters << ")\n"
      << "    : Transition(uniqueid, name, net, places, pagePath, firingWeight, priority, exp, takeFirst,\n"
      << "                 isInfinite, hasLocalGuard)";
    for (const PlaceMember& m : members)
        c << ",\n      " << m.member << "(*net->getPlace(&places, " << cppString(m.place) << "))";
    c << " {}\n\n";

    // Firing delay.
    if (t.delay.empty()) {
        c << "Seconds_T " << cls << "::getFiringDelay(TokenList& binding) const {\n"
          << "    return Transition::getFiringDelay(binding);\n}\n\n";
    } else {
        std::vector<bool> used;
        for (const BindVar& b : t.binds) used.push_back(namesIdentifier(t.delay, b.var));
        const std::string unpacked = unpackTyped(t, used);
        c << "Seconds_T " << cls << "::getFiringDelay(TokenList&" << (unpacked.empty() ? "" : " binding")
          << ") const {\n"
          << unpacked << "    return delay." << t.delay << ";\n}\n\n";
    }

    c << "Seconds_T " << cls << "::Timeguard(const DateTime&) { return 0; }\n\n"
      << "bool " << cls << "::hasTimeguard() const { return false; }\n\n"
      << "void " << cls << "::log(TokenList&) {}\n\n"
      << "double " << cls << "::display(TokenList&) { return 0; }\n\n";

    c << "// The first combination of tokens, the first variable's place outermost,\n"
         "// whose tokens all have their variables' colours.\n"
      << "TempBindingList* " << cls << "::generateBindingList() {\n"
      << bindingSearch(t) << "}\n\n";

    c << "bool " << cls << "::globalGuard() { return true; }\n\n"
      << "void " << cls << "::initGlobalGuards() {}\n\n";

    c << "void " << cls << "::moveTokens(TokenList&" << (t.binds.empty() ? "" : " binding") << ") {\n"
      << moveTokens(t, members) << "}\n";
    return c.str();
}

}  // namespace

std::vector<GeneratedFile> emitTransition(const Model& model, const TransitionDecl& transition) {
    const std::string cls = transitionClass(transition.name);
    return {{cls + ".h", header(model, transition)}, {cls + ".cpp", source(model, transition)}};
}

}  // namespace scpnc
