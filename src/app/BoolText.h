#pragma once
// A command-line truth value. The usage text promises "true-on or
// false-off", but a plain bool option only reads 1 and 0; this type reads
// the words as well, so "--percentage false" does what it says.
#include <istream>
#include <string>

struct BoolText {
    bool value = false;
    BoolText() = default;
    BoolText(bool v) : value(v) {}
    operator bool() const { return value; }
};

// Accepts true/false, on/off and 1/0 (case-sensitive words as documented);
// anything else fails the stream so the parser reports the value.
inline std::istream& operator>>(std::istream& in, BoolText& b) {
    std::string word;
    if (!(in >> word)) return in;
    if (word == "true" || word == "on" || word == "1") {
        b.value = true;
    } else if (word == "false" || word == "off" || word == "0") {
        b.value = false;
    } else {
        in.setstate(std::ios::failbit);
    }
    return in;
}
