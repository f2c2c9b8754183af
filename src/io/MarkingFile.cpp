#include "io/MarkingFile.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLExceptMsgs.hpp>
#include <xercesc/util/XMLString.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <new>
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

// One token element as the file gives it: its attributes, and where it
// stands (for messages).
struct TokenElement {
    std::size_t ordinal;  // 1 for the first token element of the file
    XMLFileLoc line;      // 0 when unknown
    std::vector<std::pair<XString, XString>> attributes;
    DOMElement* element = nullptr;  // made when a record colour first asks

    const XString* find(const XMLCh* name) const {
        for (const auto& [key, value] : attributes)
            if (XMLString::equals(key.c_str(), name)) return &value;
        return nullptr;
    }
};

struct PlaceTokens {
    std::string name;
    std::vector<TokenElement> tokens;
    bool integersRead = false;
    std::vector<long> integers;
};

// One parsed marking file: the token elements by place, with their
// attributes. Integer tokens are converted once and kept as numbers. Record
// colours read their tokens from DOM elements; those are made from the kept
// attributes in a small document of the marking's own the first time they
// are asked for, so that only records pay for a DOM (a DOM of the whole file
// costs ten times its parse and some hundred bytes a token).
struct Marking {
    std::vector<PlaceTokens> places;  // in the order of their first token
    std::unordered_map<std::string, std::size_t> index;
    std::size_t tokenCount = 0;
    std::set<std::string> asked;  // places a loader asked for
    DOMDocument* records = nullptr;

    Marking() = default;
    Marking(const Marking&) = delete;
    Marking& operator=(const Marking&) = delete;
    ~Marking() {
        if (records != nullptr) records->release();
    }

    PlaceTokens* find(const std::string& name) {
        auto it = index.find(name);
        return it == index.end() ? nullptr : &places[it->second];
    }

    DOMElement* elementOf(TokenElement& token) {
        if (token.element != nullptr) return token.element;
        if (records == nullptr) {
            DOMImplementation* dom = DOMImplementationRegistry::getDOMImplementation(u"Core");
            records = dom->createDocument(nullptr, u"marking", nullptr);
        }
        token.element = records->createElement(kTokenTag);
        for (const auto& [key, value] : token.attributes) token.element->setAttribute(key.c_str(), value.c_str());
        records->getDocumentElement()->appendChild(token.element);
        return token.element;
    }
};

// Reads the file as a stream of parser events (no document tree) into a
// Marking, refusing what could exhaust the memory: entity expansion past
// kMaxEntityExpansions (Xerces' own security manager), external DTDs and
// entities, and a document that expands past the element, character or
// token bounds.
class MarkingReader : public DefaultHandler {
public:
    explicit MarkingReader(Marking& marking) : marking_(marking) {}

    void setDocumentLocator(const Locator* const locator) override { locator_ = locator; }

    void startElement(const XMLCh* const, const XMLCh* const, const XMLCh* const qname,
                      const Attributes& attributes) override {
        if (++elements_ > kMaxElements)
            fail(std::string("ERROR: ") + kFileName + " expands to more than " + std::to_string(kMaxElements) +
                 " elements, the most a marking may have.\n");
        const XMLSize_t n = attributes.getLength();
        for (XMLSize_t i = 0; i < n; ++i) count(XMLString::stringLen(attributes.getValue(i)));
        if (!XMLString::equals(qname, kTokenTag)) return;
        if (marking_.tokenCount >= kMaxTokens)
            fail(std::string("ERROR: ") + kFileName + " holds more than " + std::to_string(kMaxTokens) +
                 " token elements, the most a marking may have.\n");

        TokenElement token{++marking_.tokenCount, locator_ != nullptr ? locator_->getLineNumber() : 0, {}};
        token.attributes.reserve(n);
        XString place;
        for (XMLSize_t i = 0; i < n; ++i) {
            token.attributes.emplace_back(attributes.getQName(i), attributes.getValue(i));
            if (XMLString::equals(attributes.getQName(i), kPlaceAttribute)) place = attributes.getValue(i);
        }
        auto [it, added] = byName_.try_emplace(place, marking_.places.size());
        if (added) {
            marking_.places.push_back({narrow(place.c_str()), {}, false, {}});
            marking_.index.emplace(marking_.places.back().name, it->second);
        }
        marking_.places[it->second].tokens.push_back(std::move(token));
    }

    void characters(const XMLCh* const, const XMLSize_t length) override { count(length); }
    void ignorableWhitespace(const XMLCh* const, const XMLSize_t length) override { count(length); }
    void processingInstruction(const XMLCh* const target, const XMLCh* const data) override {
        count(XMLString::stringLen(target) + XMLString::stringLen(data));
    }

private:
    void count(std::size_t characters) {
        characters_ += characters;
        if (characters_ > kMaxCharacters)
            fail(std::string("ERROR: ") + kFileName + " expands to more than " + std::to_string(kMaxCharacters) +
                 " characters of text and attribute values, the most a marking may have.\n");
    }

    Marking& marking_;
    const Locator* locator_ = nullptr;
    std::unordered_map<XString, std::size_t> byName_;
    std::size_t elements_ = 0;
    std::size_t characters_ = 0;
};

// The parser's memory, bounded while it parses: an attribute that references
// a large entity thousands of times, or a huge comment, is built up in the
// parser's buffers before any handler sees it, so only the allocator can stop
// it in time. Past the bound an allocation fails as if the memory had run out,
// which ends the parse; read() reports it.
class BoundedMemory : public MemoryManager {
public:
    explicit BoundedMemory(std::size_t limit) : limit_(limit) {}

