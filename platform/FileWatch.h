#pragma once
// Waiting for files that other processes complete in a folder. A folder
// watch is an inotify descriptor that joins the message loop's wait of the
// thread that made it: WaitForFolderChange returns as soon as a name is
// renamed into the folder or removed from it (or a message arrives), and
// after the bound at the latest, so callers keep polling at their interval
// as a safety net and where inotify is unavailable. File times for ages
// and order are given in UTC seconds, which no clock change moves.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/MessageLoop.h"

class TFolderWatch : public TDescriptorWatch {
public:
    // folder in Windows or OS form.
    explicit TFolderWatch(const std::string& folder);
    ~TFolderWatch() override;
    TFolderWatch(const TFolderWatch&) = delete;
    TFolderWatch& operator=(const TFolderWatch&) = delete;

    // False when inotify could not watch the folder (no descriptor, watches
    // exhausted): waits then take their whole bound.
    [[nodiscard]] bool Active() const { return watch_ >= 0; }

    int Descriptor() const override { return fd_; }
    unsigned WantedEvents() override { return Active() ? kPollRead : 0; }
    void Ready(unsigned events) override;

private:
    int fd_ = -1;
    int watch_ = -1;
    std::unique_ptr<THiddenWindow> owner_;
};

// Waits at most boundMilliseconds for a change in the watched folder or a
// message for the calling thread, then delivers what is waiting.
void WaitForFolderChange(TFolderWatch& watch, std::uint32_t boundMilliseconds);

// Seconds since 1970-01-01 UTC, now and as a file's modification time
// (false when the file is absent).
double UtcSecondsNow();
[[nodiscard]] bool FileModifiedUtc(const std::string& path, double& seconds);
