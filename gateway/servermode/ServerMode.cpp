// Server-mode unit: its process-wide state, the server's files and the
// predicates that tell a server launch and a living server.
#include "gateway/servermode/ServerMode.h"

#include <cstdlib>
#include <vector>

#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/ProcessRole.h"
#include "gateway/servermode/ServerModeInternal.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Spawn.h"
#include "platform/SysUtils.h"
#include "platform/Threads.h"
#include "platform/WindowTitle.h"

std::atomic<bool> IsServerProcess{false};

namespace {
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string BareNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Names of the variables that make an environment carry a request; the
// started server must not inherit them.
bool IsRequestVariable(const std::string& entry) {
    static const char* const names[] = {
        "AUTH_TYPE",      "CONTENT_LENGTH", "CONTENT_TYPE",    "GATEWAY_INTERFACE", "PATH_INFO",
        "PATH_TRANSLATED", "QUERY_STRING",  "REMOTE_ADDR",     "REMOTE_HOST",       "REMOTE_IDENT",
        "REMOTE_USER",    "REQUEST_METHOD", "REQUEST_URI",     "SCRIPT_NAME",       "SCRIPT_FILENAME",
        "SERVER_NAME",    "SERVER_PORT",    "SERVER_PROTOCOL", "SERVER_SOFTWARE",   "CGI_VERSION"};
    const std::string name = entry.substr(0, entry.find('='));
    if (StartsText("HTTP_", name)) return true;
    for (const char* candidate : names)
        if (name == candidate) return true;
    return false;
}
}  // namespace

std::string ServerFolder() {
    const std::string dir = ServerConstants::DefaultTempDir;
    if (HasDrive(dir)) return dir;
    return FolderOf(ExecutableFileName()) + "\\" + dir;
}

std::string ServerFilePrefix() { return ServerFolder() + "\\" + BareNameOf(ExecutableFileName()) + "_"; }

std::string AliveFileName() { return ServerFilePrefix() + "s"; }

std::string ServerWindowTitle() { return BareNameOf(ExecutableFileName()) + "_S"; }

bool IsServerLaunch() {
    const TProcessRole role = ProcessRole();
    return role == TProcessRole::ResidentServer || role == TProcessRole::ConsoleServer;
}

bool ServerLaunchRequested() {
    if (ParamCount() == 2) {
        bool requestInEnvironment = false;
        GetEnv("REQUEST_METHOD", &requestInEnvironment);
        return !requestInEnvironment && Trim(ParamStr(1)) == "$$START_SERVER";
    }
    return GetEnvVariable("SERVER_SOFTWARE").empty() && ParamCount() == 0;
}

bool IsServerRunning() {
    if (IsServerProcess.load()) return true;
    TSearchRec info;
    if (FindFileInfo(AliveFileName(), faAnyFile, info) != 0) return false;
    const double freshness = ConsoleBuild ? ServerConstants::AliveSecondsConsole : ServerConstants::AliveSeconds;
    if (info.Time <= Now() - freshness * OneSecond) return false;
    // A server that was killed leaves a fresh alive file behind, but the
    // process it published has ended: a request handed to it would be lost.
    return FindWindowTitle(ServerFolder(), ServerWindowTitle()) != TWindowState::wsGone;
}

void PurgeFiles(const std::string& pattern, TDateTime limit) {
    const std::string folder = FolderOf(pattern);
    std::vector<std::string> doomed;
    TSearchRec rec;
    for (int found = FindFirst(pattern, faAnyFile, rec); found == 0; found = FindNext(rec))
        if ((rec.Attr & faDirectory) == 0 && rec.Time < limit) doomed.push_back(folder + "\\" + rec.Name);
    FindClose(rec);
    for (const auto& file : doomed) DeleteFileWithRetries(file);
}

void DeleteFileWithRetries(const std::string& file) {
    for (int attempt = 1; attempt <= ServerConstants::DeleteTries; ++attempt) {
        if (DeleteFile(file) || !FileExists(file)) return;
        Sleep(ServerConstants::DeleteRetryMs);
    }
}

bool RenameWithRetries(const std::string& from, const std::string& to, int tries, int pauseMs) {
    for (int attempt = 1; attempt <= tries; ++attempt) {
        if (RenameFile(from, to)) return true;
        if (attempt < tries) Sleep(static_cast<std::uint32_t>(pauseMs));
    }
    return false;
}

void StartServer() {
    IsServerProcess.store(true);
    CreateDir(ServerFolder());
    const bool earlierServer = FileExists(AliveFileName());
    PurgeFiles(ServerFilePrefix() + "*", Now() + 1.0);
    if (earlierServer) Sleep(ServerConstants::AfterClearingMs);
    const THandle alive = FileCreate(AliveFileName());
    if (alive != INVALID_HANDLE_VALUE) FileClose(alive);
    FileSetDateTime(AliveFileName(), Now());
}

bool StartServerProcess() {
    std::vector<std::string> environment;
    for (const auto& entry : EnvironmentStrings())
        if (!IsRequestVariable(entry)) environment.push_back(entry);
    return WinExecHiddenWithEnvironment(ParamStr(0) + " $$START_SERVER X", environment);
}

void ServerModeStartup() {
    IsServerProcess.store(false);
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(ServerModeFinalization);
    }
}

void ServerModeFinalization() {
    const TProcessRole role = ProcessRole();
    if (role == TProcessRole::ConsoleServer) PurgeFiles(AliveFileName(), Now() + 1.0);
    if (role != TProcessRole::ResidentServer) return;
    PurgeFiles(ServerFilePrefix() + "*", Now() + 1.0);
    PurgeFiles(ExecutableFileName() + "_*", Now() + 1.0);
    ClearWindowTitle(ServerFolder(), ServerWindowTitle());
}
