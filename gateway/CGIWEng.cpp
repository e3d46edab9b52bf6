#include "gateway/CGIWEng.h"

#include <memory>

#include "gateway/ServerMode.h"
#include "gateway/ServerModeInternal.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Forms.h"
#include "platform/Process.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"
#include "platform/Threads.h"

thread_local TStream* WinCgiInput = nullptr;
thread_local TStream* WinCgiOutput = nullptr;
thread_local TStringList* WinCgiVariables = nullptr;

namespace {
bool RequestInEnvironment() {
    bool found = false;
    GetEnv("REQUEST_METHOD", &found);
    return found;
}

std::string DataFilePath() { return AddSystemDrive(ParamStr(1)); }

// Reads the data file named on the command line into the unit's input and
// output and the given list.
void ReadCommandLineDataFile(TStringList& variables) {
    std::string outputName;
    ReadWinCgiDataFile(DataFilePath(), outputName, WinCgiInput, variables, WinCgiOutput);
}

// Windowed start-up with a resident server alive: the request leaves the
// process here, before any form exists.
void HandOffDataFile() {
    std::unique_ptr<TStringList> variables = std::make_unique<TStringList>(false);
    ReadCommandLineDataFile(*variables);
    HandOffRequest(WinCgiInput, WinCgiOutput, variables.release());
}

// ProcessRequest owns and frees what it is given, so the per-thread values
// are cleared once it returns.
void ServeOnThread(THttpEngine& engine, TStream* input, TStream* output, TStringList* variables) {
    WinCgiInput = input;
    WinCgiOutput = output;
    engine.ProcessRequest(input, output, variables);
    WinCgiInput = nullptr;
    WinCgiOutput = nullptr;
}

void ConsoleStartup() {
    new TCGIWinEngine(nullptr);  // lives for the process; its constructor makes it CurrentEngine
    if (IsServerLaunch()) {
        WaitForRequestFile(WinCgiInput, WinCgiOutput, WinCgiVariables);
    } else if (IsServerRunning()) {
        WinCgiVariables = new TStringList(false);
        ReadCommandLineDataFile(*WinCgiVariables);
        HandOffRequestConsole(WinCgiInput, WinCgiOutput, WinCgiVariables);
    } else {
        WinCgiVariables = new TStringList(true);
        ReadCommandLineDataFile(*WinCgiVariables);
    }
}
}  // namespace

bool IsWinCgi() {
    const bool launch = IsServerLaunch();
    const bool dataFileGiven = ParamCount() >= 1 && FileExists(DataFilePath());
    const std::string version = UpperCase(GetEnvVariable("CGI_VERSION"));
    const bool windowsVersion = version.find("WIN") != std::string::npos;
    // Arguments of a request may be the client's query words: only a
    // declared Windows CGI server makes them select this front end.
    if (RequestInEnvironment()) return windowsVersion && (launch || dataFileGiven);
    return launch || (dataFileGiven && (version.empty() || windowsVersion));
}

void CGIWEngStartup() {
    WinCgiOutput = nullptr;
    WinCgiInput = nullptr;
    if (!IsWinCgi() && !IsServerLaunch()) return;
    if (ConsoleBuild && IsServerLaunch() && IsServerRunning()) return;
    try {
        if (ConsoleBuild)
            ConsoleStartup();
        else if (!IsServerLaunch() && IsServerRunning())
            HandOffDataFile();
    } catch (const std::exception& e) {
        // The request is then served (and fails again, visibly) by RunRequest.
        HttpLog("Windows CGI start-up: " + std::string(e.what()));
    }
}

TCGIWinEngine::TCGIWinEngine(TComponent* owner) : THttpCGIEngine(owner) {}

void TCGIWinEngine::Loaded() {
    // Acts only for an engine read from its form (marked loading): one that
    // another component created in code is started by that component.
    if ((ComponentState & csLoading) == 0) return;
    if (ConsoleBuild || Designing() || !IsWinCgi()) return;
    StartWhenOwnerCreated();
}

void TCGIWinEngine::RunConsoleRequest() {
    if (!ConsoleBuild) return;
    TStringList* variables = WinCgiVariables;
    WinCgiVariables = nullptr;
    ServeOnThread(*this, WinCgiInput, WinCgiOutput, variables);
    // Finished here, not at the engine unit's end: by then the thread's
    // request state has already been destroyed (thread storage ends before
    // static storage), and a console server's client reads the response as
    // soon as the alive file is gone.
    FinishRequest();
}

void TCGIWinEngine::RunRequest(TStream* input, TStream* output, TStringList* variables) {
    // 1. Not Windows CGI: nothing is served; what was handed in is released.
    if (!IsWinCgi()) {
        if (input != output) delete input;
        delete output;
        delete variables;
        return;
    }
    // 2. A request given by the resident server.
    if (output) {
        ServeOnThread(*this, input, output, variables);
        return;
    }
    // 3. A resident server is wanted but none runs: start one, hand over.
    if (ServerMode != 0 && !IsServerLaunch() && !IsServerRunning()) {
        StartServerProcess();
        Sleep(ServerConstants::WinStartDelayMs);
        auto list = std::make_unique<TStringList>(true);
        ReadCommandLineDataFile(*list);
        HandOffRequest(WinCgiInput, WinCgiOutput, list.release());
    }
    // 4. Started by hand, or by the server-start command line: be the server.
    if (IsServerLaunch()) {
        if (ServerMode == 0) SetServerMode(1);
        RunServerLoop(this);
    }
    // 5. The ordinary Windows CGI request.
    auto list = std::make_unique<TStringList>(true);
    ReadCommandLineDataFile(*list);
    ServeOnThread(*this, WinCgiInput, WinCgiOutput, list.release());
}

void ReadWinCgiDataFile(const std::string& path, std::string& outputName, TStream*& input,
                        TStringList& variables, TStream*& output) {
    input = nullptr;
    output = nullptr;
    TWinCgiForm form;
    {
        TMemoryStream data;
        if (!data.LoadFromFile(path)) throw EFileError("Cannot open file \"" + path + "\"");
        ParseWinCgiData(data, variables, form, ReadExternalFieldFile);
    }
    outputName = AddSystemDrive(variables.Values("OUTPUT_FILE"));
    // The raw body of a content file wins over the form sections.
    std::unique_ptr<TStream> body;
    const std::string contentFile = variables.Values("CONTENT_FILE");
    if (!contentFile.empty() && FileExists(contentFile)) {
        body = std::make_unique<TFileStream>(contentFile, fmOpenRead | fmShareDenyNone);
    } else if (form.HasContent) {
        auto memory = std::make_unique<TMemoryStream>();
        memory->WriteString(form.Content);
        body = std::move(memory);
    }
    // Cut to length: a shorter response leaves nothing of an older one behind.
    auto out = std::make_unique<TFileStream>(outputName, fmCreate);
    if (body) body->SetPosition(0);
    input = body.release();
    output = out.release();
}
