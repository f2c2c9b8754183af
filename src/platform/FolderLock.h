#pragma once
// One run at a time in a log folder: two runs tracing into the same folder
// would empty and then interleave each other's traces. A run holds an
// exclusive lock (flock) on the file ".lock" in the folder for the rest of
// its life; the system drops it when the process ends, however it ends, so a
// killed run leaves no stale lock behind (the file itself stays, empty).
#include <string>

namespace folderlock {

enum class Outcome {
    Taken,  // this process holds the folder
    Busy,   // another process holds it
    Failed  // the lock file cannot be made or locked; `why` says why
};

// Locks `folder` for this process without waiting. Asking again for the
// folder already held keeps the lock; asking for another folder releases
// the first.
Outcome take(const std::string& folder, std::string& why);

// The lock file of a folder.
std::string lockFile(const std::string& folder);

}  // namespace folderlock
