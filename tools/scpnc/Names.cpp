#include "Names.h"

#include <set>

namespace scpnc {

std::string doubled(const std::string& name) {
    std::string result;
    for (char c : name) {
        result += c;
        if (c == '_') result += '_';
    }
    return result;
}

std::string transitionClass(const std::string& name) { return "Transition_" + doubled(name); }
std::string measureClass(const std::string& name) { return "MeasureObj_" + doubled(name); }
std::string measurePointer(const std::string& name) { return "measure_" + doubled(name); }
std::string placeMap(const std::string& name) { return "places_" + doubled(name); }
std::string tokenClass(const std::string& colour) { return "Token_" + colour; }

bool isModelName(const std::string& text) {
    if (text.empty()) return false;
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!letter(text[0])) return false;
    for (char c : text)
        if (!letter(c) && !digit(c) && c != '_') return false;
    return true;
}

namespace {

const std::set<std::string>& keywords() {
    static const std::set<std::string> words = {
        "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break",
        "case", "catch", "char", "char8_t", "char16_t", "char32_t", "class", "compl", "concept",
        "const", "consteval", "constexpr", "constinit", "const_cast", "continue", "co_await",
        "co_return", "co_yield", "decltype", "default", "delete", "do", "double", "dynamic_cast",
        "else", "enum", "explicit", "export", "extern", "false", "float", "for", "friend", "goto",
        "if", "inline", "int", "long", "mutable", "namespace", "new", "noexcept", "not", "not_eq",
        "nullptr", "operator", "or", "or_eq", "private", "protected", "public", "register",
        "reinterpret_cast", "requires", "return", "short", "signed", "sizeof", "static",
        "static_assert", "static_cast", "struct", "switch", "template", "this", "thread_local",
        "throw", "true", "try", "typedef", "typeid", "typename", "union", "unsigned", "using",
        "virtual", "void", "volatile", "wchar_t", "while", "final", "override", "NULL"};
    return words;
}

}  // namespace

bool isVariableName(const std::string& text) {
    if (!isModelName(text)) return false;
    return text.find('_') == std::string::npos;
}

bool isReservedPointerName(const std::string& name) {
    // Types and operations named inside ImplementedNetClass::buildNet.
    static const std::set<std::string> used = {
        "Place", "Transition", "NetClass", "ImplementedNetClass", "PlaceIdentMap", "Token",
        "MeasureObj", "std", "main", "addPlace", "addTransition", "addMeasure",
        "linkPlaceToTransition", "linkTransitionToPlace", "getPlace", "getTransition",
        "buildNet", "createTokens", "copyToken", "upcastToken"};
    const std::string identifier = doubled(name);
    return keywords().count(identifier) != 0 || used.count(identifier) != 0;
}

bool isReservedVariable(const std::string& name) {
    // Locals, members and types named inside a transition's operations.
    static const std::set<std::string> used = {
        "binding", "result", "next", "delay", "net", "places", "Ptr", "Token", "TokenList",
        "TempBindingList", "Place", "Transition", "DateTime", "std"};
    return keywords().count(name) != 0 || used.count(name) != 0;
}

bool isReservedAttribute(const std::string& name) {
    // Members of Token and the names the token class uses for itself.
    static const std::set<std::string> members = {
        "id", "timeStamp", "transitions", "content", "getName", "getID", "getTimeStamp",
        "getTransitions", "addTransition", "removeTransition", "containsTransition",
        "notifyTransitions", "findToken", "setReferenceAttribute", "countAlive", "tokenCounter",
        "concTokenCounter", "maxConcTokenCounter", "readTokenData", "addInitialTokens", "other",
        "newValue", "node", "locked", "text", "place", "element", "token"};
    return keywords().count(name) != 0 || members.count(name) != 0;
}

std::string cppString(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        switch (c) {
            case '"': result += "\\\""; break;
            case '\\': result += "\\\\"; break;
            case '\n': result += "\\n"; break;
            case '\t': result += "\\t"; break;
            case '\r': result += "\\r"; break;
            case '?': result += "\\?"; break;  // no trigraphs
            default: result += c;
        }
    }
    return result + "\"";
}

}  // namespace scpnc
