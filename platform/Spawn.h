#pragma once
// Starting a program without a window, with an environment of the caller's
// choice (the process's own environment otherwise stays untouched).
#include <string>
#include <vector>

// Like WinExecHidden: detached (new session, standard streams on /dev/null,
// no other descriptors inherited), the first word of commandLine is the
// program and the line is split at blanks; environment holds NAME=value
// strings. False when the program could not be started.
bool WinExecHiddenWithEnvironment(const std::string& commandLine, const std::vector<std::string>& environment);
