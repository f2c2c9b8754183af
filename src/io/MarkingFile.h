#pragma once
// The marking file "marking.xml" in the working directory: every element
// named "token", at any depth, is one token; its "place" attribute names the
// place it goes to.
//
// The file is read once per process: the first load parses it and indexes its
// token elements by place, and every later load (each build of the net, one
// per replication of a transient run) is served from that parsed marking, so
// editing the file during a run changes nothing. Parsed markings are kept by
// the absolute path of the file, which lets in-process callers (the tests)
// work in several directories; forget() drops them.
//
// A file that cannot be read, is not a regular file, is too large, or holds an integer value that is
// not a whole number ends the program with one line on standard output and
// status 1.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class DOMElement;
class DOMNode;
XERCES_CPP_NAMESPACE_END

class NetClass;

namespace MarkingFile {

using Element = XERCES_CPP_NAMESPACE_QUALIFIER DOMElement;

// The name of the file, relative to the working directory.
extern const char* const kFileName;

// Most token elements a file may hold. The kept marking costs a few hundred
// bytes a token (a million tokens: some hundred MB, and every build of the
// net makes them all again), which an ordinary machine holds; a file beyond
// it is refused during the parse, before it can fill the memory.
inline constexpr std::size_t kMaxTokens = 1'000'000;

// Most entity expansions in one file. Markings rarely use entities at all;
// the bound stops nested entities ("billion laughs") long before they
// exhaust the memory. External entities and DTDs are never loaded.
inline constexpr std::size_t kMaxEntityExpansions = 10'000;

// Most elements and most characters (text plus attribute values) of the
// document after entity expansion: a few expansions of one large entity can
// still multiply a small file, so the parse also stops at these bounds. They
// leave room for kMaxTokens tokens with a wrapper element each and about
// sixty characters of attribute values and blanks each.
inline constexpr std::size_t kMaxElements = 2 * kMaxTokens;
inline constexpr std::size_t kMaxCharacters = 64u * 1024u * 1024u;

// Most memory the parser may hold at once. The bounds above are counted as
// the parser hands its pieces over; this one stops a single piece (one
// attribute value full of entity references, one huge comment) while the
// parser is still building it. An ordinary marking needs well under 1 MiB.
inline constexpr std::size_t kMaxParserMemory = 32u * 1024u * 1024u;

// Calls `add` for every token element whose "place" attribute is exactly
// `placeName`, in document order. The elements (with the attributes the file
// gives) belong to the parsed marking, which stays alive for the rest of the
// process (or until forget()): record colours read them at every build.
void forEachToken(const std::string& placeName, const std::function<void(Element*)>& add);

// The "value" attributes of the token elements of `placeName` as integers,
// in document order; an absent attribute is 0. Surrounding blanks and a
// leading sign are accepted. The values are checked the first time a place
// is asked for: a value that is not a whole number or does not fit a long
// ends the program, naming the place, the value and where the token is.
const std::vector<long>& integerValues(const std::string& placeName);

// Compares the marking with the net after its first build: one warning line
// for every place name in the file that the net does not have, and for every
// place of the net whose tokens the file gives but that no loader asked for
// (both kinds of tokens are ignored). When the file has token elements but
// none of them reached a place, the marking is surely mistaken and the
// program ends with an error line (status 1). A file without any token
// element is accepted: a dead marking is a legitimate net to simulate and the
// run reports it. Without a marking file, and with no loader having asked for
// one, there is nothing to check.
void checkAgainstNet(const NetClass& net);

// Drops every parsed marking; the next load reads the file again.
void forget();

// The element's attribute as narrow text; an absent attribute is "".
std::string attribute(const XERCES_CPP_NAMESPACE_QUALIFIER DOMNode* element, const char* name);

}  // namespace MarkingFile
