#include "io/MarkingFile.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "core/NetClass.h"
#include "core/Place.h"
#include "core/Token.h"

XERCES_CPP_NAMESPACE_USE

namespace MarkingFile {

const char* const kFileName = "marking.xml";

namespace {

using XString = std::basic_string<XMLCh>;

const XMLCh kTokenTag[] = u"token";
const XMLCh kPlaceAttribute[] = u"place";
const XMLCh kValueAttribute[] = u"value";

std::string narrow(const XMLCh* text) {
    if (text == nullptr) return "";
    char* s = XMLString::transcode(text);
    std::string result = s ? s : "";
    XMLString::release(&s);
    return result;
}

// Reports a failed read of the marking file and ends the program.
[[noreturn]] void fail(const std::string& line) {
    std::cout << line << std::flush;
    std::exit(1);
}

// Thrown out of the parser's callbacks when the document outgrows a bound;
// the scanner lets it pass and cleans up behind it.
struct TooLarge {
    std::string message;
};

// A DOM parser that refuses what could exhaust the memory: entity expansion
// past kMaxEntityExpansions (Xerces' own security manager), external DTDs and
// entities, and a document that expands past the element, character or token
// bounds. It also notes the line of every token element, for messages.
class BoundedParser : public XercesDOMParser {
public:
    struct Seen {
        const DOMNode* element;
        XMLFileLoc line;
    };

    BoundedParser() {
        security_.setEntityExpansionLimit(kMaxEntityExpansions);
        setSecurityManager(&security_);
        setLoadExternalDTD(false);
        setDisableDefaultEntityResolution(true);
        // Entities are expanded in place, so the token elements are plain
        // descendants of the document whether or not they came from one.
        setCreateEntityReferenceNodes(false);
        setCreateCommentNodes(false);
        setErrorHandler(&handler_);
    }

    const std::vector<Seen>& tokens() const { return tokens_; }

    void startElement(const XMLElementDecl& elemDecl, const unsigned int urlId,
                      const XMLCh* const elemPrefix, const RefVectorOf<XMLAttr>& attrList,
                      const XMLSize_t attrCount, const bool isEmpty, const bool isRoot) override {
        if (++elements_ > kMaxElements)
            throw TooLarge{std::string("ERROR: ") + kFileName + " expands to more than " +
                           std::to_string(kMaxElements) + " elements, the most a marking may have.\n"};
        for (XMLSize_t i = 0; i < attrCount; ++i)
            count(XMLString::stringLen(attrList.elementAt(i)->getValue()));
        const bool token = XMLString::equals(elemDecl.getFullName(), kTokenTag);
        if (token && tokens_.size() >= kMaxTokens)
            throw TooLarge{std::string("ERROR: ") + kFileName + " holds more than " +
                           std::to_string(kMaxTokens) + " token elements, the most a marking may have.\n"};
        XercesDOMParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
        if (token) {
            const Locator* where = getScanner()->getLocator();
            tokens_.push_back({getCurrentNode(), where ? where->getLineNumber() : 0});
        }
    }

    void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override {
        count(length);
        XercesDOMParser::docCharacters(chars, length, cdataSection);
    }

    void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length,
                             const bool cdataSection) override {
        count(length);
        XercesDOMParser::ignorableWhitespace(chars, length, cdataSection);
    }

    void docPI(const XMLCh* const target, const XMLCh* const data) override {
        count(XMLString::stringLen(target) + XMLString::stringLen(data));
        XercesDOMParser::docPI(target, data);
    }

private:
    void count(std::size_t characters) {
        characters_ += characters;
        if (characters_ > kMaxCharacters)
            throw TooLarge{std::string("ERROR: ") + kFileName + " expands to more than " +
                           std::to_string(kMaxCharacters) +
                           " characters of text and attribute values, the most a marking may have.\n"};
    }

