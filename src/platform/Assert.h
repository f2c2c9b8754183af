#pragma once
// Internal invariants of the kernel. They stay active in optimised builds:
// a broken event list or token handle must stop the run rather than let it
// produce numbers from a corrupted net. The message names the expression and
// the source file it guards.
#include <cstdio>
#include <cstdlib>

namespace scpn_detail {
[[noreturn]] inline void assertionFailed(const char* expr, const char* file, int line) {
    std::fflush(stdout);
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
    std::abort();
}
}  // namespace scpn_detail

#define SCPN_ASSERT(expr, file) \
    ((expr) ? (void)0 : ::scpn_detail::assertionFailed(#expr, file, __LINE__))