    MemoryManager* getExceptionMemoryManager() override { return XMLPlatformUtils::fgMemoryManager; }

    void* allocate(XMLSize_t size) override {
        if (size > limit_ - live_) {
            exceeded_ = true;
            throw OutOfMemoryException();
        }
        void* block = ::operator new(size + kHeader, std::nothrow);
        if (block == nullptr) throw OutOfMemoryException();
        *static_cast<std::size_t*>(block) = size;
        live_ += size;
        return static_cast<char*>(block) + kHeader;
    }

    void deallocate(void* p) override {
        if (p == nullptr) return;
        char* block = static_cast<char*>(p) - kHeader;
        live_ -= *reinterpret_cast<std::size_t*>(block);
        ::operator delete(block);
    }

    bool exceeded() const { return exceeded_; }

private:
    // Each block starts with its size, kept where any type's alignment holds.
    static constexpr std::size_t kHeader = alignof(std::max_align_t);
    std::size_t limit_;
    std::size_t live_ = 0;
    bool exceeded_ = false;
};

// The marking file as the parser reads it: through the descriptor that was
// checked to be a regular file, so that what is parsed is what was checked.
class DescriptorStream : public BinInputStream {
public:
    explicit DescriptorStream(int fd) : fd_(fd) {}
    XMLFilePos curPos() const override { return position_; }
    XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override {
        for (;;) {
            const ssize_t n = ::read(fd_, toFill, maxToRead);
            if (n >= 0) {
                position_ += static_cast<XMLFilePos>(n);
                return static_cast<XMLSize_t>(n);
            }
            if (errno != EINTR)
                ThrowXML1(XMLPlatformUtilsException, XMLExcepts::File_CouldNotReadFromFile, kFileName);
        }
    }
    const XMLCh* getContentType() const override { return nullptr; }

private:
    int fd_;
    XMLFilePos position_ = 0;
};

class DescriptorSource : public InputSource {
public:
    explicit DescriptorSource(int fd) : InputSource(u"marking.xml"), fd_(fd) {}
    BinInputStream* makeStream() const override { return new DescriptorStream(fd_); }

private:
    int fd_;
};

// Opens the marking file for the parse; -1 when it cannot be opened (the
// parser then reports that as for any file it cannot open). Anything but a
// regular file is refused before a byte is read: a FIFO would block the
// start-up until someone writes to it, a device might never end. The open
// itself does not wait (O_NONBLOCK), whoever is at the other end of a FIFO.
int openRegularFile() {
    const int fd = ::open(kFileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        fail(std::string("ERROR: ") + kFileName + " cannot be read: " + std::strerror(error) + "\n");
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        const char* kind = S_ISFIFO(st.st_mode)   ? "a FIFO"
                           : S_ISDIR(st.st_mode)  ? "a folder"
                           : S_ISCHR(st.st_mode)  ? "a character device"
                           : S_ISBLK(st.st_mode)  ? "a block device"
                           : S_ISSOCK(st.st_mode) ? "a socket"
                                                  : "not a file";
        fail(std::string("ERROR: ") + kFileName + " is " + kind + ", not a regular file; a marking is read only "
             "from a regular file.\n");
    }
    // Reads of a regular file never wait anyway; the flag goes for clarity.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

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
    MarkingReader handler(*marking);
    SecurityManager security;
    security.setEntityExpansionLimit(kMaxEntityExpansions);
    BoundedMemory memory(kMaxParserMemory);  // outlives the parser
    std::unique_ptr<SAX2XMLReader> parser(XMLReaderFactory::createXMLReader(&memory));
    // As a plain DOM parser reads: no namespaces, no validation; and no
    // external DTD or entity is ever opened (a "/dev/zero" entity would
    // never end).
    parser->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
    parser->setFeature(XMLUni::fgSAX2CoreValidation, false);
    parser->setFeature(XMLUni::fgXercesLoadExternalDTD, false);
    parser->setFeature(XMLUni::fgXercesDisableDefaultEntityResolution, true);
    parser->setProperty(XMLUni::fgXercesSecurityManager, &security);
    parser->setContentHandler(&handler);
    parser->setErrorHandler(&handler);  // every fatal error becomes an exception
    const int fd = openRegularFile();
    try {
        if (fd >= 0)
            parser->parse(DescriptorSource(fd));
        else
            parser->parse(kFileName);  // says that (and why) the file cannot be opened
    } catch (const XMLException& e) {
        fail("Xerces XML Exception message is: " + narrow(e.getMessage()) + "\n");
    } catch (const DOMException& e) {
        fail("Xerces DOM Exception message is: " + narrow(e.getMessage()) + "\n");
    } catch (const SAXException& e) {
        fail("Xerces SAX Exception message is: " + narrow(e.getMessage()) + "\n");
    } catch (const OutOfMemoryException&) {
        if (!memory.exceeded()) throw std::bad_alloc();  // the machine's memory, not the bound
        fail(std::string("ERROR: ") + kFileName + " needs more than " + std::to_string(kMaxParserMemory) +
             " bytes of memory to be parsed (a very long attribute value, text or comment, or an entity "
             "expanded too often), the most a marking may have.\n");
    } catch (const std::bad_alloc&) {
        throw;  // reported as any lack of memory is
    } catch (...) {
        fail("Xerces Unexpected Exception \n");
    }
    if (fd >= 0) ::close(fd);
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
        if (const XString* attribute = t.find(kValueAttribute)) {
            const std::string text = narrow(attribute->c_str());
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
        for (TokenElement& t : place->tokens) add(marking.elementOf(t));
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
