#pragma once
// Forked children for tests, the command line and CGI set-up of a process,
// and bounded waits: every wait ends by its deadline, and a child that
// outlives one is ended by its pid.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace support {

// Forks a child that runs body and ends with body's result as its exit
// code (98 when body throws); the child's pid, -1 when fork fails.
pid_t StartForked(const std::function<int()>& body);
// The child's exit code; -1 when a signal ended it or it outlived
// timeoutMs (it is then killed).
int WaitChild(pid_t pid, int timeoutMs = 20000);
// Both: body in a forked child, and its exit code.
int RunForked(const std::function<int()>& body, int timeoutMs = 20000);

// The process's command line, as InitProcess takes it: these words.
void SetCommandLine(std::vector<std::string> words);

using TVariables = std::vector<std::pair<std::string, std::string>>;
// In a forked child, the process a web server starts for a CGI request:
// only these environment variables, standard input from inPath, standard
// output into outPath (truncated), and these words as its command line.
void BecomeCgiProcess(const TVariables& environment, const std::string& inPath, const std::string& outPath,
                      std::vector<std::string> words);

// Polls the condition every 5 ms until it holds or the time is up; whether
// it held.
bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 5000);
// The file's bytes once it can be read, "(no file)" when it never could.
std::string WaitForFile(const std::string& path, int milliseconds);

}  // namespace support
