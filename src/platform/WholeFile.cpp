#include "platform/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string failure(const std::string& what) { return what + ": " + std::strerror(errno); }

// Writes everything or says why not.
std::string writeAll(int fd, const std::string& content, const std::string& name) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failure("writing " + name);
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return "";
}

std::string writeThrough(const std::string& target, const std::string& content) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0666);
    if (fd < 0) return failure("opening " + target);
    std::string error = writeAll(fd, content, target);
    if (::close(fd) != 0 && error.empty()) error = failure("closing " + target);
    return error;
}

// Writes all of `content` at `offset` or says why not; `reached` is how far
// (from the start of the file) the bytes written got.
std::string writeAllAt(int fd, const std::string& content, off_t offset, off_t& reached, const std::string& name) {
    const char* data = content.data();
    std::size_t left = content.size();
    reached = offset;
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, data, left, reached);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failure("writing " + name);
        }
        data += n;
        left -= static_cast<std::size_t>(n);
        reached += n;
    }
    return "";
}

// Rewrites an existing regular file in place (its folder takes no new file),
// still whole or not at all: the old content is read first and the file is
// not emptied before the new text is in; a write that fails (a full disk, a
// file-size limit) puts the old bytes back over what was overwritten and
// cuts the file to its old length. Overwriting bytes the file already has
// needs no new room, so that undoing cannot fail the way the write did.
std::string rewriteInPlace(const std::string& target, const std::string& content, bool durable) {
    const int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
    // A file we may write but not read could not be put back: left alone.
    if (fd < 0) return failure("opening " + target);
    std::string old;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::string error = failure("reading " + target);
            ::close(fd);
            return error;
        }
        old.append(buffer, static_cast<std::size_t>(n));
    }

    off_t reached = 0;
    std::string error = writeAllAt(fd, content, 0, reached, target);
    if (error.empty() && ::ftruncate(fd, static_cast<off_t>(content.size())) != 0)
        error = failure("writing " + target);
    if (error.empty() && durable && ::fsync(fd) != 0) error = failure("writing " + target);
    if (!error.empty()) {
        // Back to the old file: its bytes over what the new text overwrote,
        // and its old length.
        const std::size_t overwritten = std::min(old.size(), static_cast<std::size_t>(reached));
        off_t restored = 0;
        const bool whole = writeAllAt(fd, old.substr(0, overwritten), 0, restored, target).empty() &&
                           ::ftruncate(fd, static_cast<off_t>(old.size())) == 0 && ::fsync(fd) == 0;
        if (!whole) error += " (and the old file could not be put back whole)";
    }
    if (::close(fd) != 0 && error.empty()) error = failure("closing " + target);
    return error;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string writeWholeFile(const std::string& path, const std::string& content, bool durable) {
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        // A dangling link is written through: that creates its target.
        if (::realpath(path.c_str(), resolved) == nullptr) return writeThrough(path, content);
        target = resolved;
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return path + " is a folder, not a file";
    if (exists && !S_ISREG(st.st_mode)) return writeThrough(target, content);

    // A file its owner made read-only is not replaced behind their back. The
    // mode bits decide, not only access(): for root, access() grants every
    // write, and a "chmod 444" means read-only to root too.
    if (exists && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        errno = EACCES;
        return failure(path + " cannot be replaced (it is read-only)");
    }
    if (exists && ::access(target.c_str(), W_OK) != 0) return failure(path + " cannot be replaced");

    // Keep the old file's permissions; a new file gets the usual ones.
    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    std::string temp = folderOf(target) + "/." + baseOf(target) + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        // A folder that takes no new file may still hold a file we may write:
        // then it is rewritten in place (still checked, but not whole).
        if (exists && (errno == EACCES || errno == EPERM)) return rewriteInPlace(target, content, durable);
        return failure("creating a file in the folder " + folderOf(target));
    }
    temp = name.data();

    std::string error = writeAll(fd, content, target);
    if (error.empty() && ::fchmod(fd, mode) != 0) error = failure("setting the permissions of " + target);
    if (error.empty() && durable && ::fsync(fd) != 0) error = failure("writing " + target);
    if (::close(fd) != 0 && error.empty()) error = failure("writing " + target);
    if (error.empty() && ::rename(temp.c_str(), target.c_str()) != 0)
        error = failure("replacing " + target);
    if (!error.empty()) ::unlink(temp.c_str());
    return error;
}
