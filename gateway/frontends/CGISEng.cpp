#include "gateway/frontends/CGISEng.h"

#include <memory>
#include <string>

#include "gateway/engine/Helpers.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "gateway/servermode/ServerMode.h"
#include "gateway/servermode/ServerModeInternal.h"
#include "platform/Forms.h"
#include "platform/Process.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"
#include "platform/Threads.h"

namespace {
// The handles the web server passed the process.
constexpr THandle StdInputHandle = 0;
constexpr THandle StdOutputHandle = 1;

// Set by the start-up: the standard streams carry this process's request.
bool standardStreamsServe = false;
// A request the resident server gave back at start-up, served from here.
TCgiRequest givenBack;

TCgiRequest StandardStreams() {
    TCgiRequest request;
    request.Input = std::make_unique<THandleStream>(StdInputHandle);
    request.Output = std::make_unique<THandleStream>(StdOutputHandle);
    return request;
}

// The console build's engine: created at start-up without owner, it lives
// as long as the process and holds the request prepared for it.
void StartConsoleEngine() {
    auto* engine = new TCGIStdEngine(nullptr);
    if (IsServerLaunch()) {
        // The standard streams give way to the handed-over request's files.
        engine->ConsoleRequest = ConsoleServerRequest();
    } else if (IsServerRunning()) {
        TCgiRequest request = StandardCgiRequest();
        HandOffRequestConsole(request);
        engine->ConsoleRequest = std::move(request);
    } else {
        engine->ConsoleRequest = StandardCgiRequest();
    }
}
}  // namespace

bool IsStdCgi() {
    if (RunningAsLibrary) return false;
    const bool started = !GetEnvVariable("SERVER_SOFTWARE").empty() || IsServerLaunch();
    return started && Pos("WIN", UpperCase(GetEnvVariable("CGI_VERSION"))) == 0;
}

TStringList* EnvironmentList() {
    auto* list = new TStringList(/*sorted=*/true);
    list->Duplicates = TDuplicates::dupIgnore;
    for (const std::string& entry : EnvironmentStrings()) list->Add(entry);
    return list;
}

TCgiRequest StandardCgiRequest() {
    if (givenBack.Variables) return std::move(givenBack);
    TCgiRequest request = standardStreamsServe ? StandardStreams() : TCgiRequest{};
    request.Variables.reset(EnvironmentList());
    return request;
}

void CGISEngStartup() {
    standardStreamsServe = false;
    // Inside a host server the standard streams and the command line are the
    // host's, never a request of ours.
    if (RunningAsLibrary) return;
    if (!IsStdCgi() && !IsServerLaunch()) return;
    if (ConsoleBuild && IsServerLaunch() && IsServerRunning()) return;
    standardStreamsServe = true;
    if (ConsoleBuild) {
        StartConsoleEngine();
        return;
    }
    if (IsServerRunning()) {
        givenBack = StandardCgiRequest();
        HandOffCgiRequest(givenBack);
    }
}

TCGIStdEngine::TCGIStdEngine(TComponent* owner) : THttpCGIEngine(owner) {}

void TCGIStdEngine::Loaded() {
    if ((ComponentState & csLoading) == 0) return;
    if (ConsoleBuild || Designing() || !IsStdCgi()) return;
    StartWhenOwnerCreated();
}

void TCGIStdEngine::RunProcessRequest() {
    if (HandsRequestToNewServer(*this)) {
        StartServerProcess();
        Sleep(ServerConstants::StdStartDelayMs);
        TCgiRequest request = StandardCgiRequest();
        HandOffCgiRequest(request);
        Serve(std::move(request));
        return;
    }
    if (IsServerLaunch() && ParamCount() == 0) {
        if (ServerMode == 0) SetServerMode(1);
        RunServerLoop(this);
    }
    Serve(StandardCgiRequest());
}
