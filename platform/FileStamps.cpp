#include "platform/FileStamps.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/SysUtils.h"

namespace {
std::int64_t Nanoseconds(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

std::string FolderOfOs(const std::string& osPath) {
    const auto slash = osPath.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : osPath.substr(0, slash);
}
}  // namespace

TFileStamp StampOf(const std::string& path) {
    struct stat st {};
    TFileStamp stamp;
    if (stat(ToOsPath(path).c_str(), &st) != 0) return stamp;
    stamp.Exists = true;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Size = static_cast<std::uint64_t>(st.st_size);
    stamp.Modified = Nanoseconds(st.st_mtim);
    stamp.Changed = Nanoseconds(st.st_ctim);
    return stamp;
}

std::int64_t ClockNow() {
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return Nanoseconds(now);
}

bool CanReplaceFile(const std::string& path) {
    const std::string target = ToOsPath(path);
    struct stat st {};
    if (stat(target.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0)) return false;
    return access(FolderOfOs(target).c_str(), W_OK | X_OK) == 0;
}

bool ReplaceFileContent(const std::string& path, std::string_view content, bool privateFile) {
    if (!CanReplaceFile(path)) return false;
    const std::string target = ToOsPath(path);
    const std::string temporary = TemporaryNameFor(target, ".part");
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, privateFile ? 0600 : 0666);
    if (fd < 0) return false;
    std::size_t done = 0;
    const bool written = WriteFully(fd, content, done);
    const bool ok = close(fd) == 0 && written && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool FileHolds(const std::string& path, std::string_view content) {
    const THandle handle = FileOpenRegular(path);
    if (handle == INVALID_HANDLE_VALUE) return false;
    struct stat st {};
    std::string held;
    const bool same = fstat(handle, &st) == 0 && static_cast<std::uint64_t>(st.st_size) == content.size() &&
                      FileReadAt(handle, held, 0, content.size()) && held == content;
    close(handle);
    return same;
}

THandle FileOpenRegular(const std::string& path) {
    const int fd = open(ToOsPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return fd;
}

bool FileReadAt(THandle handle, std::string& into, std::uint64_t offset, std::uint64_t length) {
    into.resize(length);
    std::uint64_t done = 0;
    while (done < length) {
        const ssize_t n = pread(handle, into.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::uint64_t>(n);
    }
    return true;
}
