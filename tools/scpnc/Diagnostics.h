#pragma once
// Collects the errors found in one description, each tied to a line, and
// prints them in the form "<file>:<line>: error: <what>".
#include <ostream>
#include <string>
#include <vector>

namespace scpnc {

class Diagnostics {
public:
    explicit Diagnostics(std::string file) : file_(std::move(file)) {}

    void error(int line, const std::string& what);
    bool hasErrors() const { return !lines_.empty(); }
    const std::vector<std::string>& lines() const { return lines_; }
    void print(std::ostream& out) const;

private:
    std::string file_;
    std::vector<std::string> lines_;
};

}  // namespace scpnc
