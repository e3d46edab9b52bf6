// Server-mode unit: its process-wide state, the server's files and the
// predicates that tell a server launch and a living server.
#include "gateway/servermode/ServerMode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/ProcessRole.h"
#include "gateway/servermode/ServerModeInternal.h"
#include "platform/FileWatch.h"
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
    // A process with a request in its environment was not started by hand,
    // whatever its SERVER_SOFTWARE says.
    bool requestInEnvironment = false;
    GetEnv("REQUEST_METHOD", &requestInEnvironment);
    if (requestInEnvironment) return false;
    if (ParamCount() == 2) return Trim(ParamStr(1)) == "$$START_SERVER";
    return GetEnvVariable("SERVER_SOFTWARE").empty() && ParamCount() == 0;
}

double AliveAgeSeconds() {
    double modified = 0;
    if (!FileModifiedUtc(AliveFileName(), modified)) return -1;
    return std::max(0.0, UtcSecondsNow() - modified);
}

bool IsServerRunning() {
    if (IsServerProcess.load()) return true;
    const double age = AliveAgeSeconds();
    const double freshness = ConsoleBuild ? ServerConstants::AliveSecondsConsole : ServerConstants::AliveSeconds;
    if (age < 0 || age >= freshness) return false;
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

void EndSecondServer() {
    const std::string message = "Server mode - A resident server is already running";
    std::fprintf(stderr, "%s\n", message.c_str());
    HttpLog(message);
    HaltProcess(1);
}

std::vector<TServerFile> ListServerFiles(const std::string& mask) {
    std::vector<TServerFile> files;
    TSearchRec rec;
    for (int found = FindFirst(ServerFilePrefix() + mask, faAnyFile, rec); found == 0; found = FindNext(rec)) {
        if ((rec.Attr & faDirectory) != 0) continue;
        TServerFile file{ServerFolder() + "\\" + rec.Name, 0};
        if (FileModifiedUtc(file.Path, file.Modified)) files.push_back(std::move(file));
    }
    FindClose(rec);
    std::sort(files.begin(), files.end(), [](const TServerFile& a, const TServerFile& b) {
        return a.Modified != b.Modified ? a.Modified < b.Modified : a.Path < b.Path;
    });
    return files;
}

namespace {
bool EndsWithText(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() && SameText(text.substr(text.size() - suffix.size()), std::string(suffix));
}
}  // namespace

void PurgeServerFiles() {
    for (const TServerFile& file : ListServerFiles("*"))
        if (!EndsWithText(file.Path, "_req")) DeleteFileWithRetries(file.Path);
}

void PurgeStaleFiles() {
    const double now = UtcSecondsNow();
    const std::string alive = AliveFileName();
    for (const TServerFile& file : ListServerFiles("*")) {
        if (SameText(file.Path, alive)) continue;
        const double limit =
            EndsWithText(file.Path, "_rsp") ? ServerConstants::ResponseWaitSeconds : ServerConstants::StaleSeconds;
        if (now - file.Modified > limit) DeleteFileWithRetries(file.Path);
    }
}

bool ClaimRequest(const std::string& requestFile) {
    const std::string claimed = requestFile.substr(0, requestFile.size() - 3) + "cnf";
    for (int attempt = 1; attempt <= ServerConstants::ClaimTries; ++attempt) {
        if (RenameFile(requestFile, claimed)) return true;
        // Another server, or the client taking it back, was first.
        if (!FileExists(requestFile)) return false;
        if (attempt < ServerConstants::ClaimTries) Sleep(static_cast<std::uint32_t>(ServerConstants::ClaimRetryMs));
    }
    return false;
}

std::string ClaimOldestRequest() {
    for (const TServerFile& file : ListServerFiles("*_req"))
        if (ClaimRequest(file.Path)) return file.Path.substr(0, file.Path.size() - 3);
    return {};
}

void StartServer() {
    CreateDir(ServerFolder());
    // Before anything of an earlier server is cleared: a living one keeps
    // its files and its requests.
    if (!ClaimWindowTitle(ServerFolder(), ServerWindowTitle())) EndSecondServer();
    IsServerProcess.store(true);
    // The clients of an earlier server that ended get a moment to take back
    // what it had claimed; the requests still waiting are served here.
    if (FileExists(AliveFileName())) Sleep(ServerConstants::AfterClearingMs);
    PurgeServerFiles();
    const THandle alive = FileCreate(AliveFileName());
    if (alive != INVALID_HANDLE_VALUE) FileClose(alive);
    FileSetDateTime(AliveFileName(), Now());
}

bool StartServerProcess() {
    std::vector<std::string> environment;
    for (const auto& entry : EnvironmentStrings())
        if (!IsRequestVariable(entry)) environment.push_back(entry);
    return SpawnDetached({ParamStr(0), "$$START_SERVER", "X"}, environment);
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
    // Only the process that became the server: a second launch that ended
    // leaves the running server's files alone.
    if (!IsServerProcess.load()) return;
    const TProcessRole role = ProcessRole();
    if (role == TProcessRole::ConsoleServer) PurgeFiles(AliveFileName(), Now() + 1.0);
    if (role != TProcessRole::ResidentServer) return;
    PurgeServerFiles();
    PurgeFiles(ExecutableFileName() + "_*", Now() + 1.0);
    ClearWindowTitle(ServerFolder(), ServerWindowTitle());
}
