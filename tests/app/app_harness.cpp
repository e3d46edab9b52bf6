#include "tests/app/app_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "app/OnlineUnit.h"
#include "gateway/frontends/GatewayUnits.h"
#include "platform/Process.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

namespace {
// Exit code of a child whose main sequence returned instead of ending the
// process.
constexpr int SequenceReturned = 71;
constexpr auto Deadline = std::chrono::seconds(30);

std::string MakeFolder(const char* prefix) {
    std::string folder = support::MakeTempFolder(prefix);
    if (folder.empty()) throw std::runtime_error("mkdtemp failed");
    return folder;
}

std::vector<std::pair<std::string, std::string>> Environment(const TSite& site, const TRequest& request) {
    std::vector<std::pair<std::string, std::string>> env = {
        {"SERVER_SOFTWARE", "TestServer/1.0"},
        {"GATEWAY_INTERFACE", "CGI/1.1"},
        {"SERVER_PROTOCOL", "HTTP/1.0"},
        {"REQUEST_METHOD", request.Method},
        {"QUERY_STRING", request.Query},
        {"HTTP_HOST", "localhost:8080"},
        {"SCRIPT_NAME", "/audiojs/playlist.cgi"},
        {"REMOTE_HOST", "client.test"},
        {"REMOTE_ADDR", "127.0.0.1"},
        {"CGI_LOG_DIR", site.Folder + "-io"},
    };
    if (!request.Body.empty()) {
        env.emplace_back("CONTENT_LENGTH", std::to_string(request.Body.size()));
        env.emplace_back("CONTENT_TYPE", "application/x-www-form-urlencoded");
    }
    env.insert(env.end(), request.Extra.begin(), request.Extra.end());
    return env;
}

[[noreturn]] void ChildMain(const TSite& site, const TRequest& request, const std::string& io) {
    clearenv();
    for (const auto& [name, value] : Environment(site, request)) setenv(name.c_str(), value.c_str(), 1);
    support::RedirectOrExit(io + "/in", O_RDONLY, 0);
    support::RedirectOrExit(io + "/out", O_WRONLY | O_CREAT | O_TRUNC, 1);
    std::string program = site.Path("playlist.cgi");
    char* argv[] = {program.data(), nullptr};
    InitProcess(1, argv);
    StartGatewayUnits();
    RunApplication();
    _exit(SequenceReturned);
}

// Polls so that a child that hangs is killed at the deadline.
void WaitFor(pid_t pid, TAnswer& answer) {
    const auto until = std::chrono::steady_clock::now() + Deadline;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) return;
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    answer.Exited = WIFEXITED(status);
    answer.ExitCode = answer.Exited ? WEXITSTATUS(status) : -1;
}
}  // namespace

TSite::TSite() : Folder(MakeFolder("valsetto-site")) {
    std::filesystem::create_directory(Folder + "-io");
}

TSite::~TSite() {
    support::RemoveFolder(Folder);
    support::RemoveFolder(Folder + "-io");
}

void TSite::Put(const std::string& name, const std::string& content) const { support::WriteFileBytes(Path(name), content); }
std::string TSite::Get(const std::string& name) const { return support::ReadFileBytes(Path(name)); }
bool TSite::Has(const std::string& name) const { return std::filesystem::exists(Path(name)); }

std::string TAnswer::Body() const {
    const std::size_t end = Output.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : Output.substr(end + 4);
}

TAnswer Serve(const TSite& site, const TRequest& request) {
    const std::string io = site.Folder + "-io";
    support::WriteFileBytes(io + "/in", request.Body);
    TAnswer answer;
    const pid_t pid = fork();
    if (pid < 0) return answer;
    if (pid == 0) ChildMain(site, request, io);
    WaitFor(pid, answer);
    answer.Output = support::ReadFileBytes(io + "/out");
    return answer;
}
