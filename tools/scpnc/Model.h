#pragma once
// The model as the compiler sees it after reading its description: plain
// data in description order, every element with the line it was found on so
// that later checks can point at it.
#include <string>
#include <vector>

namespace scpnc {

// The value types a record colour attribute can have.
enum class AttributeType { String, Long, Bool, Double, DateTime };

struct Attribute {
    std::string name;
    AttributeType type = AttributeType::String;
    std::string defaultExpr;  // C++ expression; empty: the type's default
    int line = 0;
};

struct Colour {
    std::string name;
    std::vector<Attribute> attributes;
    int line = 0;
};

struct PlaceDecl {
    int id = 0;
    std::string name;
    unsigned long capacity = 0;
    bool firstTokensOnly = false;
    bool watch = false;
    int line = 0;
};

struct Arc {
    std::string place;
    int multiplicity = 1;
    int line = 0;
};

struct BindVar {
    std::string var;
    std::string colour;  // "int" or a record colour
    std::string place;
    int line = 0;
};

// One step of a transition's output inscription.
struct Action {
    enum class Kind { PutVar, PutNew, PutCopy, Set };
    Kind kind = Kind::PutVar;
    std::string var;        // PutVar, PutCopy, Set
    std::string colour;     // PutNew
    std::string value;      // PutNew of "int", Set: a C++ expression
    bool valueGiven = false;  // PutNew: the description wrote a value
    std::string attribute;  // Set
    std::string place;      // the Put kinds
    int line = 0;
};

struct TransitionDecl {
    int id = 0;
    std::string name;
    std::string weight;  // the literal as written
    int priority = 0;
    bool exp = false;
    bool immediate = false;
    bool watch = false;
    bool infinite = false;
    bool takeFirst = false;
    bool localGuard = false;
    std::string pagePath;
    std::vector<Arc> inputs;
    std::vector<Arc> outputs;
    std::vector<BindVar> binds;
    std::string delay;  // empty: immediate (delay 0)
    int delayLine = 0;
    std::vector<Action> actions;
    int line = 0;
};

struct Attachment {
    bool toTransition = false;
    std::string target;
    int line = 0;
};

struct MeasureDecl {
    std::string name;
    bool watch = false;
    bool timeaverage = false;
    bool accumulative = false;
    bool state = false;
    std::vector<Attachment> attachments;
    std::string accumBody;  // empty: accum does nothing
    std::string valueBody;
    int accumLine = 0;
    int valueLine = 0;
    int line = 0;
};

struct InitialLoad {
    std::string place;
    std::string colour;
    int line = 0;
};

struct Model {
    std::string name;
    std::vector<Colour> colours;
    std::vector<PlaceDecl> places;
    std::vector<TransitionDecl> transitions;
    std::vector<MeasureDecl> measures;
    std::vector<InitialLoad> initials;
};

}  // namespace scpnc
