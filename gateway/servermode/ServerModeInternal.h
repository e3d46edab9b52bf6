#pragma once
// Shared by the server-mode sources (and their tests): the protocol's fixed
// values and the file operations with their retry rules.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// The steady clock's time the given number of seconds from now: the bound of
// a wait.
inline std::chrono::steady_clock::time_point DeadlineAfter(double seconds) {
    return std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                   std::chrono::duration<double>(seconds));
}

namespace ServerConstants {
inline constexpr const char* DefaultTempDir = ".\\temp";  // server folder, beside the executable
inline constexpr std::uint32_t HeartbeatMs = 5000;        // tick thread touches the alive file
inline constexpr double AliveSeconds = 30;                 // alive file fresher than this: server alive
inline constexpr double AliveSecondsConsole = 6;
inline constexpr int ClientLimit = 10;                     // further server files that refuse a client
inline constexpr double ResponseWaitSeconds = 180;         // client waits at most this long
inline constexpr std::uint32_t PollMs = 50;                // server loop, windowed client
inline constexpr std::uint32_t PollMsConsole = 100;        // console client
inline constexpr int ClaimTries = 10;                      // rename "req" to "cnf"
inline constexpr int ClaimRetryMs = 50;
inline constexpr int PublishTries = 10;                    // rename "ind" to "rsp"
inline constexpr int PublishRetryMs = 20;
inline constexpr int DeleteTries = 11;
inline constexpr std::uint32_t DeleteRetryMs = 50;
inline constexpr std::uint32_t AfterDispatchMs = 20;       // pause after each dispatched request
inline constexpr double StaleSeconds = 15 * 60;            // a leftover file of the server
inline constexpr std::uint32_t StalePurgeEveryMs = 5000;   // the server looks for stale files
inline constexpr double FinishRequestsSeconds = 30;        // a stopping server lets its requests run
inline constexpr double HaltSeconds = 40;                  // then its tick thread ends the process
inline constexpr std::uint32_t AfterClearingMs = 500;      // after clearing an old server's files
inline constexpr std::uint32_t StdStartDelayMs = 600;      // after starting a server process
inline constexpr std::uint32_t WinStartDelayMs = 666;
inline constexpr std::uint32_t WatchDogPollMs = 50;
inline constexpr double HeaderLineSeconds = 30;            // deadline per header entry (and body block)
inline constexpr std::uint32_t ResponseOpenRetryMs = 500;  // one more try to open the response
}  // namespace ServerConstants

// Executable's file name + "_S": the title the windowed server publishes.
std::string ServerWindowTitle();
// Deletes a file, trying 11 times in all, 50 ms apart, unless it has gone.
void DeleteFileWithRetries(const std::string& file);
// True when the rename succeeded within tries attempts pauseMs apart.
bool RenameWithRetries(const std::string& from, const std::string& to, int tries, int pauseMs);

// Ends this process (exit code 1) with "Server mode - A resident server is
// already running" on standard error and in the gateway log.
[[noreturn]] void EndSecondServer();

// A server file (folder included) and its modification time in UTC seconds.
struct TServerFile {
    std::string Path;
    double Modified = 0;
};
// The files prefix + mask (folders left out), oldest first, ties by name.
std::vector<TServerFile> ListServerFiles(const std::string& mask);
// Age of the alive file in seconds, negative when there is none.
double AliveAgeSeconds();
// Deletes what is left of the server's files when it stops: everything but
// the requests that wait unclaimed, which their clients take back.
void PurgeServerFiles();
// The stale purge of the resident server: its own files (whatever the
// program's name) older than 15 minutes, and responses nobody collected
// once the clients' 180 s wait has passed. The alive file stays.
void PurgeStaleFiles();
// Claims a request file (prefix + id + "_REQ") by renaming it to its
// "_cnf" name: true when this process now holds it. A file another process
// took first is given up at once.
[[nodiscard]] bool ClaimRequest(const std::string& requestFile);
// Claims the oldest waiting request; its base (prefix + id + "_"), or ""
// when none waits.
std::string ClaimOldestRequest();
