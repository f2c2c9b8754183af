// Token_<Colour>: a record colour with one member per attribute.
#include <sstream>

#include "Emit.h"
#include "Names.h"

namespace scpnc {

namespace {

std::string cppType(AttributeType type) {
    switch (type) {
        case AttributeType::String: return "std::string";
        case AttributeType::Long: return "long";
        case AttributeType::Bool: return "bool";
        case AttributeType::Double: return "double";
        case AttributeType::DateTime: return "DateTime";
    }
    return "";
}

// How a getter returns and a setter takes the value.
std::string parameterType(AttributeType type) {
    if (type == AttributeType::String) return "const std::string&";
    if (type == AttributeType::DateTime) return "const DateTime&";
    return cppType(type);
}

std::string defaultValue(const Attribute& a) {
    if (!a.defaultExpr.empty()) return a.defaultExpr;
    switch (a.type) {
        case AttributeType::String: return "\"\"";
        case AttributeType::Long: return "0";
        case AttributeType::Bool: return "false";
        case AttributeType::Double: return "0.0";
        case AttributeType::DateTime: return "DateTime()";
    }
    return "";
}

std::string header(const Model& model, const Colour& colour) {
    const std::string cls = tokenClass(colour.name);
    std::ostringstream h;
    h << fileBanner(model, "The record colour \"" + colour.name + "\".");
    h << "#pragma once\n"
         "#include <string>\n\n"
         "#include <xercesc/util/XercesDefs.hpp>\n\n"
         "#include \"core/DateTime.h\"\n"
         "#include \"core/Token.h\"\n\n"
         "XERCES_CPP_NAMESPACE_BEGIN\n"
         "class DOMNode;\n"
         "XERCES_CPP_NAMESPACE_END\n\n"
         "class GMDB;\n"
         "class NetClass;\n"
         "class Place;\n\n";
    h << "class " << cls << " final : public Token {\n"
      << "public:\n"
      << "    // A fresh token with every attribute at its default.\n"
      << "    " << cls << "();\n"
      << "    // Same identifier, creation stamp and attributes; the list of\n"
      << "    // transitions holding the token is copied only when asked to.\n"
      << "    " << cls << "(const " << cls << "& other, bool copyTransition);\n"
      << "    ~" << cls << "() override;\n"
      << "    " << cls << "& operator=(const " << cls << "& other);\n\n"
      << "    const std::string getName() const override;\n"
      << "    // {a=\"text\"; b=1; ...}: strings quoted, times in text form,\n"
      << "    // booleans 1/0; \"NULL\" when called again while it runs.\n"
      << "    const std::string content() const override;\n\n";
    for (const Attribute& a : colour.attributes)
        h << "    " << parameterType(a.type) << " get_" << a.name << "() const;\n";
    h << "    // The setters write the change to the token log when token logging is on.\n";
    for (const Attribute& a : colour.attributes)
        h << "    void set_" << a.name << "(" << parameterType(a.type) << " newValue);\n";
    h << "\n"
      << "    // Sets every attribute from the XML attribute of the same name.\n"
      << "    void readTokenData(XERCES_CPP_NAMESPACE_QUALIFIER DOMNode* node);\n"
      << "    // Puts the tokens of this colour that the marking file gives for\n"
      << "    // `place` on it.\n"
      << "    static void addInitialTokens(Place* place);\n"
      << "    // Reads the tokens of this colour in marking 1 from the open\n"
      << "    // database connection, one entry of `tokens` each.\n"
      << "    static void createTokensFromDB(NetClass* net, GMDB* connection, token_info_list& tokens,\n"
      << "                                   token_reference_list& refs);\n\n"
      << "private:\n";
    for (const Attribute& a : colour.attributes) h << "    " << cppType(a.type) << " " << a.name << ";\n";
    h << "};\n";
    return h.str();
}

// The statement that writes attribute `a` (named by `expr`) to stream `out`
// the way the text form and the token log show it.
std::string streamed(const Attribute& a, const std::string& expr) {
    if (a.type == AttributeType::String) return "\"\\\"\" << " + expr + " << \"\\\"\"";
    return expr;
}

std::string readStatement(const Attribute& a) {
    const std::string text = "MarkingFile::attribute(node, \"" + a.name + "\")";
    switch (a.type) {
        case AttributeType::String: return "    set_" + a.name + "(" + text + ");\n";
        case AttributeType::Long: return "    set_" + a.name + "(std::atol(" + text + ".c_str()));\n";
        case AttributeType::Double: return "    set_" + a.name + "(std::atof(" + text + ".c_str()));\n";
        case AttributeType::Bool: return "    set_" + a.name + "(" + text + " == \"true\");\n";
        case AttributeType::DateTime:
            return "    {\n"
                   "        // A time text is read by fixed positions; one too short to\n"
                   "        // hold the date leaves the default in place.\n"
                   "        const std::string text = " + text + ";\n"
                   "        if (text.size() < 15)\n"
                   "            std::cout << \"Warning: token element for place \\\"\"\n"
                   "                      << MarkingFile::attribute(node, \"place\") << \"\\\": attribute " +
                   a.name + " \\\"\" << text\n"
                   "                      << \"\\\" is not a time, keeping the default\" << std::endl;\n"
                   "        else\n"
                   "            set_" + a.name + "(DateTime(text));\n"
                   "    }\n";
    }
    return "";
}

// The ODBC target type an attribute is fetched in, and how its value is read.
const char* sqlCType(AttributeType type) {
    switch (type) {
        case AttributeType::String: return "SQL_C_CHAR";
        case AttributeType::Long: return "SQL_C_SLONG";
        case AttributeType::Bool: return "SQL_C_BIT";
        case AttributeType::Double: return "SQL_C_DOUBLE";
        case AttributeType::DateTime: return "SQL_C_TYPE_TIMESTAMP";
    }
    return "SQL_C_CHAR";
}

const char* fetchedValue(AttributeType type) {
    switch (type) {
        case AttributeType::String: return "dbtokens::textOf";
        case AttributeType::Long: return "dbtokens::longOf";
        case AttributeType::Bool: return "dbtokens::boolOf";
        case AttributeType::Double: return "dbtokens::doubleOf";
        case AttributeType::DateTime: return "dbtokens::timeOf";
    }
    return "dbtokens::textOf";
}

std::string databaseLoader(const Colour& colour) {
    const std::string cls = tokenClass(colour.name);
    std::ostringstream c;
    c << "void " << cls << "::createTokensFromDB(NetClass*, GMDB* connection, token_info_list& tokens,\n"
      << "        token_reference_list&) {\n"
      << "    std::vector<attr_name_type_info*> attributes{";
    for (std::size_t k = 0; k < colour.attributes.size(); ++k)
        c << (k > 0 ? ",\n        " : "\n        ") << "new attr_name_type_info{\"" << colour.attributes[k].name
          << "\", " << sqlCType(colour.attributes[k].type) << "}";
    c << "};\n"
      << "    token_description_list descriptions;\n"
      << "    connection->DBReadTokens(1, \"" << colour.name << "\", &attributes, &descriptions);\n"
      << "    for (attr_name_type_info* a : attributes) delete a;\n"
      << "    for (token_description* d : descriptions.token_descriptions) {\n"
      << "        auto* info = new token_info();\n"
      << "        " << cls << "* token = new " << cls << "();\n"
      << "        info->tokentypename = \"" << colour.name << "\";\n"
      << "        info->token = Ptr<Token>(token);\n"
      << "        info->id = d->id;\n"
      << "        info->place_name = d->place_name;\n"
      << "        tokens.push_back(info);\n";
    // A NULL or unconvertible column (reported as it was read) leaves the
    // attribute at its default.
    for (std::size_t k = 0; k < colour.attributes.size(); ++k)
        c << "        if (d->attributes[" << k << "]->valid) token->set_" << colour.attributes[k].name << "("
          << fetchedValue(colour.attributes[k].type) << "(*d->attributes[" << k << "]));\n";
    c << "    }\n"
      << "    dbtokens::release(descriptions);\n"
      << "}\n";
    return c.str();
}

std::string source(const Model& model, const Colour& colour) {
    const std::string cls = tokenClass(colour.name);
    std::ostringstream c;
    c << fileBanner(model, "The record colour \"" + colour.name + "\".");
    c << "#include \"" << cls << ".h\"\n\n"
         "#include <xercesc/dom/DOMElement.hpp>\n\n"
         "#include <cstdlib>\n"
         "#include <iostream>\n"
         "#include <sstream>\n\n"
         "#include \"app/MainClass.h\"\n"
         "#include \"core/Place.h\"\n"
         "#include \"io/DatabaseTokens.h\"\n"
         "#include \"io/MarkingFile.h\"\n\n";

    // Construction, copy, assignment.
    c << cls << "::" << cls << "()\n    : Token()";
    for (const Attribute& a : colour.attributes) c << ",\n      " << a.name << "(" << defaultValue(a) << ")";
    c << " {}\n\n";
    c << cls << "::" << cls << "(const " << cls << "& other, bool copyTransition)\n"
      << "    : Token(other, copyTransition)";
    for (const Attribute& a : colour.attributes) c << ",\n      " << a.name << "(other.get_" << a.name << "())";
    c << " {}\n\n";
    c << cls << "::~" << cls << "() = default;\n\n";
    c << cls << "& " << cls << "::operator=(const " << cls << "& other) {\n"
      << "    if (&other == this) return *this;\n"
      << "    Token::operator=(other);\n";
    for (const Attribute& a : colour.attributes) c << "    " << a.name << " = other.get_" << a.name << "();\n";
    c << "    return *this;\n}\n\n";

    c << "const std::string " << cls << "::getName() const { return " << cppString(colour.name) << "; }\n\n";

    // Text form.
    c << "const std::string " << cls << "::content() const {\n"
      << "    static bool locked = false;\n"
      << "    if (locked) return \"NULL\";\n"
      << "    locked = true;\n"
      << "    std::ostringstream text;\n"
      << "    text << \"{\"";
    bool first = true;
    for (const Attribute& a : colour.attributes) {
        c << "\n         << \"" << (first ? "" : "; ") << a.name << "=\" << " << streamed(a, a.name);
        first = false;
    }
    c << "\n         << \"}\";\n"
      << "    locked = false;\n"
      << "    return text.str();\n}\n\n";

    // Accessors.
    for (const Attribute& a : colour.attributes)
        c << parameterType(a.type) << " " << cls << "::get_" << a.name << "() const { return " << a.name
          << "; }\n";
    c << "\n";
    for (const Attribute& a : colour.attributes) {
        c << "void " << cls << "::set_" << a.name << "(" << parameterType(a.type) << " newValue) {\n"
          << "    Logging* log = MainClass::getLog();\n"
          << "    if (log->isTokenLogging())\n"
          << "        log->getTokenLog() << \"set : " << colour.name << "." << a.name
          << " to \" << newValue << \"\\n\";\n"
          << "    " << a.name << " = newValue;\n}\n\n";
    }

    // Reading from the marking file.
    c << "void " << cls << "::readTokenData(XERCES_CPP_NAMESPACE_QUALIFIER DOMNode* node) {\n";
    if (colour.attributes.empty()) c << "    (void)node;\n";
    for (const Attribute& a : colour.attributes) c << readStatement(a);
    c << "}\n\n";
    c << "void " << cls << "::addInitialTokens(Place* place) {\n"
      << "    MarkingFile::forEachToken(place->getName(), [place](MarkingFile::Element* element) {\n"
      << "        " << cls << "* token = new " << cls << "();\n"
      << "        Ptr<Token> handle(token);\n"
      << "        token->readTokenData(element);\n"
      << "        place->addToken(handle);\n"
      << "    });\n}\n\n";
    c << databaseLoader(colour);
    return c.str();
}

}  // namespace

std::vector<GeneratedFile> emitColour(const Model& model, const Colour& colour) {
    const std::string cls = tokenClass(colour.name);
    return {{cls + ".h", header(model, colour)}, {cls + ".cpp", source(model, colour)}};
}

}  // namespace scpnc
