#pragma once
// An error that makes the rest of the run meaningless (a model that drew a
// negative delay, a trace that can no longer be written): reported on the
// error stream as one line beginning with "ERROR: ", then the process ends
// with status 1. The traces are flushed on the way out; "results.log" is not
// written, so the previous run's file stays as it was.
#include <string>

[[noreturn]] void fatalError(const std::string& message);