    SecurityManager security_;
    HandlerBase handler_;  // turns every error into an exception
    std::vector<Seen> tokens_;
    std::size_t elements_ = 0;
    std::size_t characters_ = 0;
};

struct TokenElement {
    DOMElement* element;
    std::size_t ordinal;  // 1 for the first token element of the file
    XMLFileLoc line;      // 0 when unknown
};

struct PlaceTokens {
    std::string name;
    std::vector<TokenElement> tokens;
    bool integersRead = false;
    std::vector<long> integers;
};

// One parsed marking file. The document is kept for the life of the marking
// because record colours read their tokens from its elements at every build;
// integer tokens are converted once and kept as numbers.
struct Marking {
    DOMDocument* document = nullptr;
    std::vector<PlaceTokens> places;  // in the order of their first token
    std::unordered_map<std::string, std::size_t> index;
    std::size_t tokenCount = 0;
    std::set<std::string> asked;  // places a loader asked for

    Marking() = default;
    Marking(const Marking&) = delete;
    Marking& operator=(const Marking&) = delete;
    ~Marking() {
        if (document != nullptr) document->release();
    }

    PlaceTokens* find(const std::string& name) {
        auto it = index.find(name);
        return it == index.end() ? nullptr : &places[it->second];
    }
};

std::map<std::string, std::unique_ptr<Marking>>& markings() {
    static std::map<std::string, std::unique_ptr<Marking>> all;
    return all;
}

std::string keyOfTheFile() {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(kFileName, ec);
    return ec ? std::string(kFileName) : path.lexically_normal().string();
}

std::unique_ptr<Marking> read() {
    try {
        XMLPlatformUtils::Initialize("en_US");
    } catch (const XMLException& e) {
        fail("Error during initialization! :" + narrow(e.getMessage()) + "\n");
    }

    auto marking = std::make_unique<Marking>();
    auto parser = std::make_unique<BoundedParser>();
    try {
        parser->parse(kFileName);
    } catch (const TooLarge& e) {
        fail(e.message);
    } catch (const XMLException& e) {
        fail("Xerces XML Exception message is: " + narrow(e.getMessage()) + "\n");
    } catch (const DOMException& e) {
        fail("Xerces DOM Exception message is: " + narrow(e.getMessage()) + "\n");
    } catch (const SAXException& e) {
        fail("Xerces SAX Exception message is: " + narrow(e.getMessage()) + "\n");
    } catch (...) {
        fail("Xerces Unexpected Exception \n");
    }
    marking->document = parser->adoptDocument();
    if (marking->document == nullptr) return marking;

    // Every token element in document order: a walk over the tree, each node
    // visited once. The lines the parser noted come in the same order.
    const std::vector<BoundedParser::Seen>& seen = parser->tokens();
    std::size_t nextSeen = 0;
    std::unordered_map<XString, std::size_t> byName;
    DOMNode* node = marking->document->getFirstChild();
    while (node != nullptr) {
        if (node->getNodeType() == DOMNode::ELEMENT_NODE &&
            XMLString::equals(node->getNodeName(), kTokenTag)) {
            auto* element = static_cast<DOMElement*>(node);
            XMLFileLoc line = 0;
            if (nextSeen < seen.size() && seen[nextSeen].element == node) line = seen[nextSeen++].line;
            const XString place = element->getAttribute(kPlaceAttribute);
            auto [it, added] = byName.try_emplace(place, marking->places.size());
            if (added) {
                marking->places.push_back({narrow(place.c_str()), {}, false, {}});
                marking->index.emplace(marking->places.back().name, it->second);
            }
            marking->places[it->second].tokens.push_back({element, ++marking->tokenCount, line});
        }
        if (DOMNode* child = node->getFirstChild()) {
            node = child;
            continue;
        }
        while (node != nullptr && node->getNextSibling() == nullptr) node = node->getParentNode();
        if (node != nullptr) node = node->getNextSibling();
    }
    return marking;
}

// The marking of the file in the working directory, read on first use.
Marking& current() {
    auto& all = markings();
    const std::string key = keyOfTheFile();
    auto it = all.find(key);
    if (it == all.end()) it = all.emplace(key, read()).first;
    return *it->second;
}

enum class Number { Whole, NotWhole, OutOfRange };

// Reads a decimal whole number with optional surrounding blanks and sign.
Number parseLong(const std::string& text, long& value) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return Number::NotWhole;
    const char* begin = text.data() + first;
    const char* end = text.data() + text.find_last_not_of(blanks) + 1;
    if (*begin == '+') {
        ++begin;
        if (begin == end || *begin < '0' || *begin > '9') return Number::NotWhole;
    }
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec == std::errc::invalid_argument || ptr != end) return Number::NotWhole;
    if (ec == std::errc::result_out_of_range) return Number::OutOfRange;
    return Number::Whole;
}

