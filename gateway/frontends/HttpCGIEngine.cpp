// The base of the two CGI front ends: the header lines as CGI wants them, the
// end of the process after its request, and the start-up they share (when a
// request read from the environment is served relative to the creation of the
// application's form).
#include "gateway/frontends/HttpCGIEngine.h"

#include "gateway/engine/RequestContext.h"
#include "gateway/servermode/ServerMode.h"
#include "platform/Process.h"
#include "platform/Streams.h"
#include "platform/SysUtils.h"

THttpCGIEngine::THttpCGIEngine(TComponent* owner) : THttpEngine(owner) {}

bool THttpCGIEngine::EndsProcessWithRequest() const { return ServerMode == 0; }

bool THttpCGIEngine::TerminateFinishesRequest() const { return !CGIAutoTerminate; }

namespace {
// A request for a resident server that is not running yet: the owner's own
// start-up is not wanted, since the server will serve the request.
bool HandsOff(const THttpEngine& engine) {
    return engine.ServerMode != 0 && !IsServerLaunch() && !IsServerRunning();
}
}  // namespace

void THttpCGIEngine::StartWhenOwnerCreated() {
    if (HandsOff(*this)) {
        RunDeferred();
        return;
    }
    auto* module = dynamic_cast<TCustomModule*>(Owner());
    if (module == nullptr || ownerHooked_) {
        RunDeferred();
        return;
    }
    SavedOwnerCreate = module->OnCreate;
    module->OnCreate = [this](TObject* Sender) { OwnerCreateHook(Sender); };
    ownerHooked_ = true;
}

void THttpCGIEngine::OwnerCreateHook(TObject* Sender) {
    if (SavedOwnerCreate && !HandsOff(*this)) SavedOwnerCreate(Sender);
    RunDeferred();
}

void THttpCGIEngine::RunDeferred() {
    THttpEngine::Loaded();
    RunRequest(nullptr, nullptr, nullptr);
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
        line = "Status:" + (name.size() > 8 ? name.substr(8, 1032) : std::string()) + "\r\n";
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
