#pragma once
// A top-level window title that another process must find. The owner
// publishes it as a file named "window-" + title in a folder of its choice,
// holding its process id and the process's start time; a window with that
// title exists while the file exists and that very process lives (an id
// used again by a later process does not count). The name never begins
// with the title itself, so listings of files that begin with it do not see
// the file.
#include <string>

enum class TWindowState {
    wsAbsent,   // no such title published
    wsPresent,  // published by a living process
    wsGone      // published by a process that has ended
};

std::string WindowTitleFile(const std::string& folder, const std::string& title);
// Makes this process the only one that may own the title: an exclusive lock
// on the file "window-" + title + ".lock", held until ReleaseWindowTitle or
// the end of the process (however it ends). True when this process holds it
// (also when it already did); false when another process does.
[[nodiscard]] bool ClaimWindowTitle(const std::string& folder, const std::string& title);
void ReleaseWindowTitle(const std::string& folder, const std::string& title);
// Publishes (or re-publishes) the title for this process. False when the
// file cannot be written.
bool SetWindowTitle(const std::string& folder, const std::string& title);
// Removes the title when this process published it, and releases its claim.
void ClearWindowTitle(const std::string& folder, const std::string& title);
// Refreshes the file's modification time (so age-based cleaners spare it).
void TouchWindowTitle(const std::string& folder, const std::string& title);
[[nodiscard]] TWindowState FindWindowTitle(const std::string& folder, const std::string& title);
