#pragma once
// A command-line truth value. The usage text promises "true-on or
// false-off", but a plain bool option only reads 1 and 0; this type reads
// the words as well, so "--percentage false" does what it says.
#include <tclap/ArgException.h>
#include <tclap/ArgTraits.h>

#include <istream>
#include <string>

struct BoolText {
    // Assigned from the whole option text, so that an empty text is refused
    // rather than taken as the default.
    typedef TCLAP::StringLike ValueCategory;

    bool value = false;
    BoolText() = default;
    BoolText(bool v) : value(v) {}
    operator bool() const { return value; }

    // Accepts true/false, on/off and 1/0 (case-sensitive words as
    // documented); anything else is reported by the parser as a value it
    // could not read.
    BoolText& operator=(const std::string& text) {
        if (!read(text, value))
            throw TCLAP::ArgParseException("Couldn't read argument value from string '" + text + "'");
        return *this;
    }

    static bool read(const std::string& word, bool& out) {
        if (word == "true" || word == "on" || word == "1") {
            out = true;
        } else if (word == "false" || word == "off" || word == "0") {
            out = false;
        } else {
            return false;
        }
        return true;
    }
};

// The same words from a stream; anything else fails the stream.
inline std::istream& operator>>(std::istream& in, BoolText& b) {
    std::string word;
    if (!(in >> word)) return in;
    if (!BoolText::read(word, b.value)) in.setstate(std::ios::failbit);
    return in;
}
