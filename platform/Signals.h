#pragma once
// SIGTERM, SIGINT and SIGHUP become the close, quit and system-command
// messages (16, 18, 274) of the application window: the handler posts them
// through the main queue's self-pipe, where PeekMessage and ProcessMessages
// on the main thread find them.
#include "platform/MessageLoop.h"

// Installs the handlers once per process; later calls do nothing. False
// when signal posting could not be prepared (the handlers are then not
// installed and the signals keep their default action).
bool InstallStopSignals();
// Gives SIGTERM, SIGINT and SIGHUP their default action back (a process
// that stops waiting and serves a request itself is ended by them again).
void RestoreStopSignals();
// True when the first message waiting for the application window among the
// messages 0 to 1023 is a close, quit or system-command message. Looks,
// does not remove.
[[nodiscard]] bool StopMessageWaiting();
