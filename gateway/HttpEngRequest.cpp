// One request's lifecycle: binding it to the thread, the handlers in their
// order, the default error handling and the start of plain-text debug output.
#include <mutex>

#include "gateway/HttpEng.h"
#include "platform/Process.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {
// Whether this thread's request entered RequestLock: only then is it left.
thread_local bool requestLockHeld = false;

std::mutex requestLockCreation;

TCriticalSection* SharedRequestLock(THttpEngine& engine) {
    std::lock_guard<std::mutex> hold(requestLockCreation);
    if (RequestLock.load() == nullptr) RequestLock.store(engine.CreateLock());
    return RequestLock.load();
}

// Runs step; a failure it raises reaches failed as an Exception: one of
// the system's own as it is, a standard one with its text, anything else
// with a message of its own. No failure skips the error handling.
template <class TStep, class TFailed>
void Guarded(TStep step, TFailed failed) {
    try {
        step();
    } catch (const Exception& e) {
        failed(e);
    } catch (const std::exception& e) {
        failed(Exception(e.what()));
    } catch (...) {
        failed(Exception("Unknown exception"));
    }
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
    // 1, 2. The request's objects, bound to the calling thread.
    BindRequest(input, output, variables);
    try {
        // 3. The guarded section; 4. a failure in it.
        Guarded([this] { RunHandlers(); }, [this](const Exception& e) { HandleFailure(e); });
    } catch (...) {
        // 5. also when an exception leaves the error handling.
        FinishAfterHandlers();
        throw;
    }
    // 5.
    FinishAfterHandlers();
}

void THttpEngine::BindRequest(TStream* input, TStream* output, TStringList* variables) {
    TRequestContext& ctx = RequestContext;
    ctx.FieldList = std::make_unique<TStringList>(/*sorted=*/true);
    ctx.HeaderList = std::make_unique<TStringList>();
    ctx.OutputBuffer = std::make_unique<TMemoryStream>();
    ctx.CurrentEngine = this;
    ctx.HeaderSent = 0;
    ctx.OutputSent = 0;
    ctx.DebugDumpActive = 0;
    ctx.ContentType.reset();
    ctx.InputStream = input;
    ctx.OutputStream = output;
    ctx.ServerVariableList.reset(variables);
    ctx.RequestId = static_cast<std::int32_t>(NextRandom(10000));
    requestLockHeld = false;
}

void THttpEngine::RunHandlers() {
    TRequestContext& ctx = RequestContext;
    // 3.1
    ctx.ClientInputLog.reset();
    ctx.UserLog.reset();
    if (DebugMode != NoDebug) {
        ctx.ClientInputLog = std::make_unique<TMemoryStream>();
        ctx.UserLog = std::make_unique<TMemoryStream>();
        if (DebugMode == DebugAlways) StartDebugOutput();
    }
    // 3.2
    Fire(OnPrepareRequest, this);
    // 3.3
    if (AutoReadInput) ReadRequestInput();
    // 3.4
    if (ServerMode == 1 && RunningAsLibrary) {
        EnterLock(SharedRequestLock(*this));
        requestLockHeld = true;
    }
    // 3.5
    if (InterlockedIncrement(RequestCount) == 1) Fire(OnFirstExecRequest, this);
    // 3.6
    Fire(OnExecRequest, this);
    // 3.7 Only a process that serves one request has a last one.
    if (!RunningAsLibrary && ServerMode == 0) Fire(OnLastExecRequest, this);
    // 3.8
    if (!ConsoleBuild) AddContentLength();
}

void THttpEngine::HandleFailure(const Exception& E) {
    if (!OnRequestError) {
        HandleRequestException(E);
        return;
    }
    Guarded([&] { Fire(OnRequestError, this, E); }, [this](const Exception& again) { HandleRequestException(again); });
}

void THttpEngine::FinishAfterHandlers() {
    if (ConsoleBuild) return;  // the console front end finishes it
    Guarded(
        [this] {
            if (requestLockHeld) {
                requestLockHeld = false;
                LeaveLock(RequestLock.load());
            }
            FinishRequest();
        },
        [this](const Exception& e) { HandleRequestException(e); });
}

