#pragma once
// The process as the program sees it: command line, executable path in
// Windows form, environment, and the ways a process ends.
#include <string>
#include <vector>

// Must be called first in main() (and by the library's load routine with no
// arguments): records the argument list and the start-up folder.
void InitProcess(int argc, char** argv);

// Number of arguments after the program name.
int ParamCount();
// ParamStr(0) is the executable path in Windows form: argv[0] made absolute
// against the start-up folder when it holds a separator or names a file
// there, else /proc/self/exe; links are not resolved. Others as given, ""
// when out of range.
std::string ParamStr(int index);
// The file name of the module holding this code (the shared object when the
// program is loaded as a library), in Windows form.
std::string ModuleFileName();

// Environment block as NAME=value strings, in the order of environ.
std::vector<std::string> EnvironmentStrings();
// Value of a variable; found tells an empty value from an absent one.
std::string GetEnv(const std::string& name, bool* found = nullptr);

// Set once at start-up: the program runs loaded into a host server process.
extern bool RunningAsLibrary;
// The console variant of the program (a build option).
#ifdef VALSETTO_CONSOLE_BUILD
constexpr bool ConsoleBuild = true;
#else
constexpr bool ConsoleBuild = false;
#endif

// End the process at once with the exit code, after pending output is
// written (standard streams are unbuffered here, so nothing is pending).
[[noreturn]] void HaltProcess(int code);
// Normal program end: runs the modules' end routines.
[[noreturn]] void NormalExit(int code);
// Starts a command line detached, without a window: new session, standard
// streams on /dev/null, no other descriptor inherited, this environment.
// The line is split at blanks (a double-quoted stretch keeps its blanks);
// the first word is the program, in Windows or OS form, a bare name being
// looked up in the current folder and then on PATH. When the first word of
// an unquoted path names no executable file, the shortest run of leading
// words that does is the program, as on the host. Does not wait for the
// program; false when it could not be started (not found, not executable).
bool WinExecHidden(const std::string& commandLine);
// Whether a process with this id lives.
bool ProcessAlive(int pid);
// When the process with this id started, in clock ticks since boot; 0 when
// it does not exist or cannot be looked at. A process id is used again once
// its process has ended: the pair of id and start time is not.
unsigned long long ProcessStartTime(int pid);
int CurrentProcessId();
