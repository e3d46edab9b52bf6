// One request's lifecycle: binding it to the thread, the handlers in their
// order, the default error handling and the start of plain-text debug output.
#include <mutex>

#include "gateway/engine/Failures.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/Limits.h"
#include "gateway/engine/ProcessRole.h"
#include "gateway/engine/RequestContext.h"
#include "gateway/engine/UrlEncoded.h"
#include "gateway/engine/WatchDog.h"
#include "platform/Forms.h"
#include "platform/Process.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {
std::mutex requestLockCreation;

TCriticalSection* SharedRequestLock(THttpEngine& engine) {
    std::lock_guard<std::mutex> hold(requestLockCreation);
    if (RequestLock.load() == nullptr) RequestLock.store(engine.CreateLock());
    return RequestLock.load();
}

// Calls a copy, so a handler that reassigns its own event stays valid.
template <class TEvent, class... TArgs>
void Fire(const TEvent& event, TArgs&&... args) {
    if (!event) return;
    TEvent handler = event;
    handler(std::forward<TArgs>(args)...);
}
}  // namespace

void THttpEngine::ProcessRequest(TStream* input, TStream* output, TStringList* variables) {
    // The request's objects, bound to the calling thread.
    BindRequest(input, output, variables);
    try {
        // The guarded section; a failure in it.
        Guarded([this] { RunHandlers(); }, [this](const Exception& e) { HandleFailure(e); });
    } catch (...) {
        // Also when an exception leaves the error handling.
        FinishAfterHandlers();
        throw;
    }
    // Finished whatever the handlers did.
    FinishAfterHandlers();
}

void THttpEngine::BindRequest(TStream* input, TStream* output, TStringList* variables) {
    TRequestContext& ctx = RequestContext;
    ctx.FieldList = std::make_unique<TStringList>(/*sorted=*/true);
    ctx.HeaderList = std::make_unique<TStringList>();
    ctx.OutputBuffer = std::make_unique<TMemoryStream>();
    ctx.CurrentEngine = this;
    ctx.HeaderSent = false;
    ctx.OutputSent = false;
    ctx.DebugDumpActive = false;
    ctx.ContentType.reset();
    ctx.InputStream = input;
    ctx.OutputStream = output;
    ctx.ServerVariableList.reset(variables);
    ctx.RequestId = static_cast<std::int32_t>(NextRandom(EngineLimits::RequestIdRange));
    ctx.RequestLockHeld = false;
}

void THttpEngine::RunHandlers() {
    TRequestContext& ctx = RequestContext;
    // Debug modes keep the body read and the log lines for the dump.
    ctx.ClientInputLog.reset();
    ctx.UserLog.reset();
    if (DebugMode != NoDebug) {
        ctx.ClientInputLog = std::make_unique<TMemoryStream>();
        ctx.UserLog = std::make_unique<TMemoryStream>();
        if (DebugMode == DebugAlways) StartDebugOutput();
    }
    Fire(OnPrepareRequest, this);
    if (AutoReadInput) ReadRequestInput();
    // A host process that serves one request at a time takes the shared lock.
    if (ServerMode == 1 && InHostProcess()) {
        EnterLock(SharedRequestLock(*this));
        RequestContext.RequestLockHeld = true;
    }
    // The first request of the process has an event of its own.
    if (InterlockedIncrement(RequestCount) == 1) Fire(OnFirstExecRequest, this);
    Fire(OnExecRequest, this);
    // Only a process that serves one request has a last one.
    if (EndsProcessWithRequest()) Fire(OnLastExecRequest, this);
    // A front end that finishes its request itself adds the length then.
    if (!ConsoleFinishesRequest()) AddContentLength();
}

void THttpEngine::HandleFailure(const Exception& e) {
    if (!OnRequestError) {
        HandleRequestException(e);
        return;
    }
    Guarded([&] { Fire(OnRequestError, this, e); }, [this](const Exception& again) { HandleRequestException(again); });
}

void THttpEngine::FinishAfterHandlers() {
    if (ConsoleFinishesRequest()) return;
    Guarded(
        [this] {
            if (RequestContext.RequestLockHeld) {
                RequestContext.RequestLockHeld = false;
                LeaveLock(RequestLock.load());
            }
            FinishRequest();
        },
        [this](const Exception& e) { HandleRequestException(e); });
}

void THttpEngine::AddContentLength() {
    const TRequestContext& ctx = RequestContext;
    if (!AutoHttpHeader || ctx.OutputSent || !ctx.OutputBuffer || ctx.OutputBuffer->Size() == 0) return;
    if (!ctx.HeaderList || !ctx.HeaderList->Values("content-length").empty()) return;
    AddHeader("content-length", IntToStr(ctx.OutputBuffer->Size()));
    AddHeader("Connection", "Keep-Alive");
}

void THttpEngine::HandleRequestException(const Exception& e) {
    if (DebugMode != NoDebug) StartDebugOutput();
    ReportException(e);
}

void ReportException(const Exception& e) {
    // The log line comes first, whatever follows.
    if (EngineSettings::LogExceptions) HttpLog("Unhandled Exception: " + e.Message);
    THttpEngine* engine = RequestContext.CurrentEngine;
    if (engine == nullptr) return;
    // The page replaces what is pending; in a debug mode the message
    // reaches the client through the dump's user log instead.
    if (engine->DebugMode != NoDebug || EngineSettings::ShowExceptions) {
        try {
            const TRequestContext& ctx = RequestContext;
            if (!ctx.DebugDumpActive) engine->ClearOutput();
            if (!ctx.HeaderSent) engine->AddHeader("content-type", "text/html");
            if (!ctx.DebugDumpActive)
                engine->WriteLn("<html><body>Unhandled Exception: " + HtmlEscape(e.Message) + "</body></html>");
        } catch (...) {
        }
    }
    // A CGI process answers and ends here.
    if (engine->EndsProcessWithRequest()) {
        engine->SendHeader();
        engine->Shutdown();
    }
}

void THttpEngine::StartDebugOutput() {
    TRequestContext& ctx = RequestContext;
    if (ctx.DebugDumpActive) return;
    ctx.DebugDumpActive = true;
    TStringList kept;
    if (ctx.HeaderList) {
        kept.Assign(*ctx.HeaderList);
        ctx.HeaderList->Clear();
    }
    SendHeaderLine("HTTP/1.0 200 OK", "");
    SendHeaderLine("content-type", "text/plain");
    EndHeaderBlock();
    ctx.HeaderSent = false;
    if (ctx.HeaderList) ctx.HeaderList->Assign(kept);
}

void HttpTerminate() {
    THttpEngine* engine = RequestContext.CurrentEngine;
    // What is pending goes out.
    Ignoring([&] {
        if (RequestContext.OutputStream != nullptr && engine != nullptr) engine->SendHeader();
    });
    // A CGI engine with CGIAutoTerminate is already finishing: that is
    // what called this routine.
    const bool hostOwnsProcess = InHostProcess();
    Ignoring([&] {
        if (engine != nullptr && (hostOwnsProcess || engine->TerminateFinishesRequest())) engine->FinishRequest();
    });
    // The watchdog must not end the process meanwhile.
    if (TWatchDogThread* dog = WatchDog.exchange(nullptr)) dog->Terminate();
    // The host process lives on.
    if (hostOwnsProcess) return;
    // The application's forms are freed (not in the console build).
    Ignoring([] {
        if (!EngineSettings::ConsoleFrontEnd && Application != nullptr) Application->FreeForms();
    });
    if (Application != nullptr) Application->Terminate();
    HaltProcess(0);
}
