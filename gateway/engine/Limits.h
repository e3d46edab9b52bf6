#pragma once
// The settings and limits of the engine and its front ends, in one table.
// Each limit says what happens at it: refused, cut or skipped.
#include <cstddef>
#include <cstdint>

#include "platform/Process.h"

// Build-time settings of the engine library.
namespace EngineSettings {
inline constexpr bool LogExceptions = true;
inline constexpr bool ShowExceptions = true;
// The console build's front end: the start-up prepares the process's
// request, RunConsoleRequest serves and finishes it (adding the content
// length then, not after the handlers), and the process ends normally, its
// forms left to the program's end.
inline constexpr bool ConsoleFrontEnd = ConsoleBuild;
// A body read that receives nothing for this long is given up (by the
// watchdog ending the process, or by ReadContent itself where no watchdog
// runs).
inline constexpr std::uint32_t BodyReadTimeoutMs = 30000;
// How often the watchdog looks at its deadline.
inline constexpr std::uint32_t WatchDogIntervalMs = 2000;
// The gateway log folder, relative to the executable's folder.
inline constexpr const char* DefaultLogDir = ".\\log";
}  // namespace EngineSettings

namespace EngineLimits {
// Bytes read from the client per call, and per step when a stream is copied
// (into the output buffer, or into a hand-off's request file); a longer body
// is read in pieces.
inline constexpr int ReadPiece = 1032;
// The body grows by at most this much per read, so an announced length that
// never arrives costs no more memory than the bytes that did.
inline constexpr int BodyPiece = 64 * 1024;
// Cut: the text after "HTTP/1.x " that a "Status:" line carries.
inline constexpr std::size_t StatusTextMax = 1032;
// Skipped: an environment variable whose name or value is longer counts as
// absent.
inline constexpr std::size_t EnvironmentNameMax = 255;
inline constexpr std::size_t EnvironmentValueMax = 4095;
// Request tags in log lines are drawn below this.
inline constexpr std::uint32_t RequestIdRange = 10000;
// Refused: a hand-off client that draws this many ids already taken gives
// up ("Server mode - No free client id").
inline constexpr int ClientIdDraws = 10000;
}  // namespace EngineLimits

// The in-process front end's bounds.
namespace IsapiLimits {
// Cut: a server variable is asked for with a buffer that starts here, grows
// by the step while the server fills it, and never passes the largest.
inline constexpr std::size_t VariableBufferStart = 512;
inline constexpr std::size_t VariableBufferStep = 512;
inline constexpr std::size_t VariableBufferMax = 1024 * 1024;
// Largest ReadClient request of one call (0x7E82); a longer read takes
// several calls.
inline constexpr int ReadPieceMax = 32386;
// Cut: a redirect location longer than 1024 characters (the buffer holds
// them and the NUL).
inline constexpr std::size_t RedirectBufferSize = 1025;
}  // namespace IsapiLimits

// The body-read inactivity timeout in effect; EngineSettings::BodyReadTimeoutMs
// unless a test shortened it.
std::uint32_t BodyReadTimeoutMs();
// For tests only: shortens (or restores, with 0) the body-read timeout so the
// watchdog and the stalled-read bound can be seen within a test's time.
void SetBodyReadTimeoutForTesting(std::uint32_t milliseconds);
