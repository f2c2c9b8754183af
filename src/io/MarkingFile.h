#pragma once
// The marking file "marking.xml" in the working directory: every element
// named "token", at any depth, is one token; its "place" attribute names the
// place it goes to. The file is parsed anew for every place that asks, so each
// load is independent. A file that cannot be read ends the program (status 1).
#include <functional>
#include <string>

#include <xercesc/util/XercesDefs.hpp>

XERCES_CPP_NAMESPACE_BEGIN
class DOMElement;
class DOMNode;
XERCES_CPP_NAMESPACE_END

namespace MarkingFile {

using Element = XERCES_CPP_NAMESPACE_QUALIFIER DOMElement;

// The name of the file, relative to the working directory.
extern const char* const kFileName;

// Calls `add` for every token element whose "place" attribute is exactly
// `placeName`, in document order.
void forEachToken(const std::string& placeName, const std::function<void(Element*)>& add);

// The element's attribute as narrow text; an absent attribute is "".
std::string attribute(const XERCES_CPP_NAMESPACE_QUALIFIER DOMNode* element, const char* name);

}  // namespace MarkingFile
