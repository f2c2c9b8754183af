#include "ModelReader.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <regex>
#include <set>

namespace scpnc {

namespace {

bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Reads one element's attributes, reporting unknown, missing and malformed
// ones against the element's line.
class Attributes {
public:
    Attributes(const XmlElement& element, Diagnostics& diagnostics,
               std::initializer_list<const char*> known)
        : element_(element), diagnostics_(diagnostics) {
        const std::set<std::string> allowed(known.begin(), known.end());
        for (const auto& entry : element.attributes)
            if (allowed.count(entry.first) == 0)
                fail("unknown attribute \"" + entry.first + "\" in <" + element.name + ">");
    }

    bool has(const char* key) const { return element_.attribute(key) != nullptr; }

    std::string text(const char* key, bool required, const std::string& fallback = "") {
        const std::string* value = element_.attribute(key);
        if (value != nullptr) return *value;
        if (required) missing(key);
        return fallback;
    }

    // A name-like value: required and not empty.
    std::string name(const char* key) {
        const std::string* value = element_.attribute(key);
        if (value == nullptr) {
            missing(key);
            return "";
        }
        if (value->empty()) fail("attribute \"" + std::string(key) + "\" in <" + element_.name + "> is empty");
        return *value;
    }

    bool boolean(const char* key, bool required, bool fallback = false) {
        const std::string* value = element_.attribute(key);
        if (value == nullptr) {
            if (required) missing(key);
            return fallback;
        }
        if (*value == "true") return true;
        if (*value == "false") return false;
        fail("attribute \"" + std::string(key) + "\" in <" + element_.name +
             "> must be \"true\" or \"false\", not \"" + *value + "\"");
        return fallback;
    }

    // A decimal integer within [min, max].
    long integer(const char* key, bool required, long fallback, long min, long max) {
        const std::string* value = element_.attribute(key);
        if (value == nullptr) {
            if (required) missing(key);
            return fallback;
        }
        static const std::regex form("[-+]?[0-9]+");
        if (std::regex_match(*value, form)) {
            errno = 0;
            const long number = std::strtol(value->c_str(), nullptr, 10);
            if (errno == 0 && number >= min && number <= max) return number;
        }
        fail("attribute \"" + std::string(key) + "\" in <" + element_.name +
             "> must be a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
             ", not \"" + *value + "\"");
        return fallback;
    }

    void fail(const std::string& what) { diagnostics_.error(element_.line, what); }

private:
    void missing(const char* key) {
        fail("missing required attribute \"" + std::string(key) + "\" in <" + element_.name + ">");
    }

