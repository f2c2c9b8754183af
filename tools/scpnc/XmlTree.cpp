#include "XmlTree.h"

#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <fstream>
#include <memory>

XERCES_CPP_NAMESPACE_USE

namespace scpnc {

const std::string* XmlElement::attribute(const std::string& key) const {
    for (const auto& entry : attributes)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

namespace {

std::string utf8(const XMLCh* text) {
    if (text == nullptr) return "";
    TranscodeToStr converted(text, "UTF-8");
    return std::string(reinterpret_cast<const char*>(converted.str()), converted.length());
}

// The file's lines as bytes, to find where a start tag begins: the parser
// reports the position just after a start tag, and a start tag cannot
// contain a '<' of its own, so the nearest '<' before that position opens it.
class SourceLines {
public:
    explicit SourceLines(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) lines_.push_back(line);
    }

    // `line` and `column` are 1-based; the column counts characters.
    int tagStartLine(int line, int column) const {
        if (line < 1 || line > static_cast<int>(lines_.size())) return line;
        std::size_t end = byteOffset(lines_[line - 1], column);
        for (int l = line; l >= 1; --l) {
            const std::string& text = lines_[l - 1];
            std::size_t limit = (l == line) ? std::min(end, text.size()) : text.size();
            for (std::size_t i = limit; i > 0; --i)
                if (text[i - 1] == '<') return l;
        }
        return line;
    }

private:
    static std::size_t byteOffset(const std::string& text, int column) {
        // Characters before `column`; continuation bytes of UTF-8 do not count.
        int chars = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
                if (chars == column - 1) return i;
                ++chars;
            }
        }
        return text.size();
    }

    std::vector<std::string> lines_;
};

// Thrown to stop the parse at the first fatal error once it is recorded.
struct ParseStopped {};

class TreeBuilder : public DefaultHandler {
public:
    TreeBuilder(XmlElement& root, Diagnostics& diagnostics, const SourceLines& source)
        : root_(root), diagnostics_(diagnostics), source_(source) {}

    void setDocumentLocator(const Locator* const locator) override { locator_ = locator; }

    void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const qname,
                      const Attributes& attrs) override {
        XmlElement* element;
        if (open_.empty()) {
            element = &root_;
        } else {
            open_.back()->children.emplace_back();
            element = &open_.back()->children.back();
        }
        element->name = utf8(qname);
        element->line = currentTagLine();
        for (XMLSize_t i = 0; i < attrs.getLength(); ++i)
            element->attributes.emplace_back(utf8(attrs.getQName(i)), utf8(attrs.getValue(i)));
        open_.push_back(element);
    }

    void endElement(const XMLCh* const, const XMLCh* const, const XMLCh* const) override {
        open_.pop_back();
    }

    void characters(const XMLCh* const chars, const XMLSize_t length) override {
        if (open_.empty()) return;
        // `chars` is not guaranteed to end at `length`.
        std::vector<XMLCh> piece(chars, chars + length);
        piece.push_back(0);
        open_.back()->text += utf8(piece.data());
    }

    void warning(const SAXParseException&) override {}

    void error(const SAXParseException& e) override { report(e); }

    void fatalError(const SAXParseException& e) override {
        report(e);
        throw ParseStopped();
    }

private:
    int currentTagLine() const {
        if (locator_ == nullptr) return 0;
        return source_.tagStartLine(static_cast<int>(locator_->getLineNumber()),
                                    static_cast<int>(locator_->getColumnNumber()));
    }

    void report(const SAXParseException& e) {
        diagnostics_.error(static_cast<int>(e.getLineNumber()), utf8(e.getMessage()));
    }

    XmlElement& root_;
    Diagnostics& diagnostics_;
    const SourceLines& source_;
    const Locator* locator_ = nullptr;
    std::vector<XmlElement*> open_;
};

}  // namespace

bool readXmlTree(const std::string& path, XmlElement& root, Diagnostics& diagnostics) {
    {
        std::ifstream probe(path);
        if (!probe) {
            diagnostics.error(0, "cannot open the description");
            return false;
        }
    }
    try {
        XMLPlatformUtils::Initialize();
    } catch (const XMLException& e) {
        diagnostics.error(0, "cannot initialise the XML parser: " + utf8(e.getMessage()));
        return false;
    }
    bool ok = true;
    {
        const SourceLines source(path);
        std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader());
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
        reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
        reader->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
        TreeBuilder builder(root, diagnostics, source);
        reader->setContentHandler(&builder);
        reader->setErrorHandler(&builder);
        const std::size_t errorsBefore = diagnostics.lines().size();
        try {
            reader->parse(path.c_str());
        } catch (const ParseStopped&) {
            ok = false;
        } catch (const XMLException& e) {
            diagnostics.error(0, utf8(e.getMessage()));
            ok = false;
        } catch (const SAXParseException& e) {
            diagnostics.error(static_cast<int>(e.getLineNumber()), utf8(e.getMessage()));
            ok = false;
        }
        if (diagnostics.lines().size() != errorsBefore) ok = false;
    }
    XMLPlatformUtils::Terminate();
    return ok;
}

}  // namespace scpnc
