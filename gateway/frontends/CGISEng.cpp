#include "gateway/frontends/CGISEng.h"

#include <string>

#include "gateway/engine/Helpers.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "gateway/servermode/ServerMode.h"
#include "platform/Forms.h"
#include "platform/Process.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"
#include "platform/Threads.h"

thread_local TStream* StdCgiInput = nullptr;
thread_local TStream* StdCgiOutput = nullptr;
thread_local TStringList* StdCgiVariables = nullptr;

namespace {
// The handles the web server passed the process.
constexpr THandle StdInputHandle = 0;
constexpr THandle StdOutputHandle = 1;
// Pause between starting a resident server and handing the request to it.
constexpr std::uint32_t ServerStartPauseMs = 600;

// The console build's engine: created at start-up without owner, it lives
// as long as the process.
TCGIStdEngine* ConsoleEngine = nullptr;

bool ServerModeApplies(const THttpEngine& engine) {
    return engine.ServerMode != 0 && !IsServerLaunch() && !IsServerRunning();
}

// Runs one request on the given objects. ProcessRequest owns and frees them,
// so the per-thread values are cleared once it returns: a later call must
// not hand freed streams over again.
void ServeOnThread(THttpEngine& engine, TStream* input, TStream* output, TStringList* variables) {
    StdCgiInput = input;
    StdCgiOutput = output;
    engine.ProcessRequest(input, output, variables);
    StdCgiInput = nullptr;
    StdCgiOutput = nullptr;
}

void StartConsoleEngine() {
    ConsoleEngine = new TCGIStdEngine(nullptr);
    if (IsServerLaunch()) {
        // The standard streams give way to the handed-over request's files.
        delete StdCgiInput;
        delete StdCgiOutput;
        StdCgiInput = nullptr;
        StdCgiOutput = nullptr;
        WaitForRequestFile(StdCgiInput, StdCgiOutput, StdCgiVariables);
    } else if (IsServerRunning()) {
        HandOffRequestConsole(StdCgiInput, StdCgiOutput, EnvironmentList());
    } else {
        StdCgiVariables = EnvironmentList();
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

void CGISEngStartup() {
    StdCgiInput = nullptr;
    StdCgiOutput = nullptr;
    // Inside a host server the standard streams and the command line are the
    // host's, never a request of ours.
    if (RunningAsLibrary) return;
    if (!IsStdCgi() && !IsServerLaunch()) return;
    if (ConsoleBuild && IsServerLaunch() && IsServerRunning()) return;
    StdCgiInput = new THandleStream(StdInputHandle);
    StdCgiOutput = new THandleStream(StdOutputHandle);
    if (ConsoleBuild) {
        StartConsoleEngine();
        return;
    }
    if (IsServerRunning()) HandOffRequest(StdCgiInput, StdCgiOutput, EnvironmentList());
}

TCGIStdEngine::TCGIStdEngine(TComponent* owner) : THttpCGIEngine(owner) {}

void TCGIStdEngine::Loaded() {
    if ((ComponentState & csLoading) == 0) return;
    if (ConsoleBuild || Designing() || !IsStdCgi()) return;
    StartWhenOwnerCreated();
}

void TCGIStdEngine::RunConsoleRequest() {
    if (!ConsoleBuild) return;
    TStringList* variables = StdCgiVariables;
    StdCgiVariables = nullptr;
    ServeOnThread(*this, StdCgiInput, StdCgiOutput, variables);
    // Finished here while the thread's request state still exists: it ends
    // before the engine unit's static end, where finishing used to happen.
    FinishRequest();
}

void TCGIStdEngine::RunRequest(TStream* input, TStream* output, TStringList* variables) {
    if (output != nullptr) {
        ServeOnThread(*this, input, output, variables);
        return;
    }
    if (ServerModeApplies(*this)) {
        StartServerProcess();
        Sleep(ServerStartPauseMs);
        HandOffRequest(StdCgiInput, StdCgiOutput, EnvironmentList());
    }
    if (IsServerLaunch() && ParamCount() == 0) {
        if (ServerMode == 0) SetServerMode(1);
        RunServerLoop(this);
    }
    ServeOnThread(*this, StdCgiInput, StdCgiOutput, EnvironmentList());
}