void THttpEngine::AddContentLength() {
    const TRequestContext& ctx = RequestContext;
    if (!AutoHttpHeader || ctx.OutputSent != 0 || !ctx.OutputBuffer || ctx.OutputBuffer->Size() == 0) return;
    if (!ctx.HeaderList || !ctx.HeaderList->Values("content-length").empty()) return;
    AddHeader("content-length", IntToStr(ctx.OutputBuffer->Size()));
    AddHeader("Connection", "Keep-Alive");
}

void THttpEngine::HandleRequestException(const Exception& E) {
    if (DebugMode != NoDebug) StartDebugOutput();
    ReportException(E);
}

void ReportException(const Exception& E) {
    // 1.
    if (EngineSettings::LogExceptions) HttpLog("Unhandled Exception: " + E.Message);
    THttpEngine* engine = RequestContext.CurrentEngine;
    if (engine == nullptr) return;
    // 2. The page replaces what is pending; in a debug mode the message
    // reaches the client through the dump's user log instead.
    if (engine->DebugMode != NoDebug || EngineSettings::ShowExceptions) {
        try {
            const TRequestContext& ctx = RequestContext;
            if (ctx.DebugDumpActive == 0) engine->ClearOutput();
            if (ctx.HeaderSent == 0) engine->AddHeader("content-type", "text/html");
            if (ctx.DebugDumpActive == 0)
                engine->WriteLn("<html><body>Unhandled Exception: " + HtmlEscape(E.Message) + "</body></html>");
        } catch (...) {
        }
    }
    // 3. A CGI process answers and ends here.
    if (dynamic_cast<THttpCGIEngine*>(engine) != nullptr && engine->ServerMode == 0) {
        engine->SendHeader();
        engine->Shutdown();
    }
}

void THttpEngine::StartDebugOutput() {
    TRequestContext& ctx = RequestContext;
    if (ctx.DebugDumpActive != 0) return;
    ctx.DebugDumpActive = 1;
    TStringList kept;
    if (ctx.HeaderList) {
        kept.Assign(*ctx.HeaderList);
        ctx.HeaderList->Clear();
    }
    SendHeaderLine("HTTP/1.0 200 OK", "");
    SendHeaderLine("content-type", "text/plain");
    EndHeaderBlock();
    ctx.HeaderSent = 0;
    if (ctx.HeaderList) ctx.HeaderList->Assign(kept);
}

namespace {
// Each step of the end runs even when an earlier one failed, whatever it
// raised.
template <class TStep>
void Ignoring(TStep step) {
    try {
        step();
    } catch (...) {
    }
}
}  // namespace

void HttpTerminate() {
    THttpEngine* engine = RequestContext.CurrentEngine;
    // 1.
    Ignoring([&] {
        if (RequestContext.OutputStream != nullptr && engine != nullptr) engine->SendHeader();
    });
    // 2. A CGI engine with CGIAutoTerminate is already finishing: that is
    // what called this routine.
    Ignoring([&] {
        auto* cgi = dynamic_cast<THttpCGIEngine*>(engine);
        if (engine != nullptr && (RunningAsLibrary || (cgi != nullptr && !cgi->CGIAutoTerminate))) engine->FinishRequest();
    });
    // 3.
    if (TWatchDogThread* dog = WatchDog.exchange(nullptr)) dog->Terminate();
    // 4. The host process lives on.
    if (RunningAsLibrary) return;
    // 5.
    Ignoring([] {
        if (!ConsoleBuild && Application != nullptr) Application->FreeForms();
    });
    // 6.
    if (Application != nullptr) Application->Terminate();
    HaltProcess(0);
}

TWatchDogThread::TWatchDogThread() : TThread(/*createSuspended=*/true) {}

void TWatchDogThread::SetDeadline(TDateTime deadline) {
    std::lock_guard<std::mutex> hold(deadlinesLock_);
    if (deadline > 0)
        deadlines_[std::this_thread::get_id()] = deadline;
    else
        deadlines_.erase(std::this_thread::get_id());
}

bool TWatchDogThread::DeadlinePassed(TDateTime now) {
    std::lock_guard<std::mutex> hold(deadlinesLock_);
    for (const auto& entry : deadlines_)
        if (now > entry.second) return true;
    return false;
}

void TWatchDogThread::Execute() {
    while (!Terminated()) {
        if (DeadlinePassed(Now())) HaltProcess(0);
        Sleep(EngineSettings::WatchDogIntervalMs);
    }
}
