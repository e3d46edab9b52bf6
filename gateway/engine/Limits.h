#pragma once
// The engine's and the front ends' settings and limits, in one place.
#include <cstdint>

// Build-time settings of the engine library.
namespace EngineSettings {
constexpr bool LogExceptions = true;
constexpr bool ShowExceptions = true;
// A body read that receives nothing for this long is given up (by the
// watchdog ending the process, or by ReadContent itself where no watchdog
// runs).
constexpr std::uint32_t BodyReadTimeoutMs = 30000;
// How often the watchdog looks at its deadline.
constexpr std::uint32_t WatchDogIntervalMs = 2000;
// The gateway log folder, relative to the executable's folder.
constexpr const char* DefaultLogDir = ".\\log";
// Largest piece in which the body is read and streams are copied.
constexpr int PieceSize = 1032;
}  // namespace EngineSettings

// The body-read inactivity timeout in effect; EngineSettings::BodyReadTimeoutMs
// unless a test shortened it.
std::uint32_t BodyReadTimeoutMs();
// For tests only: shortens (or restores, with 0) the body-read timeout so the
// watchdog and the stalled-read bound can be seen within a test's time.
void SetBodyReadTimeoutForTesting(std::uint32_t milliseconds);
