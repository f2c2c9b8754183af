#include "platform/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace folderlock {

namespace {

// The lock held: its descriptor and the folder's identity (device and inode,
// so that "Log" and "./Log" are one folder).
int heldFd = -1;
dev_t heldDevice = 0;
ino_t heldInode = 0;

}  // namespace

std::string lockFile(const std::string& folder) { return folder + "/.lock"; }

Outcome take(const std::string& folder, std::string& why) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        why = std::strerror(errno);
        return Outcome::Failed;
    }
    if (heldFd >= 0 && st.st_dev == heldDevice && st.st_ino == heldInode) return Outcome::Taken;

    const std::string path = lockFile(folder);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        why = "cannot create " + path + ": " + std::strerror(errno);
        return Outcome::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return Outcome::Busy;
        why = "cannot lock " + path + ": " + std::strerror(error);
        return Outcome::Failed;
    }
    if (heldFd >= 0) ::close(heldFd);
    heldFd = fd;
    heldDevice = st.st_dev;
    heldInode = st.st_ino;
    return Outcome::Taken;
}

}  // namespace folderlock
