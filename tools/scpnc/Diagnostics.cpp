#include "Diagnostics.h"

namespace scpnc {

void Diagnostics::error(int line, const std::string& what) {
    // Line 0: the error concerns the file as a whole.
    const std::string where = line > 0 ? file_ + ":" + std::to_string(line) : file_;
    lines_.push_back(where + ": error: " + what);
}

void Diagnostics::print(std::ostream& out) const {
    for (const std::string& l : lines_) out << l << '\n';
    out.flush();
}

}  // namespace scpnc
