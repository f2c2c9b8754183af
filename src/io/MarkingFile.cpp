#include "io/MarkingFile.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "core/Place.h"
#include "core/Token.h"

XERCES_CPP_NAMESPACE_USE

namespace MarkingFile {

const char* const kFileName = "marking.xml";

namespace {

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
    try {
        XMLPlatformUtils::Initialize("en_US");
    } catch (const XMLException& e) {
        fail("Error during initialization! :" + narrow(e.getMessage()) + "\n");
    }

    auto parser = std::make_unique<XercesDOMParser>();
    auto handler = std::make_unique<HandlerBase>();
    parser->setErrorHandler(handler.get());
    try {
        parser->parse(kFileName);
    } catch (const XMLException& e) {
        fail("Xerces XML Exception message is: " + narrow(e.getMessage()) + "\n");
    } catch (const DOMException& e) {
        fail("Xerces DOM Exception message is: " + narrow(e.getMessage()) + "\n");
    } catch (const SAXException& e) {
        fail("Xerces SAX Exception message is: " + narrow(e.getMessage()) + "\n");
    } catch (...) {
        fail("Xerces Unexpected Exception \n");
    }

    DOMDocument* document = parser->getDocument();
    if (document == nullptr) return;
    XMLCh* tag = XMLString::transcode("token");
    DOMNodeList* tokens = document->getElementsByTagName(tag);
    XMLString::release(&tag);
    for (XMLSize_t i = 0; i < tokens->getLength(); ++i) {
        auto* element = dynamic_cast<DOMElement*>(tokens->item(i));
        if (element == nullptr) continue;
        if (attribute(element, "place") == placeName) add(element);
    }
    // The parser owns the document; both go here. The library stays initialised.
}

}  // namespace MarkingFile

// The integer colour's loader lives with the file reader it depends on.
void Token_int::addInitialTokens(Place* place) {
    MarkingFile::forEachToken(place->getName(), [place](MarkingFile::Element* element) {
        const long value = std::atol(MarkingFile::attribute(element, "value").c_str());
        place->addToken(Ptr<Token>(new Token_int(value)));
    });
}
