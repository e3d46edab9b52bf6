#include "gateway/frontends/GenEng.h"

#include "gateway/engine/ProcessRole.h"
#include "gateway/frontends/CGISEng.h"
#include "gateway/frontends/CGIWEng.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "gateway/servermode/ServerMode.h"
#include "platform/Exception.h"
#include "platform/Forms.h"
#include "platform/Process.h"

TCreateIsapiEngineHook CreateIsapiEngineHook = nullptr;
THttpCGIEngine* ConcreteCgiEngine = nullptr;
THttpEngine* ConcreteIsapiEngine = nullptr;

namespace {
// The owner whose creation event the request waits for: a form or a data
// module; any other owner (or none) gets its request at once.
TCustomModule* CreationOwner(TComponent* owner) {
    if (auto* form = dynamic_cast<TForm*>(owner)) return form;
    if (auto* module = dynamic_cast<TDataModule*>(owner)) return module;
    return nullptr;
}

THttpEngine* CreateConcreteEngine(TComponent* owner) {
    ConcreteCgiEngine = nullptr;
    ConcreteIsapiEngine = nullptr;
    if (InHostProcess()) {
        if (CreateIsapiEngineHook == nullptr)
            throw Exception("TGeneralHttpEngine: loaded into a host server, but no in-process front end is registered");
        ConcreteIsapiEngine = CreateIsapiEngineHook(owner);
        if (ConcreteIsapiEngine == nullptr)
            throw Exception("TGeneralHttpEngine: the in-process front end could not be created");
        return ConcreteIsapiEngine;
    }
    if (IsWinCgi())
        ConcreteCgiEngine = new TCGIWinEngine(owner);
    else
        ConcreteCgiEngine = new TCGIStdEngine(owner);
    return ConcreteCgiEngine;
}
}  // namespace

void GenEngStartup() {
    ConcreteCgiEngine = nullptr;
    ConcreteIsapiEngine = nullptr;
}

TGeneralHttpEngine::TGeneralHttpEngine(TComponent* owner) : THttpEngine(owner) {
    if (!Designing()) {
        concrete_ = CreateConcreteEngine(owner);
        // Without an owner nobody else would free it.
        ownsConcrete_ = owner == nullptr;
    }
    SetCGIAutoTerminate(true);
}

TGeneralHttpEngine::~TGeneralHttpEngine() {
    // An owner frees the concrete engine first (it was created after this
    // component), so the process-wide references must not outlive it.
    if (concrete_ != nullptr && ConcreteCgiEngine == concrete_) ConcreteCgiEngine = nullptr;
    if (concrete_ != nullptr && ConcreteIsapiEngine == concrete_) ConcreteIsapiEngine = nullptr;
    if (ownsConcrete_) delete concrete_;
}

void TGeneralHttpEngine::SendHeaderLine(const std::string&, const std::string&) {}
void TGeneralHttpEngine::EndHeaderBlock() {}

void TGeneralHttpEngine::Loaded() {
    if (Designing()) return;
    THttpEngine::Loaded();
    // In a host server requests arrive through the exported entry points.
    if (InHostProcess()) {
        CopyEngineSettings(ConcreteIsapiEngine);
        return;
    }
    // A form or data module serves once its own creation is done; any other
    // owner, or none, at once.
    ownerHook_.ServeWhenOwnerCreated(*this, CreationOwner(Owner()), [this] { RunDeferred(); });
}

void TGeneralHttpEngine::RunDeferred() {
    if (ConcreteCgiEngine == nullptr) throw Exception("TGeneralHttpEngine: no CGI front end to run the request on");
    CopyEngineSettings(ConcreteCgiEngine);
    try {
        ConcreteCgiEngine->RunProcessRequest();
    } catch (const std::exception& e) {
        // A request that cannot even start (a Windows CGI data file naming
        // no output file it can create) has nobody to answer. Left to the
        // form's creation it would abort the process, or leave it waiting
        // in the message loop for ever: log it and end as a request would.
        HttpLog(e.what());
        if (!ConcreteCgiEngine->CGIAutoTerminate) throw;
        HttpTerminate();
    }
}

void TGeneralHttpEngine::CopyEngineSettings(THttpEngine* target) {
    if (target == nullptr) throw Exception("TGeneralHttpEngine: no front end to pass the settings on to");
    target->SetOnExecRequest(OnExecRequest);
    target->SetOnFirstExecRequest(OnFirstExecRequest);
    target->SetOnLastExecRequest(OnLastExecRequest);
    target->SetOnRequestError(OnRequestError);
    target->SetOnPrepareRequest(OnPrepareRequest);
    target->SetDebugMode(DebugMode);
    target->SetNoCache(NoCache);
    target->SetAutoContentType(AutoContentType);
    target->SetAutoHttpHeader(AutoHttpHeader);
    target->SetAutoReadInput(AutoReadInput);
    target->SetAutoReadLimit(AutoReadLimit);
    target->AllowedMethods.SetGet(AllowedMethods.Get);
    target->AllowedMethods.SetPost(AllowedMethods.Post);
    target->AllowedMethods.SetPut(AllowedMethods.Put);
    if (auto* cgi = dynamic_cast<THttpCGIEngine*>(target)) cgi->CGIAutoTerminate = cgiAutoTerminate_;
    target->SetServerMode(ServerMode);
    target->SetTempDir(TempDir);
}

void TGeneralHttpEngine::Shutdown() {
    THttpEngine* current = CurrentHttpEngine();
    if (current != nullptr && current != this) current->Shutdown();
}

void TGeneralHttpEngine::SetCGIAutoTerminate(bool value) {
    cgiAutoTerminate_ = value;
    if (!Designing() && !InHostProcess() && ConcreteCgiEngine != nullptr) ConcreteCgiEngine->CGIAutoTerminate = value;
}

TIsapiEventTarget* TGeneralHttpEngine::IsapiTarget() const {
    if (Designing() || !InHostProcess()) return nullptr;
    return dynamic_cast<TIsapiEventTarget*>(ConcreteIsapiEngine);
}

void TGeneralHttpEngine::SetOnIsapiExtensionVersion(THttpExtensionVersionEvent handler) {
    onIsapiExtensionVersion_ = handler;
    if (TIsapiEventTarget* target = IsapiTarget()) target->SetOnIsapiExtensionVersion(std::move(handler));
}

void TGeneralHttpEngine::SetOnIsapiFilterProc(THttpFilterProcEvent handler) {
    onIsapiFilterProc_ = handler;
    if (TIsapiEventTarget* target = IsapiTarget()) target->SetOnIsapiFilterProc(std::move(handler));
}

void TGeneralHttpEngine::SetOnIsapiFilterVersion(THttpFilterVersionEvent handler) {
    onIsapiFilterVersion_ = handler;
    if (TIsapiEventTarget* target = IsapiTarget()) target->SetOnIsapiFilterVersion(std::move(handler));
}
