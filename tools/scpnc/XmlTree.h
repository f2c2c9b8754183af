#pragma once
// A description file read into a plain tree of elements. Only elements,
// their attributes and their character data are kept (comments and
// processing instructions are dropped); every element remembers the line its
// start tag begins on. This is the only part of the compiler that talks to
// the XML library.
#include <string>
#include <utility>
#include <vector>

#include "Diagnostics.h"

namespace scpnc {

struct XmlElement {
    std::string name;
    int line = 0;
    std::vector<std::pair<std::string, std::string>> attributes;  // document order
    std::vector<XmlElement> children;
    std::string text;  // the character data directly inside this element

    // The attribute's value, or null when the element does not have it.
    const std::string* attribute(const std::string& key) const;
};

// Parses `path` into `root`. XML errors are reported to `diagnostics` with
// their line; the result is false when the file could not be read or is not
// well-formed.
bool readXmlTree(const std::string& path, XmlElement& root, Diagnostics& diagnostics);

}  // namespace scpnc