void readIntegers(PlaceTokens& place) {
    place.integers.reserve(place.tokens.size());
    for (const TokenElement& t : place.tokens) {
        long value = 0;
        if (t.element->getAttributeNode(kValueAttribute) != nullptr) {
            const std::string text = narrow(t.element->getAttribute(kValueAttribute));
            const Number n = parseLong(text, value);
            if (n != Number::Whole) {
                std::string where = "token element " + std::to_string(t.ordinal);
                if (t.line > 0) where += " (line " + std::to_string(t.line) + ")";
                fail(std::string("ERROR: ") + kFileName + ": " + where + " for place \"" + place.name +
                     "\" has the value \"" + text + "\", which " +
                     (n == Number::NotWhole
                          ? std::string("is not a whole number.\n")
                          : "is out of range (" + std::to_string(std::numeric_limits<long>::min()) +
                                " to " + std::to_string(std::numeric_limits<long>::max()) + ").\n"));
            }
        }
        place.integers.push_back(value);
    }
    place.integersRead = true;
}

}  // namespace

std::string attribute(const DOMNode* node, const char* name) {
    const DOMElement* element = dynamic_cast<const DOMElement*>(node);
    if (element == nullptr) return "";
    XMLCh* key = XMLString::transcode(name);
    std::string value = narrow(element->getAttribute(key));
    XMLString::release(&key);
    return value;
}

void forEachToken(const std::string& placeName, const std::function<void(Element*)>& add) {
    Marking& marking = current();
    marking.asked.insert(placeName);
    if (PlaceTokens* place = marking.find(placeName))
        for (const TokenElement& t : place->tokens) add(t.element);
}

const std::vector<long>& integerValues(const std::string& placeName) {
    static const std::vector<long> none;
    Marking& marking = current();
    marking.asked.insert(placeName);
    PlaceTokens* place = marking.find(placeName);
    if (place == nullptr) return none;
    if (!place->integersRead) readIntegers(*place);
    return place->integers;
}

void checkAgainstNet(const NetClass& net) {
    if (markings().count(keyOfTheFile()) == 0) {
        std::error_code ec;
        if (!std::filesystem::exists(kFileName, ec)) return;
    }
    Marking& marking = current();
    const std::string file = kFileName;
    std::size_t used = 0;
    for (const PlaceTokens& p : marking.places) {
        const std::string count = std::to_string(p.tokens.size());
        if (p.name.empty())
            std::cout << "WARNING: " << file << ": " << count
                      << " token element(s) name no place; they are ignored." << std::endl;
        else if (net.getPlaces().count(p.name) == 0)
            std::cout << "WARNING: " << file << ": the net has no place \"" << p.name << "\"; its " << count
                      << " token(s) are ignored." << std::endl;
        else if (marking.asked.count(p.name) == 0)
            std::cout << "WARNING: " << file << ": the net reads no initial tokens of place \"" << p.name
                      << "\" from the file; its " << count << " token(s) are ignored." << std::endl;
        else
            used += p.tokens.size();
    }
    if (marking.tokenCount == 0 || used > 0) return;
    std::string reads;
    for (const std::string& name : marking.asked) reads += (reads.empty() ? "" : ", ") + name;
    fail("ERROR: " + file + ": none of its " + std::to_string(marking.tokenCount) + " token(s) " +
         (reads.empty() ? std::string("is used: the net reads no place from the file.\n")
                        : "goes to a place the net reads from the file (" + reads + ").\n"));
}

void forget() { markings().clear(); }

}  // namespace MarkingFile

// The integer colour's loader lives with the file reader it depends on.
void Token_int::addInitialTokens(Place* place) {
    for (long value : MarkingFile::integerValues(place->getName()))
        place->addToken(Ptr<Token>(new Token_int(value)));
}
