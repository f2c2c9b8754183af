#pragma once
// Writes the generated files into the output folder. A file whose content
// has not changed is left alone, so that the build does not recompile what
// did not change. The folder keeps a list of the files of the last run
// (scpnc-files.txt); files of an earlier run that are no longer generated are
// removed.
#include <string>
#include <vector>

#include "Emit.h"

namespace scpnc {

extern const char* const kFileList;

// Returns false (with a message in `error`) when the folder cannot be written.
bool writeOutput(const std::string& folder, const std::vector<GeneratedFile>& files, std::string& error);

}  // namespace scpnc
