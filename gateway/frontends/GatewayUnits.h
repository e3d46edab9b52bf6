#pragma once
// The start of the gateway's units, in dependency order: the engine core,
// the in-process front end, the server mode, the Windows CGI front end, the
// standard CGI front end and the selecting component. main() (or the
// library's load routine) calls it once, after InitProcess and before any
// form exists. A CGI process that finds a resident server alive
// hands its request over in here and never returns.
void StartGatewayUnits();

// Confines the process to the folders it works in (platform/Landlock.h):
// the executable's folder, the gateway log's folder (CGI_LOG_DIR), the
// genre-page folders beside the executable's folder, the folder of a file
// named on the command line (a Windows CGI data file's); the executable may
// be started again (a resident server's launch). main() calls it right after
// InitProcess; on a kernel without Landlock nothing changes.
void ConfineToProgramFolder();
