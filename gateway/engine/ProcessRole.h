#pragma once
// What this process is. The environment, the command line and the resident
// server's alive file decide it once, at the gateway's start-up; every later
// question ("is this a Windows CGI request?", "does the host own the
// process?") reads the decision instead of looking again.
#include <cstdint>

#include "gateway/engine/Limits.h"

enum class TProcessRole : std::uint8_t {
    // No request of ours: started with arguments that name none, or a test.
    None,
    // The web server's request: variables in the environment, the body on
    // standard input, the answer on standard output.
    StandardCgi,
    // The request in the data file named on the command line; the answer
    // goes to the output file it names.
    WindowsCgi,
    // A CGI request that a living resident server serves: the process hands
    // it over and copies the answer back.
    HandOffClient,
    // Started by hand, or launched by a client: serves request files until
    // its alive file goes.
    ResidentServer,
    // The console build's resident server: one request file per process.
    ConsoleServer,
    // Loaded into a host server: requests arrive on the host's threads
    // through the exported entry points, and the process is the host's.
    Extension,
};

// The decided role; decided on first use when the start-up has not run.
[[nodiscard]] TProcessRole ProcessRole();
// Decides the role afresh and keeps it: the gateway's start-up calls it
// once, a test after changing the environment. Defined with the front ends,
// which know what a request looks like.
TProcessRole DecideProcessRole();
// Keeps a role decided elsewhere (the front ends' decision).
void SetProcessRole(TProcessRole role);

// The process belongs to a host server: no watchdog, no process end, and
// every thread serves request after request.
[[nodiscard]] inline bool InHostProcess() { return ProcessRole() == TProcessRole::Extension; }

// The console build's front end serves this process's request and finishes
// it itself (RunConsoleRequest); a host's requests are finished by the
// engine, as in any build.
[[nodiscard]] inline bool ConsoleFinishesRequest() { return EngineSettings::ConsoleFrontEnd && !InHostProcess(); }
