#pragma once
// Runs a front-end scenario in a forked child, as a web server would run the
// program: a controlled environment and command line, standard input from a
// file, standard output into a file. The parent sees what a server sees:
// the exit status and the output bytes, plus notes the child left.
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct TChildRun {
    // The child's whole environment (CGI_LOG_DIR is added, pointing into the
    // run's own folder).
    std::vector<std::pair<std::string, std::string>> Environment;
    // Arguments after the program name.
    std::vector<std::string> Arguments;
    std::string Input;
};

struct TChildResult {
    bool Exited = false;  // false: killed, or it outlived its deadline
    int ExitCode = -1;
    std::string Output;   // everything written to standard output
    std::string Notes;    // lines the child wrote with Note()
    std::string Folder;   // the run's folder; removed when the result dies
    ~TChildResult();
    TChildResult() = default;
    TChildResult(TChildResult&&) noexcept;
    TChildResult(const TChildResult&) = delete;
    TChildResult& operator=(const TChildResult&) = delete;
};

// Exit code of a child whose body returned (the process was not ended by the
// engine); 72 when an exception left the body.
constexpr int BodyReturned = 71;
constexpr int BodyThrew = 72;

// Forks; the child sets up its process (environment, InitProcess with the
// program path <folder>/valsetto.cgi, standard streams, an application
// object), runs body and ends with BodyReturned. Waits at most 30 s.
TChildResult RunInChild(const TChildRun& run, const std::function<void()>& body);

// In the child: appends one line to the notes the parent reads.
void Note(const std::string& line);
// In the child: the run's folder in Windows form.
std::string ChildFolder();

using TEnvironment = std::vector<std::pair<std::string, std::string>>;

// A table row for how a process's start decides: its environment and
// arguments, and the note the child is expected to leave.
struct TStartCase {
    const char* name;
    TEnvironment environment;
    std::vector<std::string> arguments;
    const char* want;
};

inline bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
inline bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}
