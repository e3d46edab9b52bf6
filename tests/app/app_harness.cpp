#include "tests/app/app_harness.h"

#include <filesystem>
#include <stdexcept>

#include "app/OnlineUnit.h"
#include "gateway/frontends/GatewayUnits.h"
#include "platform/Process.h"
#include "tests/support/Children.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

namespace {
// Exit code of a child whose main sequence returned instead of ending the
// process.
constexpr int SequenceReturned = 71;
constexpr int DeadlineMs = 30000;

support::TVariables Environment(const TSite& site, const TRequest& request) {
    support::TVariables env = {
        {"SERVER_SOFTWARE", "TestServer/1.0"},
        {"GATEWAY_INTERFACE", "CGI/1.1"},
        {"SERVER_PROTOCOL", "HTTP/1.0"},
        {"REQUEST_METHOD", request.Method},
        {"QUERY_STRING", request.Query},
        {"HTTP_HOST", "localhost:8080"},
        {"SCRIPT_NAME", "/audiojs/playlist.cgi"},
        {"REMOTE_HOST", "client.test"},
        {"REMOTE_ADDR", "127.0.0.1"},
        {"CGI_LOG_DIR", site.Io()},
    };
    if (!request.Body.empty()) {
        env.emplace_back("CONTENT_LENGTH", std::to_string(request.Body.size()));
        env.emplace_back("CONTENT_TYPE", "application/x-www-form-urlencoded");
    }
    env.insert(env.end(), request.Extra.begin(), request.Extra.end());
    return env;
}

int ChildMain(const TSite& site, const TRequest& request, const std::string& io) {
    support::BecomeCgiProcess(Environment(site, request), io + "/in", io + "/out", {site.Path("playlist.cgi")});
    StartGatewayUnits();
    RunApplication();
    return SequenceReturned;
}
}  // namespace

std::string TAnswer::Body() const {
    const std::size_t end = Output.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : Output.substr(end + 4);
}

TAnswer Serve(const TSite& site, const TRequest& request) {
    const std::string io = site.Io();
    support::WriteFileBytes(io + "/in", request.Body);
    TAnswer answer;
    answer.ExitCode = support::RunForked([&] { return ChildMain(site, request, io); }, DeadlineMs);
    answer.Exited = answer.ExitCode >= 0;
    answer.Output = support::ReadFileBytes(io + "/out");
    return answer;
}
