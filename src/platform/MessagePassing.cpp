#include "platform/MessagePassing.h"

#include <cstdlib>

int launcherRank() {
    // Open MPI, PMIx-based launchers and MPICH's each name it differently.
    for (const char* name : {"OMPI_COMM_WORLD_RANK", "PMIX_RANK", "PMI_RANK"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        char* end = nullptr;
        const long rank = std::strtol(value, &end, 10);
        if (*end == '\0' && rank >= 0) return static_cast<int>(rank);
    }
    return -1;
}