    const XmlElement& element_;
    Diagnostics& diagnostics_;
};

void noText(const XmlElement& element, Diagnostics& diagnostics) {
    if (!isBlank(element.text))
        diagnostics.error(element.line, "unexpected text in <" + element.name + ">");
}

void noChildren(const XmlElement& element, Diagnostics& diagnostics) {
    for (const XmlElement& child : element.children)
        diagnostics.error(child.line, "unexpected element <" + child.name + "> in <" + element.name + ">");
}

void unknownChild(const XmlElement& parent, const XmlElement& child, Diagnostics& diagnostics) {
    diagnostics.error(child.line, "unknown element <" + child.name + "> in <" + parent.name + ">");
}

AttributeType attributeType(const std::string& text, bool& ok) {
    ok = true;
    if (text == "string") return AttributeType::String;
    if (text == "long") return AttributeType::Long;
    if (text == "bool") return AttributeType::Bool;
    if (text == "double") return AttributeType::Double;
    if (text == "DateTime") return AttributeType::DateTime;
    ok = false;
    return AttributeType::String;
}

Colour readColour(const XmlElement& element, Diagnostics& diagnostics) {
    Colour colour;
    colour.line = element.line;
    Attributes attrs(element, diagnostics, {"name"});
    colour.name = attrs.name("name");
    noText(element, diagnostics);
    for (const XmlElement& child : element.children) {
        if (child.name != "attribute") {
            unknownChild(element, child, diagnostics);
            continue;
        }
        Attribute attribute;
        attribute.line = child.line;
        Attributes a(child, diagnostics, {"name", "type", "default"});
        attribute.name = a.name("name");
        const std::string type = a.text("type", true);
        bool known = true;
        if (a.has("type")) {
            attribute.type = attributeType(type, known);
            if (!known)
                a.fail("unknown attribute type \"" + type +
                       "\" (expected string, long, bool, double or DateTime)");
        }
        attribute.defaultExpr = a.text("default", false);
        if (a.has("default") && isBlank(attribute.defaultExpr))
            a.fail("attribute \"default\" in <attribute> is empty");
        noText(child, diagnostics);
        noChildren(child, diagnostics);
        colour.attributes.push_back(attribute);
    }
    return colour;
}

PlaceDecl readPlace(const XmlElement& element, Diagnostics& diagnostics) {
    PlaceDecl place;
    place.line = element.line;
    Attributes attrs(element, diagnostics, {"id", "name", "capacity", "first-tokens-only", "watch"});
    place.id = static_cast<int>(attrs.integer("id", true, 0, 1, INT_MAX));
    place.name = attrs.name("name");
    place.capacity = static_cast<unsigned long>(attrs.integer("capacity", false, 0, 0, UINT_MAX));
    place.firstTokensOnly = attrs.boolean("first-tokens-only", false);
    place.watch = attrs.boolean("watch", false);
    noText(element, diagnostics);
    noChildren(element, diagnostics);
    return place;
}

Arc readArc(const XmlElement& element, Diagnostics& diagnostics) {
    Arc arc;
    arc.line = element.line;
    Attributes attrs(element, diagnostics, {"place", "multiplicity"});
    arc.place = attrs.name("place");
    arc.multiplicity = static_cast<int>(attrs.integer("multiplicity", false, 1, 1, INT_MAX));
    noText(element, diagnostics);
    noChildren(element, diagnostics);
    return arc;
}

BindVar readBind(const XmlElement& element, Diagnostics& diagnostics) {
    BindVar bind;
    bind.line = element.line;
    Attributes attrs(element, diagnostics, {"var", "colour", "place"});
    bind.var = attrs.name("var");
    bind.colour = attrs.name("colour");
    bind.place = attrs.name("place");
    noText(element, diagnostics);
    noChildren(element, diagnostics);
    return bind;
}

Action readPut(const XmlElement& element, Diagnostics& diagnostics) {
    Action action;
    action.line = element.line;
    Attributes attrs(element, diagnostics, {"var", "new", "copy", "value", "place"});
    action.place = attrs.name("place");
    const int sources = attrs.has("var") + attrs.has("new") + attrs.has("copy");
    if (sources != 1) {
        attrs.fail("<put> needs exactly one of the attributes \"var\", \"new\" and \"copy\"");
        return action;
    }
    if (attrs.has("var")) {
        action.kind = Action::Kind::PutVar;
        action.var = attrs.name("var");
    } else if (attrs.has("copy")) {
        action.kind = Action::Kind::PutCopy;
        action.var = attrs.name("copy");
    } else {
        action.kind = Action::Kind::PutNew;
        action.colour = attrs.name("new");
        // A new integer token is built from an expression, 0 by default.
        action.value = attrs.text("value", false, "0");
        action.valueGiven = attrs.has("value");
        if (isBlank(action.value)) attrs.fail("attribute \"value\" in <put> is empty");
    }
    if (attrs.has("value") && action.kind != Action::Kind::PutNew)
        attrs.fail("attribute \"value\" in <put> belongs to new=\"int\" only");
    noText(element, diagnostics);
    noChildren(element, diagnostics);
    return action;
}

Action readSet(const XmlElement& element, Diagnostics& diagnostics) {
    Action action;
    action.kind = Action::Kind::Set;
    action.line = element.line;
    Attributes attrs(element, diagnostics, {"var", "attribute", "value"});
    action.var = attrs.name("var");
    action.attribute = attrs.name("attribute");
    action.value = attrs.text("value", true);
    if (attrs.has("value") && isBlank(action.value)) attrs.fail("attribute \"value\" in <set> is empty");
    noText(element, diagnostics);
    noChildren(element, diagnostics);
    return action;
}

TransitionDecl readTransition(const XmlElement& element, Diagnostics& diagnostics) {
    TransitionDecl t;
    t.line = element.line;
    Attributes attrs(element, diagnostics,
                     {"id", "name", "weight", "priority", "exp", "immediate", "watch", "infinite",
                      "take-first", "local-guard", "page-path"});
    t.id = static_cast<int>(attrs.integer("id", true, 0, 1, INT_MAX));
    t.name = attrs.name("name");
    t.weight = attrs.text("weight", true);
    if (attrs.has("weight")) {
        // Written into the code digit for digit, so it must be a plain number.
        static const std::regex number("([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][-+]?[0-9]+)?");
        if (!std::regex_match(t.weight, number)) {
            attrs.fail("attribute \"weight\" in <transition> must be a non-negative number, not \"" +
                       t.weight + "\"");
            t.weight = "0";
        }
    }
    t.priority = static_cast<int>(attrs.integer("priority", true, 0, INT_MIN, INT_MAX));
    t.exp = attrs.boolean("exp", true);
    t.immediate = attrs.boolean("immediate", true);
    t.watch = attrs.boolean("watch", true);
    t.infinite = attrs.boolean("infinite", true);
    t.takeFirst = attrs.boolean("take-first", false);
    t.localGuard = attrs.boolean("local-guard", false);
    t.pagePath = attrs.text("page-path", false);
    noText(element, diagnostics);

    bool seenDelay = false;
    bool seenFire = false;
    for (const XmlElement& child : element.children) {
        if (child.name == "input") {
            t.inputs.push_back(readArc(child, diagnostics));
        } else if (child.name == "output") {
            t.outputs.push_back(readArc(child, diagnostics));
        } else if (child.name == "bind") {
            t.binds.push_back(readBind(child, diagnostics));
        } else if (child.name == "delay") {
            Attributes none(child, diagnostics, {});
            noChildren(child, diagnostics);
            if (seenDelay) none.fail("more than one <delay> in <transition>");
            seenDelay = true;
            t.delay = trimmed(child.text);
            t.delayLine = child.line;
            if (t.delay.empty()) none.fail("<delay> is empty (leave it out for an immediate transition)");
        } else if (child.name == "fire") {
            Attributes none(child, diagnostics, {});
            noText(child, diagnostics);
            if (seenFire) none.fail("more than one <fire> in <transition>");
            seenFire = true;
            for (const XmlElement& step : child.children) {
                if (step.name == "put")
                    t.actions.push_back(readPut(step, diagnostics));
                else if (step.name == "set")
                    t.actions.push_back(readSet(step, diagnostics));
                else
                    unknownChild(child, step, diagnostics);
            }
        } else {
            unknownChild(element, child, diagnostics);
        }
    }
    return t;
}

MeasureDecl readMeasure(const XmlElement& element, Diagnostics& diagnostics) {
    MeasureDecl m;
    m.line = element.line;
    Attributes attrs(element, diagnostics,
                     {"name", "watch", "timeaverage", "accumulative", "state"});
    m.name = attrs.name("name");
    m.watch = attrs.boolean("watch", false);
    m.timeaverage = attrs.boolean("timeaverage", false);
    m.accumulative = attrs.boolean("accumulative", false);
    m.state = attrs.boolean("state", false);
    noText(element, diagnostics);
    bool seenAccum = false;
    bool seenValue = false;
    for (const XmlElement& child : element.children) {
        if (child.name == "attach") {
            Attachment attachment;
            attachment.line = child.line;
            Attributes a(child, diagnostics, {"place", "transition"});
            if (a.has("place") == a.has("transition")) {
                a.fail("<attach> needs exactly one of the attributes \"place\" and \"transition\"");
            } else {
                attachment.toTransition = a.has("transition");
                attachment.target = a.name(attachment.toTransition ? "transition" : "place");
                m.attachments.push_back(attachment);
            }
            noText(child, diagnostics);
            noChildren(child, diagnostics);
        } else if (child.name == "accum" || child.name == "value") {
            Attributes none(child, diagnostics, {});
            noChildren(child, diagnostics);
            bool& seen = child.name == "accum" ? seenAccum : seenValue;
            if (seen) none.fail("more than one <" + child.name + "> in <measure>");
            seen = true;
            (child.name == "accum" ? m.accumBody : m.valueBody) = child.text;
            (child.name == "accum" ? m.accumLine : m.valueLine) = child.line;
            if (child.name == "value" && isBlank(child.text)) none.fail("<value> is empty");
        } else {
            unknownChild(element, child, diagnostics);
        }
    }
    if (!seenValue) attrs.fail("<measure> has no <value>");
    return m;
}

InitialLoad readInitial(const XmlElement& element, Diagnostics& diagnostics) {
    InitialLoad load;
    load.line = element.line;
    Attributes attrs(element, diagnostics, {"place", "colour", "from"});
    load.place = attrs.name("place");
    load.colour = attrs.name("colour");
    const std::string from = attrs.text("from", false, "marking-file");
    if (from != "marking-file")
        attrs.fail("attribute \"from\" in <initial> must be \"marking-file\", not \"" + from + "\"");
    noText(element, diagnostics);
    noChildren(element, diagnostics);
    return load;
}

}  // namespace

Model readModel(const XmlElement& root, Diagnostics& diagnostics) {
    Model model;
    if (root.name != "model") {
        diagnostics.error(root.line, "the root element must be <model>, not <" + root.name + ">");
        return model;
    }
    Attributes attrs(root, diagnostics, {"name"});
    model.name = attrs.name("name");
    noText(root, diagnostics);
    for (const XmlElement& child : root.children) {
        if (child.name == "colour")
            model.colours.push_back(readColour(child, diagnostics));
        else if (child.name == "place")
            model.places.push_back(readPlace(child, diagnostics));
        else if (child.name == "transition")
            model.transitions.push_back(readTransition(child, diagnostics));
        else if (child.name == "measure")
            model.measures.push_back(readMeasure(child, diagnostics));
        else if (child.name == "initial")
            model.initials.push_back(readInitial(child, diagnostics));
        else
            unknownChild(root, child, diagnostics);
    }
    return model;
}

}  // namespace scpnc
