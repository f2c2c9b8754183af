#pragma once
// Writing a file so that a reader finds either the previous file or the
// whole new one, never a half-written one: the text goes to a temporary file
// in the same folder, is synced, and is then renamed over the old name. Every
// step is checked, so a read-only folder, a full disk, a file-size limit or a
// folder in the file's place is reported instead of passing in silence; the
// previous file then stays as it was.
//
// In a folder that takes no new file, an existing file that may be written
// is rewritten in place instead, still whole or not at all: a write that
// fails puts the old content back (see rewriteInPlace).
//
// A file without any write permission bit is read-only and never replaced,
// also for root (to whom access() grants every write).
//
// A symbolic link is followed: a link to a regular file has that file
// replaced (the link stays), a link to something else (a device, a pipe) is
// written through directly, as a rename cannot replace it.
#include <string>

// Returns "" on success, otherwise why the file could not be written.
// Without `durable` the new file is not synced to the disk before it replaces
// the old one (the replacement is still whole for every reader; only a power
// failure could lose it): for a process that has a moment left to live.
std::string writeWholeFile(const std::string& path, const std::string& content, bool durable = true);
