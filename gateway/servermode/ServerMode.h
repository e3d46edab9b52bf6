#pragma once
// The resident server and the hand-off of requests to it. A long-lived
// process of the program (started by hand: no arguments, no SERVER_SOFTWARE)
// polls a folder beside the executable for request files; every short-lived
// CGI process of the same program that finds it alive writes its request
// there, waits for the response file and copies it to its own output.
// Files are the only channel: their names, renames, existence and times.
//
// Files, every name beginning with ServerFilePrefix() (one spelling on both
// sides; listings match without regard to case):
//   prefix + "s"              alive file, touched every 5 s by the server
//   prefix + id + "_wrt"      request being written by the client
//   prefix + id + "_REQ"      complete request (renamed from "_wrt")
//   prefix + id + "_cnf"      claimed by the server (renamed from "_REQ")
//   prefix + id + "_ind"      response being written by the server
//   prefix + id + "_rsp"      complete response (renamed from "_ind")
// Both sides wait for these files with a folder watch (platform/FileWatch.h)
// and poll at the intervals below as well.
// Request file: every server-variable entry + CR LF, one empty line, then
// exactly CONTENT_LENGTH bytes of body. Response file: the CGI output.
#include <atomic>
#include <string>

#include "gateway/frontends/HttpCGIEngine.h"
#include "platform/DateTime.h"

class TStream;
class TStringList;
class THttpCGIEngine;

// Start-up routine of the server-mode unit: IsServerProcess := false. It
// registers the unit's end routine (ServerModeFinalization) to run at the
// normal program end, so the caller only calls this, once, before the
// Windows CGI unit's start-up (CGIWEngStartup).
void ServerModeStartup();
// The unit's end routine: a process that counts as a server launch removes
// the server's files (console build: only the alive file).
void ServerModeFinalization();

// True once this process has become the resident server.
extern std::atomic<bool> IsServerProcess;

// Folder of every server-mode file, without trailing backslash
// (executable's folder + "\.\temp").
std::string ServerFolder();
// Folder + "\" + executable's file name + "_".
std::string ServerFilePrefix();
// Name of the alive file: prefix + "s".
std::string AliveFileName();

// This process is the resident server (or the console build's): its role,
// decided at start-up from ServerLaunchRequested.
[[nodiscard]] bool IsServerLaunch();
// The command line and environment ask for the resident server: no
// SERVER_SOFTWARE, no arguments and no request in the environment
// (REQUEST_METHOD unset), or exactly two arguments of which the first,
// trimmed, is "$$START_SERVER" (again only without REQUEST_METHOD: a
// request's arguments may come from the client's query string). Read once,
// by the role's decision (a library in a host is never asked).
[[nodiscard]] bool ServerLaunchRequested();
// A resident server is alive: this process is one, or the alive file was
// touched less than 30 s ago (6 s in a console build) and the process that
// published the server window has not ended.
[[nodiscard]] bool IsServerRunning();

// Deletes every file matching pattern whose modification time is before
// limit (folders are left alone). A file that cannot be deleted is tried
// 11 times in all, 50 ms apart; one that has vanished meanwhile is not.
void PurgeFiles(const std::string& pattern, TDateTime limit);
// Becomes the resident server: clears the files of any earlier server but
// the requests still waiting (they are served next) and creates a fresh
// alive file. Only one process may be the server of an
// install: when another one is, this process ends with a message and exit
// code 1.
void StartServer();

// Starts this program as a resident server without a window: its path (one
// argument, blanks and all), "$$START_SERVER" and "X", with the request's
// CGI variables removed from the started process's environment (so it
// counts as a server launch). The caller sleeps afterwards (600 ms standard
// CGI, 666 ms Windows CGI).
bool StartServerProcess();

// Windowed resident server on the calling (main) thread. Serves request
// files, oldest first, as they are completed in the folder, until the alive
// file disappears or a close, quit or system-command message arrives
// (SIGTERM, SIGINT, SIGHUP). Then it removes the alive file (clients whose
// requests wait unclaimed take them back), finishes the running requests,
// removes the server's files and ends the process through HttpTerminate.
[[noreturn]] void RunServerLoop(THttpCGIEngine* engine);
// Serves one claimed request: base is prefix + client id + "_". Runs
// engine->RunRequest with the claimed file as input and the response file as
// output, then publishes the response. Any failure deletes the alive file,
// which shuts the server down. Used by the loop and its request threads.
void ServeRequestFiles(THttpCGIEngine* engine, const std::string& base);

// Windowed client side. Writes the request file, waits at most 180 s for the
// response, copies it to the request's output and ends the process at once.
// Returns only when this process must serve the request itself, with the
// request given back whole (its input yields the same body): a variable
// that cannot stand as one line of the request file, the client limit
// (10 requests waiting unclaimed; "Server mode - Too many clients" goes to
// the gateway log), a request file that cannot be written, or a server that
// stopped or vanished before it ran the request. A process that is itself a
// server launch ends with a message and exit code 1: a server is running.
void HandOffRequest(TCgiRequest& request);
// Console resident server: becomes the server and takes one request file.
// Sets the three values (the caller owns them) or leaves them null when the
// alive file came back after a short absence. Ends the process through the
// normal program end when the alive file is gone.
void WaitForRequestFile(TStream*& input, TStream*& output, TStringList*& variables);
// Console client side; returns as HandOffRequest does, else ends the process.
void HandOffRequestConsole(TCgiRequest& request);
