#include "ModelChecker.h"

#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "Names.h"

namespace scpnc {

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

class Checker {
public:
    Checker(const Model& model, Diagnostics& diagnostics) : model_(model), d_(diagnostics) {}

    void run() {
        checkColours();
        checkPlaces();
        checkTransitions();
        checkMeasures();
        checkInitials();
    }

private:
    void error(int line, const std::string& what) { d_.error(line, what); }

    bool colourKnown(const std::string& colour) const {
        return colour == "int" || colours_.count(colour) != 0;
    }
    bool placeKnown(const std::string& place) const { return places_.count(place) != 0; }

    void checkColours() {
        for (const Colour& colour : model_.colours) {
            if (colour.name.empty()) continue;  // reported when read
            if (!isModelName(colour.name)) {
                error(colour.line, "colour name " + quoted(colour.name) +
                                       " is not a name (letters, digits and underscores, starting with a letter)");
            } else if (colour.name == "int") {
                error(colour.line, "colour \"int\" is the kernel's integer colour and cannot be redefined");
            } else if (!colours_.emplace(colour.name, &colour).second) {
                error(colour.line, "duplicate colour " + quoted(colour.name));
            }
            std::set<std::string> names;
            for (const Attribute& attribute : colour.attributes) {
                if (attribute.name.empty()) continue;
                if (!isModelName(attribute.name))
                    error(attribute.line, "attribute name " + quoted(attribute.name) + " of colour " +
                                              quoted(colour.name) + " is not a name");
                else if (isReservedAttribute(attribute.name))
                    error(attribute.line, "attribute name " + quoted(attribute.name) + " of colour " +
                                              quoted(colour.name) + " is reserved");
                else if (!names.insert(attribute.name).second)
                    error(attribute.line, "duplicate attribute " + quoted(attribute.name) +
                                              " in colour " + quoted(colour.name));
            }
        }
    }

    void checkPlaces() {
        int lastId = 0;
        std::set<int> ids;
        for (const PlaceDecl& place : model_.places) {
            if (!place.name.empty()) {
                if (!isModelName(place.name))
                    error(place.line, "place name " + quoted(place.name) +
                                          " is not a name (letters, digits and underscores, starting with a letter)");
                else if (isReservedPointerName(place.name))
                    error(place.line, "place name " + quoted(place.name) + " is reserved");
                else if (!places_.emplace(place.name, &place).second)
                    error(place.line, "duplicate place name " + quoted(place.name));
            }
            if (place.id > 0) {
                if (!ids.insert(place.id).second)
                    error(place.line, "duplicate place identifier " + std::to_string(place.id));
                else if (place.id < lastId)
                    error(place.line, "place identifier " + std::to_string(place.id) +
                                          " is out of order (places are listed in identifier order; the previous one is " +
                                          std::to_string(lastId) + ")");
                lastId = std::max(lastId, place.id);
            }
        }
    }

    void checkTransitions() {
        int lastId = 0;
        std::set<int> ids;
        for (const TransitionDecl& t : model_.transitions) {
            if (!t.name.empty()) {
                if (!isModelName(t.name))
                    error(t.line, "transition name " + quoted(t.name) +
                                      " is not a name (letters, digits and underscores, starting with a letter)");
                else if (isReservedPointerName(t.name))
                    error(t.line, "transition name " + quoted(t.name) + " is reserved");
                else if (!transitions_.emplace(t.name, &t).second)
                    error(t.line, "duplicate transition name " + quoted(t.name));
                else if (placeKnown(t.name))
                    error(t.line, "transition " + quoted(t.name) + " has the name of a place");
            }
            if (t.id > 0) {
                if (!ids.insert(t.id).second)
                    error(t.line, "duplicate transition identifier " + std::to_string(t.id));
                else if (t.id < lastId)
                    error(t.line, "transition identifier " + std::to_string(t.id) +
                                      " is out of order (transitions are listed in identifier order; the previous one is " +
                                      std::to_string(lastId) + ")");
                lastId = std::max(lastId, t.id);
            }
            checkTransitionBody(t);
        }
    }

