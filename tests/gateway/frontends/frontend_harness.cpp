#include "tests/gateway/frontends/frontend_harness.h"

#include "tests/gateway/frontends/frontend_form.h"
#include "gateway/engine/HttpEng.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Forms.h"
#include "platform/Process.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

namespace {
std::string childFolder;

[[noreturn]] void ChildMain(const TChildRun& run, const std::string& folder, const std::function<void()>& body) {
    childFolder = folder;
    clearenv();
    for (const auto& [name, value] : run.Environment) setenv(name.c_str(), value.c_str(), 1);
    setenv("CGI_LOG_DIR", (folder + "/log").c_str(), 1);
    support::RedirectOrExit(folder + "/in", O_RDONLY, 0);
    support::RedirectOrExit(folder + "/out", O_WRONLY | O_CREAT | O_TRUNC, 1);
    std::vector<std::string> words{folder + "/valsetto.cgi"};
    words.insert(words.end(), run.Arguments.begin(), run.Arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    InitProcess(static_cast<int>(words.size()), argv.data());
    static TApplication application;
    Application = &application;
    try {
        body();
    } catch (const std::exception& e) {
        Note(std::string("exception: ") + e.what());
        _exit(BodyThrew);
    }
    _exit(BodyReturned);
}
}  // namespace

TChildResult::~TChildResult() { support::RemoveFolder(Folder); }

TChildResult::TChildResult(TChildResult&& other) noexcept
    : Exited(other.Exited), ExitCode(other.ExitCode), Output(std::move(other.Output)),
      Notes(std::move(other.Notes)), Folder(std::move(other.Folder)) {
    other.Folder.clear();
}

TChildResult RunInChild(const TChildRun& run, const std::function<void()>& body) {
    TChildResult result;
    const std::string pattern = support::MakeTempFolder("valsetto-frontend");
    if (pattern.empty()) return result;
    result.Folder = pattern;
    support::WriteFileBytes(pattern + "/in", run.Input);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) ChildMain(run, pattern, body);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        result.Exited = true;
        result.ExitCode = WEXITSTATUS(status);
    }
    result.Output = support::ReadFileBytes(pattern + "/out");
    result.Notes = support::ReadFileBytes(pattern + "/notes");
    return result;
}

void Note(const std::string& line) {
    std::ofstream out(childFolder + "/notes", std::ios::binary | std::ios::app);
    out << line << "\n";
}

std::string ChildFolder() { return ToWindowsPath(childFolder); }

void ProbeExecRequest(TObject*) {
    Note("handler");
    HttpWrite("hello");
}

std::vector<std::pair<std::string, std::string>> CgiEnvironment(const std::string& serverSoftware) {
    return {{"SERVER_SOFTWARE", serverSoftware}, {"GATEWAY_INTERFACE", "CGI/1.1"}, {"REQUEST_METHOD", "GET"},
            {"QUERY_STRING", "P"}, {"SERVER_PROTOCOL", "HTTP/1.0"}, {"REMOTE_ADDR", "127.0.0.1"}};
}
