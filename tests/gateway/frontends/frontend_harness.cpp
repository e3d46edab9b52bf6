#include "tests/gateway/frontends/frontend_harness.h"

#include "tests/gateway/frontends/frontend_form.h"
#include "gateway/engine/HttpEng.h"

#include <unistd.h>

#include <fstream>

#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Forms.h"
#include "platform/Process.h"
#include "tests/support/Children.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

namespace {
std::string childFolder;

[[noreturn]] void ChildMain(const TChildRun& run, const std::string& folder, const std::function<void()>& body) {
    childFolder = folder;
    support::TVariables environment = run.Environment;
    environment.emplace_back("CGI_LOG_DIR", folder + "/log");
    std::vector<std::string> words{folder + "/valsetto.cgi"};
    words.insert(words.end(), run.Arguments.begin(), run.Arguments.end());
    support::BecomeCgiProcess(environment, folder + "/in", folder + "/out", std::move(words));
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
    const pid_t pid = support::StartForked([&]() -> int { ChildMain(run, pattern, body); });
    if (pid < 0) return result;
    result.ExitCode = support::WaitChild(pid, 30000);
    result.Exited = result.ExitCode >= 0;
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
