#pragma once
// Starting a program without a window, with an environment of the caller's
// choice (the process's own environment otherwise stays untouched).
#include <string>
#include <vector>

// Like WinExecHidden: detached (new session, standard streams on /dev/null,
// no other descriptors inherited). arguments[0] is the program's path (in
// Windows or OS form) and also its argv[0]; every element reaches the
// program as one argument, blanks and all. environment holds NAME=value
// strings. False when the program could not be started.
bool SpawnDetached(const std::vector<std::string>& arguments, const std::vector<std::string>& environment);
