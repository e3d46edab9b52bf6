// The base of the two CGI front ends: the header lines as CGI wants them, the
// end of the process after its request, and the start-up they share (when a
// request read from the environment is served relative to the creation of the
// application's form).
#include "gateway/frontends/HttpCGIEngine.h"

#include <algorithm>

#include "gateway/engine/Limits.h"
#include "gateway/engine/ProcessRole.h"
#include "gateway/engine/RequestContext.h"
#include "gateway/frontends/CGIWEng.h"
#include "gateway/servermode/ServerMode.h"
#include "platform/Process.h"
#include "platform/Threads.h"
#include "platform/Streams.h"
#include "platform/SysUtils.h"

THttpCGIEngine::THttpCGIEngine(TComponent* owner) : THttpEngine(owner) {}

bool THttpCGIEngine::EndsProcessWithRequest() const { return ServerMode == 0; }

bool THttpCGIEngine::TerminateFinishesRequest() const { return !CGIAutoTerminate; }

void HandOffCgiRequest(TCgiRequest& request) {
    if constexpr (EngineSettings::ConsoleFrontEnd)
        HandOffRequestConsole(request);
    else
        HandOffRequest(request);
}

namespace {
// A request the resident server gave back at start-up, before any form
// existed: the runner serves it in place of reading the front end's request
// again (the standard input's body has been read once already).
std::optional<TCgiRequest> givenBack;

TCgiRequest OwnRequest(const TRequestBuilder& request) {
    if (!givenBack) return request(true);
    TCgiRequest own = std::move(*givenBack);
    givenBack.reset();
    // Handed over in the order given; served, as a direct run, sorted.
    if (own.Variables && !own.Variables->Sorted) {
        own.Variables->Sorted = true;
        own.Variables->Sort();
    }
    return own;
}
}  // namespace

TCgiRequest ConsoleServerRequest() {
    TStream* input = nullptr;
    TStream* output = nullptr;
    TStringList* variables = nullptr;
    WaitForRequestFile(input, output, variables);
    return {std::unique_ptr<TStream>(input), std::unique_ptr<TStream>(output), std::unique_ptr<TStringList>(variables)};
}

void StartUpRequest(THttpCGIEngine* (*makeEngine)(), const TRequestBuilder& request) {
    switch (ProcessRole()) {
    case TProcessRole::HandOffClient: {
        TCgiRequest own = request(false);
        HandOffCgiRequest(own);
        SetProcessRole(IsWinCgi() ? TProcessRole::WindowsCgi : TProcessRole::StandardCgi);
        givenBack = std::move(own);
        if (EngineSettings::ConsoleFrontEnd) makeEngine()->ConsoleRequest = OwnRequest(request);
        return;
    }
    case TProcessRole::ConsoleServer:
        // The standard streams give way to the handed-over request's files.
        makeEngine()->ConsoleRequest = ConsoleServerRequest();
        return;
    case TProcessRole::StandardCgi:
    case TProcessRole::WindowsCgi:
        if (EngineSettings::ConsoleFrontEnd) makeEngine()->ConsoleRequest = request(true);
        return;
    default:
        return;
    }
}

bool ServedAtFormCreation() {
    const TProcessRole role = ProcessRole();
    return !EngineSettings::ConsoleFrontEnd && role != TProcessRole::Extension && role != TProcessRole::HandOffClient;
}

bool HandsRequestToNewServer(const THttpEngine& engine) {
    const TProcessRole role = ProcessRole();
    const bool wanted = role != TProcessRole::ResidentServer && role != TProcessRole::ConsoleServer;
    return wanted && engine.ServerMode != 0 && !IsServerRunning();
}

void TOwnerCreateHook::ServeWhenOwnerCreated(const THttpEngine& engine, TCustomModule* module,
                                             std::function<void()> serve) {
    if (HandsRequestToNewServer(engine) || module == nullptr || Hooked) {
        serve();
        return;
    }
    SavedOwnerCreate = module->OnCreate;
    module->OnCreate = [this, &engine, serve = std::move(serve)](TObject* sender) {
        if (SavedOwnerCreate && !HandsRequestToNewServer(engine)) SavedOwnerCreate(sender);
        serve();
    };
    Hooked = true;
}

void THttpCGIEngine::StartWhenOwnerCreated() {
    ownerHook_.ServeWhenOwnerCreated(*this, dynamic_cast<TCustomModule*>(Owner()), [this] { RunDeferred(); });
}

void THttpCGIEngine::RunDeferred() {
    THttpEngine::Loaded();
    RunProcessRequest();
}

void THttpCGIEngine::Serve(TCgiRequest request) {
    ProcessRequest(request.Input.release(), request.Output.release(), request.Variables.release());
}

void THttpCGIEngine::RunAsRole(std::uint32_t startDelayMs, const TRequestBuilder& request) {
    if (ProcessRole() == TProcessRole::ResidentServer) {
        SetServerMode(std::max<std::uint8_t>(ServerMode, 1));
        RunServerLoop(this);
    }
    TCgiRequest own = OwnRequest(request);
    if (HandsRequestToNewServer(*this)) {
        StartServerProcess();
        Sleep(startDelayMs);
        // Returns when the new server cannot take the request.
        HandOffCgiRequest(own);
    }
    Serve(std::move(own));
}

void THttpCGIEngine::RunRequest(TStream* input, TStream* output, TStringList* variables) {
    ProcessRequest(input, output, variables);
}

void THttpCGIEngine::RunConsoleRequest() {
    if (!ConsoleRequest) return;
    Serve(std::move(*ConsoleRequest));
    ConsoleRequest.reset();
    // Finished here, not at the engine unit's end: by then the thread's
    // request state has already been destroyed (thread storage ends before
    // static storage), and a console server's client reads the response as
    // soon as the alive file is gone.
    FinishRequest();
}

namespace {
bool WantsStatusField(const std::string& serverSoftware) {
    const std::string upper = UpperCase(serverSoftware);
    return Pos("NETSCAPE", upper) != 0 || Pos("APACHE", upper) != 0 || Pos("STRONGHOLD", upper) != 0;
}
}  // namespace

void THttpCGIEngine::SendHeaderLine(const std::string& name, const std::string& value) {
    TStream* output = RequestContext.OutputStream;
    if (output == nullptr) return;
    std::string line;
    // "HTTP/1.0 302 Found" becomes "Status: 302 Found" for the servers that
    // want the status as a header field.
    if (StartsText("HTTP/1.", name) && WantsStatusField(GetServerSoftware()))
        line = "Status:" + (name.size() > 8 ? name.substr(8, EngineLimits::StatusTextMax) : std::string()) + "\r\n";
    else if (!value.empty())
        line = name + ": " + value + "\r\n";
    else
        line = name + "\r\n";
    output->WriteString(line);
}

void THttpCGIEngine::EndHeaderBlock() {
    if (RequestContext.OutputStream != nullptr) RequestContext.OutputStream->WriteString("\r\n");
}

void THttpCGIEngine::FinishRequest() {
    THttpEngine::FinishRequest();
    // A resident server lives on after each request.
    if (!EngineSettings::ConsoleFrontEnd && CGIAutoTerminate && EndsProcessWithRequest()) Shutdown();
}
