#pragma once
// Close, quit and system-command messages for the application window, as
// SIGTERM, SIGINT and SIGHUP arrive. The handler only records the message
// in an atomic (async-signal-safe) and writes one byte to a self-pipe, so a
// poller can wake on it. Messages are looked at, not removed: the first one
// recorded stays first until ClearStopMessage.
constexpr int WM_CLOSE = 16;
constexpr int WM_QUIT = 18;
constexpr int WM_SYSCOMMAND = 274;

// Installs the handlers once per process; later calls do nothing.
void InstallStopSignals();
// The first stop message that arrived (16, 18 or 274), or 0.
[[nodiscard]] int PeekStopMessage();
void ClearStopMessage();
// Read end of the self-pipe (-1 before InstallStopSignals), for a message
// loop that polls descriptors.
int StopSignalDescriptor();
