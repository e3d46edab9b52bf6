#include "gateway/frontends/CGIWEng.h"

#include <memory>

#include "gateway/engine/Helpers.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "gateway/servermode/ServerMode.h"
#include "gateway/servermode/ServerModeInternal.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Forms.h"
#include "platform/Process.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"
#include "platform/Threads.h"

namespace {
bool RequestInEnvironment() {
    bool found = false;
    GetEnv("REQUEST_METHOD", &found);
    return found;
}

std::string DataFilePath() { return AddSystemDrive(ParamStr(1)); }

// The request of the data file named on the command line.
TCgiRequest CommandLineRequest(bool sorted) {
    TCgiRequest request;
    request.Variables = std::make_unique<TStringList>(sorted);
    std::string outputName;
    TStream* input = nullptr;
    TStream* output = nullptr;
    ReadWinCgiDataFile(DataFilePath(), outputName, input, *request.Variables, output);
    request.Input.reset(input);
    request.Output.reset(output);
    return request;
}

void ConsoleStartup() {
    // Lives for the process; its constructor makes it CurrentEngine.
    auto* engine = new TCGIWinEngine(nullptr);
    if (IsServerLaunch()) {
        engine->ConsoleRequest = ConsoleServerRequest();
    } else if (IsServerRunning()) {
        TCgiRequest request = CommandLineRequest(false);
        HandOffRequestConsole(request);
        engine->ConsoleRequest = CommandLineRequest(true);
    } else {
        engine->ConsoleRequest = CommandLineRequest(true);
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
    if (!IsWinCgi() && !IsServerLaunch()) return;
    if (ConsoleBuild && IsServerLaunch() && IsServerRunning()) return;
    try {
        // Windowed, with a resident server alive: the request leaves the
        // process here, before any form exists.
        if (ConsoleBuild)
            ConsoleStartup();
        else if (!IsServerLaunch() && IsServerRunning()) {
            TCgiRequest request = CommandLineRequest(false);
            HandOffCgiRequest(request);
        }
    } catch (const std::exception& e) {
        // The request is then served (and fails again, visibly) by RunProcessRequest.
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

void TCGIWinEngine::RunRequest(TStream* input, TStream* output, TStringList* variables) {
    if (!IsWinCgi()) {
        if (input != output) delete input;
        delete output;
        delete variables;
        return;
    }
    THttpCGIEngine::RunRequest(input, output, variables);
}

void TCGIWinEngine::RunProcessRequest() {
    // Outside Windows CGI there is no request to serve.
    if (!IsWinCgi()) return;
    if (HandsRequestToNewServer(*this)) {
        StartServerProcess();
        Sleep(ServerConstants::WinStartDelayMs);
        TCgiRequest request = CommandLineRequest(true);
        HandOffCgiRequest(request);
        Serve(std::move(request));
        return;
    }
    if (IsServerLaunch()) {
        if (ServerMode == 0) SetServerMode(1);
        RunServerLoop(this);
    }
    Serve(CommandLineRequest(true));
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
