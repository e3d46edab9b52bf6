#include "platform/FileWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "platform/Files.h"

TFolderWatch::TFolderWatch(const std::string& folder) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    // A name renamed into place (a completed file), and a name that goes.
    watch_ = inotify_add_watch(fd_, ToOsPath(folder).c_str(), IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR);
    if (watch_ < 0) return;
    owner_ = std::make_unique<THiddenWindow>(nullptr);
    if (!AddWatch(owner_->Handle(), this)) watch_ = -1;
}

TFolderWatch::~TFolderWatch() {
    RemoveWatch(this);
    owner_.reset();
    if (fd_ >= 0) close(fd_);
}

void TFolderWatch::Ready(unsigned) {
    // Only that something happened counts: the events are read and dropped.
    alignas(inotify_event) char buffer[4096];
    for (int round = 0; round < 64; ++round)
        if (read(fd_, buffer, sizeof buffer) <= 0) return;
}

void WaitForFolderChange(TFolderWatch& watch, std::uint32_t boundMilliseconds) {
    static_cast<void>(watch);
    WaitMessage(boundMilliseconds);
    ProcessMessages();
}

double UtcSecondsNow() {
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool FileModifiedUtc(const std::string& path, double& seconds) {
    struct stat st {};
    if (stat(ToOsPath(path).c_str(), &st) != 0) return false;
    seconds = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
    return true;
}
