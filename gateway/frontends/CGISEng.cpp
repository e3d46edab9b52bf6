#include "gateway/frontends/CGISEng.h"

#include <memory>
#include <string>

#include "gateway/engine/Helpers.h"
#include "gateway/engine/ProcessRole.h"
#include "gateway/frontends/CGIWEng.h"
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

// The standard streams carry this process's request: a standard CGI request
// served here or handed to the resident server.
bool StandardStreamsServe() {
    const TProcessRole role = ProcessRole();
    return role == TProcessRole::StandardCgi || (role == TProcessRole::HandOffClient && !IsWinCgi());
}
}  // namespace

TStringList* EnvironmentList() {
    auto* list = new TStringList(/*sorted=*/true);
    list->Duplicates = TDuplicates::dupIgnore;
    for (const std::string& entry : EnvironmentStrings()) list->Add(entry);
    return list;
}

TCgiRequest StandardCgiRequest() {
    TCgiRequest request;
    if (StandardStreamsServe()) {
        request.Input = std::make_unique<THandleStream>(StdInputHandle);
        request.Output = std::make_unique<THandleStream>(StdOutputHandle);
    }
    request.Variables.reset(EnvironmentList());
    return request;
}

namespace {
THttpCGIEngine* NewStdEngine() { return new TCGIStdEngine(nullptr); }
TCgiRequest OwnRequest(bool) { return StandardCgiRequest(); }
}  // namespace

void CGISEngStartup() {
    if (StandardStreamsServe()) StartUpRequest(NewStdEngine, OwnRequest);
}

TCGIStdEngine::TCGIStdEngine(TComponent* owner) : THttpCGIEngine(owner) {}

void TCGIStdEngine::Loaded() {
    if ((ComponentState & csLoading) == 0) return;
    if (Designing() || !ServedAtFormCreation() || !IsStdCgi()) return;
    StartWhenOwnerCreated();
}

void TCGIStdEngine::RunProcessRequest() {
    RunAsRole(ServerConstants::StdStartDelayMs, OwnRequest);
}
