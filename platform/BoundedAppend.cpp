// Appends to a log that keeps at most two generations: the current file and
// the one before it (the name with ".1" added).
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Files.h"

namespace {
int OpenForAppend(const std::string& osPath) {
    for (;;) {
        const int fd = open(osPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

void LockExclusive(int fd) {
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// The descriptor still names the file at osPath: another writer has not
// moved it aside while this one waited for the lock.
bool StillCurrent(int fd, const std::string& osPath) {
    struct stat held {}, named {};
    return fstat(fd, &held) == 0 && stat(osPath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}
}  // namespace

std::string PreviousGenerationName(const std::string& path) { return path + ".1"; }

// Writers take the file's lock for the check and the write, so two of them
// never both move the file aside (which would drop a whole generation), no
// file passes its bound by a racing append, and one that opened the file before it was moved opens the new one instead.
bool AppendBounded(const std::string& path, std::string_view content, std::uint64_t limit) {
    const std::string osPath = ToOsPath(path);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = OpenForAppend(osPath);
        if (fd < 0) return false;
        LockExclusive(fd);
        if (!StillCurrent(fd, osPath)) {
            close(fd);
            continue;
        }
        struct stat st {};
        const bool full = fstat(fd, &st) == 0 && st.st_size > 0 &&
                          static_cast<std::uint64_t>(st.st_size) + content.size() > limit;
        if (full) {
            const bool moved = rename(osPath.c_str(), ToOsPath(PreviousGenerationName(path)).c_str()) == 0;
            close(fd);
            if (moved) continue;
            // A file that cannot be moved aside is not written past its bound.
            return false;
        }
        const bool written = AppendWhole(fd, content);
        return close(fd) == 0 && written;
    }
    return false;
}
