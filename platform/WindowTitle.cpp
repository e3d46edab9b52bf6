#include "platform/WindowTitle.h"

#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"

std::string WindowTitleFile(const std::string& folder, const std::string& title) {
    return folder + "\\window-" + title;
}

bool SetWindowTitle(const std::string& folder, const std::string& title) {
    return WriteFileAtomic(WindowTitleFile(folder, title), IntToStr(CurrentProcessId()));
}

namespace {
// The pid the file holds, or 0 when it is absent or unreadable.
int PublishedPid(const std::string& file) {
    std::string content;
    if (!ReadWholeFile(file, content)) return 0;
    const std::int32_t pid = StrToIntDef(content, 0);
    return pid > 0 ? pid : -1;
}
}  // namespace

void ClearWindowTitle(const std::string& folder, const std::string& title) {
    const std::string file = WindowTitleFile(folder, title);
    if (PublishedPid(file) == CurrentProcessId()) DeleteFile(file);
}

void ClearDeadWindowTitle(const std::string& folder, const std::string& title) {
    if (FindWindowTitle(folder, title) == TWindowState::wsGone) DeleteFile(WindowTitleFile(folder, title));
}

void TouchWindowTitle(const std::string& folder, const std::string& title) {
    FileSetDateTime(WindowTitleFile(folder, title), Now());
}

TWindowState FindWindowTitle(const std::string& folder, const std::string& title) {
    const int pid = PublishedPid(WindowTitleFile(folder, title));
    if (pid == 0) return TWindowState::wsAbsent;
    return pid > 0 && ProcessAlive(pid) ? TWindowState::wsPresent : TWindowState::wsGone;
}
