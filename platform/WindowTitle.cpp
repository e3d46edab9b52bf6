#include "platform/WindowTitle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"

std::string WindowTitleFile(const std::string& folder, const std::string& title) {
    return folder + "\\window-" + title;
}

namespace {
// Descriptors of the lock files this process holds, by lock file.
std::mutex claimsLock;
std::map<std::string, int>& Claims() {
    static std::map<std::string, int> claims;
    return claims;
}

struct TPublished {
    int Pid = 0;                     // 0: absent or unreadable, -1: not a process id
    unsigned long long Started = 0;  // 0: not recorded
};

TPublished Published(const std::string& file) {
    std::string content;
    if (!ReadWholeFile(file, content)) return {};
    const std::size_t blank = content.find(' ');
    const std::int32_t pid = StrToIntDef(content.substr(0, blank), 0);
    if (pid <= 0) return {-1, 0};
    TPublished published{pid, 0};
    if (blank != std::string::npos) published.Started = std::strtoull(content.c_str() + blank + 1, nullptr, 10);
    return published;
}
}  // namespace

bool ClaimWindowTitle(const std::string& folder, const std::string& title) {
    const std::string file = ToOsPath(WindowTitleFile(folder, title) + ".lock");
    std::lock_guard guard(claimsLock);
    if (Claims().count(file) != 0) return true;
    // Read access suffices for the lock, also on a file another user made.
    const int fd = open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    Claims()[file] = fd;
    return true;
}

void ReleaseWindowTitle(const std::string& folder, const std::string& title) {
    const std::string file = ToOsPath(WindowTitleFile(folder, title) + ".lock");
    std::lock_guard guard(claimsLock);
    auto it = Claims().find(file);
    if (it == Claims().end()) return;
    close(it->second);
    Claims().erase(it);
}

bool SetWindowTitle(const std::string& folder, const std::string& title) {
    const int pid = CurrentProcessId();
    return WriteFileAtomic(WindowTitleFile(folder, title), IntToStr(pid) + " " + std::to_string(ProcessStartTime(pid)));
}

void ClearWindowTitle(const std::string& folder, const std::string& title) {
    const std::string file = WindowTitleFile(folder, title);
    if (Published(file).Pid == CurrentProcessId()) DeleteFile(file);
    ReleaseWindowTitle(folder, title);
}

void TouchWindowTitle(const std::string& folder, const std::string& title) {
    FileSetDateTime(WindowTitleFile(folder, title), Now());
}

TWindowState FindWindowTitle(const std::string& folder, const std::string& title) {
    const TPublished published = Published(WindowTitleFile(folder, title));
    if (published.Pid == 0) return TWindowState::wsAbsent;
    if (published.Pid < 0 || !ProcessAlive(published.Pid)) return TWindowState::wsGone;
    // A process whose start cannot be looked at counts by its id alone.
    const unsigned long long started = published.Started != 0 ? ProcessStartTime(published.Pid) : 0;
    return started != 0 && started != published.Started ? TWindowState::wsGone : TWindowState::wsPresent;
}
