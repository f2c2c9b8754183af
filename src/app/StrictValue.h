#pragma once
// Command-line values read strictly. The parser's plain numeric options read
// with a stream, which wraps "-1" into a huge unsigned number and takes an
// empty text ("--secmax ''") as "keep the default". These types read the
// whole text or refuse it, and the parser reports a refusal the way it
// reports every malformed value ("Couldn't read argument value from string
// ..."), ending the process with status 1.
//
// Accepted: optional blanks around the value; for integers an optional "+"
// (and "-" for signed types) followed by decimal digits, within the type's
// range; for reals a finite decimal number. Nothing else, and never nothing.
#include <tclap/ArgException.h>
#include <tclap/ArgTraits.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <type_traits>

namespace strictvalue {

inline std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

[[noreturn]] inline void refuse(const std::string& text) {
    throw TCLAP::ArgParseException("Couldn't read argument value from string '" + text + "'");
}

template <typename T>
T parse(const std::string& text) {
    std::string s = trimmed(text);
    if (!s.empty() && s[0] == '+') s.erase(0, 1);
    if (s.empty()) refuse(text);
    if constexpr (std::is_floating_point_v<T>) {
        // strtod also reads "nan", "inf" and hexadecimal floats; a time, a
        // level or a tolerance is none of these.
        if (s.find_first_not_of("0123456789.eE+-") != std::string::npos) refuse(text);
        errno = 0;
        char* end = nullptr;
        const double v = std::strtod(s.c_str(), &end);
        if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) refuse(text);
        return static_cast<T>(v);
    } else {
        if (std::is_unsigned_v<T> && s[0] == '-') refuse(text);
        T v{};
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
        if (ec != std::errc() || end != s.data() + s.size()) refuse(text);
        return v;
    }
}

}  // namespace strictvalue

// A number option read strictly (see above).
template <typename T>
struct StrictValue {
    // Assigned from the whole option text, so that an empty text is read too.
    typedef TCLAP::StringLike ValueCategory;

    T value{};
    StrictValue() = default;
    StrictValue(T v) : value(v) {}
    operator T() const { return value; }
    StrictValue& operator=(const std::string& text) {
        value = strictvalue::parse<T>(text);
        return *this;
    }
};
