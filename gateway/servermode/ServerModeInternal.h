#pragma once
// Shared by the server-mode sources only: the protocol's fixed values and
// the file operations with their retry rules.
#include <cstdint>
#include <string>

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
inline constexpr double StaleDays = 1.0 / 96;              // 15 minutes
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