    void checkArcs(const TransitionDecl& t, const std::vector<Arc>& arcs, const char* kind,
                   std::map<std::string, int>& multiplicity) {
        for (const Arc& arc : arcs) {
            if (arc.place.empty()) continue;
            if (!placeKnown(arc.place)) {
                error(arc.line, std::string(kind) + " arc of transition " + quoted(t.name) +
                                    " names unknown place " + quoted(arc.place));
            } else if (multiplicity.count(arc.place) != 0) {
                error(arc.line, "place " + quoted(arc.place) + " appears twice among the " + kind +
                                    " arcs of transition " + quoted(t.name));
            } else {
                multiplicity[arc.place] = arc.multiplicity;
            }
        }
    }

    void checkTransitionBody(const TransitionDecl& t) {
        std::map<std::string, int> inputs;
        std::map<std::string, int> outputs;
        checkArcs(t, t.inputs, "input", inputs);
        checkArcs(t, t.outputs, "output", outputs);

        // Variables: each binds one token of one input place.
        std::map<std::string, const BindVar*> vars;
        std::map<std::string, int> boundFrom;
        for (const BindVar& bind : t.binds) {
            if (!bind.var.empty()) {
                if (!isVariableName(bind.var))
                    error(bind.line, "variable name " + quoted(bind.var) +
                                         " is not a variable name (letters and digits, starting with a letter)");
                else if (isReservedVariable(bind.var))
                    error(bind.line, "variable name " + quoted(bind.var) + " is reserved");
                else if (!vars.emplace(bind.var, &bind).second)
                    error(bind.line, "duplicate variable " + quoted(bind.var) + " in transition " +
                                         quoted(t.name));
            }
            if (!bind.colour.empty() && !colourKnown(bind.colour))
                error(bind.line, "variable " + quoted(bind.var) + " has unknown colour " + quoted(bind.colour));
            if (bind.place.empty()) continue;
            if (!placeKnown(bind.place))
                error(bind.line, "variable " + quoted(bind.var) + " is bound from unknown place " +
                                     quoted(bind.place));
            else if (inputs.count(bind.place) == 0)
                error(bind.line, "variable " + quoted(bind.var) + " is bound from place " +
                                     quoted(bind.place) + ", which is not an input of transition " +
                                     quoted(t.name));
            else
                ++boundFrom[bind.place];
        }
        // An input arc of multiplicity k takes k tokens: k variables.
        for (const Arc& arc : t.inputs) {
            auto in = inputs.find(arc.place);
            if (in == inputs.end() || in->second != arc.multiplicity) continue;
            const int bound = boundFrom.count(arc.place) ? boundFrom[arc.place] : 0;
            if (bound != arc.multiplicity)
                error(arc.line, "input place " + quoted(arc.place) + " of transition " + quoted(t.name) +
                                    " has multiplicity " + std::to_string(arc.multiplicity) + " but " +
                                    std::to_string(bound) + " variable(s) bound from it");
        }

        if (!t.delay.empty()) {
            static const std::regex call(
                "(Exp|Det|Uni|DUni|Triang|Norm|LogNorm|Wei)\\s*\\([\\s\\S]*\\)");
            if (!std::regex_match(t.delay, call))
                error(t.delayLine, "delay " + quoted(t.delay) +
                                       " is not a call of Exp, Det, Uni, DUni, Triang, Norm, LogNorm or Wei");
            if (t.immediate)
                error(t.delayLine, "immediate transition " + quoted(t.name) + " cannot have a delay");
        }

        for (const Action& action : t.actions) checkAction(t, action, vars, outputs);
    }

