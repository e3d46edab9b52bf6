// The base of the two CGI front ends: the header lines as CGI wants them, the
// end of the process after its request, and the start-up they share (when a
// request read from the environment is served relative to the creation of the
// application's form).
#include "gateway/frontends/HttpCGIEngine.h"

#include "gateway/engine/Limits.h"
#include "gateway/engine/RequestContext.h"
#include "gateway/servermode/ServerMode.h"
#include "platform/Process.h"
#include "platform/Streams.h"
#include "platform/SysUtils.h"

THttpCGIEngine::THttpCGIEngine(TComponent* owner) : THttpEngine(owner) {}

bool THttpCGIEngine::EndsProcessWithRequest() const { return ServerMode == 0; }

bool THttpCGIEngine::TerminateFinishesRequest() const { return !CGIAutoTerminate; }

void HandOffCgiRequest(TCgiRequest& request) { HandOffRequest(request); }

TCgiRequest ConsoleServerRequest() {
    TStream* input = nullptr;
    TStream* output = nullptr;
    TStringList* variables = nullptr;
    WaitForRequestFile(input, output, variables);
    return {std::unique_ptr<TStream>(input), std::unique_ptr<TStream>(output), std::unique_ptr<TStringList>(variables)};
}

bool HandsRequestToNewServer(const THttpEngine& engine) {
    return engine.ServerMode != 0 && !IsServerLaunch() && !IsServerRunning();
}

void TOwnerCreateHook::ServeWhenOwnerCreated(const THttpEngine& engine, TCustomModule* module,
                                             std::function<void()> serve) {
    if (HandsRequestToNewServer(engine) || module == nullptr || Hooked) {
        serve();
        return;
    }
    SavedOwnerCreate = module->OnCreate;
    module->OnCreate = [this, &engine, serve = std::move(serve)](TObject* Sender) {
        if (SavedOwnerCreate && !HandsRequestToNewServer(engine)) SavedOwnerCreate(Sender);
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

void THttpCGIEngine::RunRequest(TStream* input, TStream* output, TStringList* variables) {
    ProcessRequest(input, output, variables);
}

void THttpCGIEngine::RunConsoleRequest() {
    if (!ConsoleBuild) return;
    Serve(std::move(ConsoleRequest));
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
    if (!ConsoleBuild && CGIAutoTerminate && ServerMode == 0) Shutdown();
}
