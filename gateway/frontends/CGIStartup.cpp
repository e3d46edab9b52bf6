// The start-up the two CGI front ends share: when a request read from the
// environment is served relative to the creation of the application's form.
#include "gateway/engine/HttpEng.h"
#include "gateway/servermode/ServerMode.h"
#include "platform/Forms.h"

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