    void checkAction(const TransitionDecl& t, const Action& action,
                     const std::map<std::string, const BindVar*>& vars,
                     const std::map<std::string, int>& outputs) {
        const BindVar* bound = nullptr;
        if (action.kind != Action::Kind::PutNew && !action.var.empty()) {
            auto it = vars.find(action.var);
            if (it == vars.end())
                error(action.line, "unknown variable " + quoted(action.var) + " in transition " +
                                       quoted(t.name));
            else
                bound = it->second;
        }
        if (action.kind == Action::Kind::PutNew && !action.colour.empty()) {
            if (!colourKnown(action.colour))
                error(action.line, "new token of unknown colour " + quoted(action.colour));
            else if (action.colour != "int" && action.valueGiven)
                error(action.line, "attribute \"value\" in <put> belongs to new=\"int\" only");
        }
        if (action.kind == Action::Kind::Set && bound != nullptr && !action.attribute.empty() &&
            colourKnown(bound->colour)) {
            auto colour = colours_.find(bound->colour);
            bool found = false;
            if (colour != colours_.end())
                for (const Attribute& a : colour->second->attributes) found = found || a.name == action.attribute;
            if (!found)
                error(action.line, "colour " + quoted(bound->colour) + " of variable " + quoted(action.var) +
                                       " has no attribute " + quoted(action.attribute));
        }
        if (action.kind != Action::Kind::Set && !action.place.empty()) {
            if (!placeKnown(action.place))
                error(action.line, "<put> names unknown place " + quoted(action.place));
            else if (outputs.count(action.place) == 0)
                error(action.line, "<put> names place " + quoted(action.place) +
                                       ", which is not an output of transition " + quoted(t.name));
        }
    }

    void checkMeasures() {
        std::set<std::string> names;
        for (const MeasureDecl& m : model_.measures) {
            if (!m.name.empty()) {
                if (!isModelName(m.name))
                    error(m.line, "measure name " + quoted(m.name) +
                                      " is not a name (letters, digits and underscores, starting with a letter)");
                else if (!names.insert(m.name).second)
                    error(m.line, "duplicate measure name " + quoted(m.name));
            }
            checkBodyNames(m, m.accumBody, m.accumLine);
            checkBodyNames(m, m.valueBody, m.valueLine);
            for (const Attachment& a : m.attachments) {
                if (a.target.empty()) continue;
                if (a.toTransition && transitions_.count(a.target) == 0)
                    error(a.line, "measure " + quoted(m.name) + " is attached to unknown transition " +
                                      quoted(a.target));
                if (!a.toTransition && !placeKnown(a.target))
                    error(a.line, "measure " + quoted(m.name) + " is attached to unknown place " +
                                      quoted(a.target));
            }
        }
    }

    // count("P") and transition("T") in a measure body name net elements;
    // the names are looked up at run time, so a wrong one is caught here.
    void checkBodyNames(const MeasureDecl& m, const std::string& body, int firstLine) {
        static const std::regex call("\\b(count|transition)\\s*\\(\\s*\"([^\"\\\\]*)\"\\s*\\)");
        for (auto it = std::sregex_iterator(body.begin(), body.end(), call); it != std::sregex_iterator(); ++it) {
            const std::smatch& match = *it;
            const std::string name = match[2].str();
            const bool isCount = match[1].str() == "count";
            if (isCount ? placeKnown(name) : transitions_.count(name) != 0) continue;
            // The body starts on the line of its element.
            const auto before = body.begin() + match.position(0);
            const int line = firstLine + static_cast<int>(std::count(body.begin(), before, '\n'));
            error(line, "measure " + quoted(m.name) + " uses " + (isCount ? "count" : "transition") + "(" +
                            quoted(name) + ") but there is no " + (isCount ? "place" : "transition") + " " +
                            quoted(name));
        }
    }

    void checkInitials() {
        for (const InitialLoad& load : model_.initials) {
            if (!load.place.empty() && !placeKnown(load.place))
                error(load.line, "<initial> names unknown place " + quoted(load.place));
            if (!load.colour.empty() && !colourKnown(load.colour))
                error(load.line, "<initial> names unknown colour " + quoted(load.colour));
        }
    }

    const Model& model_;
    Diagnostics& d_;
    std::map<std::string, const Colour*> colours_;
    std::map<std::string, const PlaceDecl*> places_;
    std::map<std::string, const TransitionDecl*> transitions_;
};

}  // namespace

void checkModel(const Model& model, Diagnostics& diagnostics) { Checker(model, diagnostics).run(); }

}  // namespace scpnc
