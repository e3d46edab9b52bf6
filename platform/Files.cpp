#include "platform/Files.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SysUtils.h"

namespace {
// Opens with close-on-exec, so a started program inherits no file of ours.
int OpenOs(const std::string& path, int flags, mode_t mode = 0666) {
    for (;;) {
        const int fd = open(ToOsPath(path).c_str(), flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

bool StatOs(const std::string& path, struct stat& st) { return stat(ToOsPath(path).c_str(), &st) == 0; }

bool WriteAll(int fd, std::string_view content) {
    std::size_t done = 0;
    return WriteFully(fd, content, done);
}

// Cuts off the start of an append that did not fit (a full disk, a size
// limit), so the file never ends in a torn line; left alone when another
// writer has appended behind it meanwhile, whose line must not be lost.
void TakeBackAppend(int fd, std::size_t written) {
    const off_t end = lseek(fd, 0, SEEK_CUR);
    struct stat st {};
    if (end < static_cast<off_t>(written) || fstat(fd, &st) != 0 || st.st_size != end) return;
    // A cut that fails leaves the torn start: the caller reports the append
    // as failed either way.
    if (ftruncate(fd, end - static_cast<off_t>(written)) != 0) return;
}

// close() reports a failed delayed write (NFS, full disk) that write() did not.
bool CloseChecked(int fd) { return close(fd) == 0 || errno == EINTR; }
}  // namespace

std::string TemporaryNameFor(const std::string& path, std::string_view suffix) {
    static std::atomic<unsigned> counter{0};
    const std::size_t nameStart = path.find_last_of("\\/") + 1;  // 0 without a folder
    return path.substr(0, nameStart) + "." + path.substr(nameStart) + "." + IntToStr(getpid()) + "-" +
           IntToStr(counter.fetch_add(1)) + std::string(suffix);
}

std::string ToOsPath(std::string_view path) {
    std::string out(path);
    for (auto& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::string ToWindowsPath(std::string_view path) {
    std::string out(path);
    for (auto& c : out)
        if (c == '/') c = '\\';
    return out;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return StatOs(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return StatOs(path, st) && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) { return mkdir(ToOsPath(path).c_str(), 0777) == 0; }

bool RemoveDir(const std::string& path) { return rmdir(ToOsPath(path).c_str()) == 0; }

bool DeleteFile(const std::string& path) { return unlink(ToOsPath(path).c_str()) == 0; }

bool RenameFile(const std::string& oldPath, const std::string& newPath) {
    return rename(ToOsPath(oldPath).c_str(), ToOsPath(newPath).c_str()) == 0;
}

std::int64_t FileSizeOf(const std::string& path) {
    struct stat st {};
    if (!StatOs(path, st) || S_ISDIR(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool FileGetDateTime(const std::string& path, TDateTime& modified) {
    struct stat st {};
    if (!StatOs(path, st)) return false;
    modified = UnixToLocalDateTime(static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9);
    return true;
}

// Sets the modification time only; the access time stays.
bool FileSetDateTime(const std::string& path, TDateTime modified) {
    const double unixSeconds = LocalDateTimeToUnix(modified);
    // Whole microseconds: the date-time's own resolution near the present.
    const auto micros = static_cast<long long>(std::llround(unixSeconds * 1e6));
    long long seconds = micros / 1000000;
    long long rest = micros % 1000000;
    if (rest < 0) {
        rest += 1000000;
        --seconds;
    }
    struct timespec times[2] {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(rest * 1000);
    return utimensat(AT_FDCWD, ToOsPath(path).c_str(), times, 0) == 0;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    const THandle fd = FileOpen(path, fmOpenRead);
    if (fd == INVALID_HANDLE_VALUE) return false;
    std::string data;
    char piece[65536];
    bool ok = true;
    for (;;) {
        const int n = FileRead(fd, piece, static_cast<int>(sizeof piece));
        if (n == 0) break;
        if (n < 0) {
            ok = false;
            break;
        }
        data.append(piece, static_cast<std::size_t>(n));
    }
    FileClose(fd);
    if (ok) content = std::move(data);
    return ok;
}

bool WriteWholeFile(const std::string& path, std::string_view content) {
    const int fd = OpenOs(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, content);
    return CloseChecked(fd) && written;
}

// The temporary file takes the target's permissions when the target exists,
// reaches the disk before the rename, and is removed on every failure. A
// target that may not be written (read-only, or not ours to write) is
// refused as an in-place write would be: the rename must not get around it.
bool WriteFileAtomic(const std::string& path, std::string_view content) {
    const std::string target = ToOsPath(path);
    struct stat st {};
    const bool exists = stat(target.c_str(), &st) == 0;
    if (exists && ((st.st_mode & S_IWUSR) == 0 || access(target.c_str(), W_OK) != 0)) return false;
    const std::string temporary = TemporaryNameFor(target, ".tmp");
    const int fd = OpenOs(temporary, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) return false;
    bool ok = true;
    if (exists) ok = fchmod(fd, st.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd, content) && fsync(fd) == 0;
    ok = CloseChecked(fd) && ok;
    ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool WriteFully(int fd, std::string_view content, std::size_t& done) {
    done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool AppendWhole(int fd, std::string_view content) {
    std::size_t done = 0;
    const bool written = WriteFully(fd, content, done);
    if (!written && done > 0) TakeBackAppend(fd, done);
    return written;
}

bool AppendToFile(const std::string& path, std::string_view content) {
    const int fd = OpenOs(path, O_WRONLY | O_CREAT | O_APPEND);
    if (fd < 0) return false;
    const bool written = AppendWhole(fd, content);
    return CloseChecked(fd) && written;
}

THandle FileCreate(const std::string& path) { return OpenOs(path, O_RDWR | O_CREAT | O_TRUNC); }

// A folder cannot be opened as a file, as on the host.
THandle FileOpen(const std::string& path, int mode) {
    int flags = O_RDONLY;
    if ((mode & 3) == fmOpenWrite) flags = O_WRONLY;
    if ((mode & 3) == fmOpenReadWrite) flags = O_RDWR;
    const int fd = OpenOs(path, flags);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return fd;
}

int FileRead(THandle handle, void* buffer, int count) {
    if (count <= 0) return 0;
    for (;;) {
        const ssize_t n = read(handle, buffer, static_cast<std::size_t>(count));
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return -1;
    }
}

int FileWrite(THandle handle, const void* buffer, int count) {
    if (count <= 0) return 0;
    for (;;) {
        const ssize_t n = write(handle, buffer, static_cast<std::size_t>(count));
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return -1;
    }
}

std::int64_t FileSeek(THandle handle, std::int64_t offset, int origin) {
    const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    return static_cast<std::int64_t>(lseek(handle, static_cast<off_t>(offset), whence));
}

void FileClose(THandle handle) {
    if (handle >= 0) close(handle);
}
