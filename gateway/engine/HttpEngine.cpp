// The engine component's life: construction, the property setters and their
// forwarding, the locks, the process-wide state and the unit's start and end.
#include <concepts>
#include <mutex>

#include "gateway/engine/HttpEng.h"
#include "gateway/engine/Limits.h"
#include "gateway/engine/ProcessRole.h"
#include "gateway/engine/RequestContext.h"
#include "gateway/engine/WatchDog.h"
#include "platform/Process.h"
#include "platform/Random.h"

namespace {
std::atomic<std::uint32_t> testingTimeoutMs{0};

// Two engines constructed at once on two threads must not start two
// watchdogs.
std::mutex watchDogCreation;

void StartWatchDog() {
    std::lock_guard<std::mutex> hold(watchDogCreation);
    if (WatchDog.load() != nullptr) return;
    auto* dog = new TWatchDogThread(EngineSettings::WatchDogIntervalMs);
    dog->Priority = TThreadPriority::tpHighest;
    WatchDog.store(dog);
    dog->Start();
}

// Start of the unit, before any engine exists: log lines written before the
// first request carry a tag too. At its end the watchdog is stopped; a
// console build's front end has finished its request before.
struct TEngineUnit {
    TEngineUnit() {
        RequestLock.store(nullptr);
        WatchDog.store(nullptr);
        RequestContext.CurrentEngine = nullptr;
        RequestCount.store(0);
        SeedRandom();
        RequestContext.RequestId = static_cast<std::int32_t>(NextRandom(EngineLimits::RequestIdRange));
    }
    // The console front ends finish their request themselves: by now the
    // main thread's request context has already been destroyed (thread
    // storage ends before static storage), so it is not touched here.
    ~TEngineUnit() {
        if (TWatchDogThread* dog = WatchDog.exchange(nullptr)) dog->Terminate();
    }
    TEngineUnit(const TEngineUnit&) = delete;
    TEngineUnit& operator=(const TEngineUnit&) = delete;
};
TEngineUnit engineUnit;
}  // namespace

std::uint32_t BodyReadTimeoutMs() {
    const std::uint32_t shortened = testingTimeoutMs.load();
    return shortened != 0 ? shortened : EngineSettings::BodyReadTimeoutMs;
}

void SetBodyReadTimeoutForTesting(std::uint32_t milliseconds) { testingTimeoutMs.store(milliseconds); }

THttpEngine::THttpEngine(TComponent* owner) : TComponent(owner) {
    // The last engine constructed on a thread is its current engine until a
    // request binds another. The property defaults are the member values.
    BindEngine(this);
    if (Designing()) return;
    if (Application != nullptr) Application->ShowMainForm = false;
    if (!InHostProcess()) StartWatchDog();
}

THttpEngine::~THttpEngine() {
    if (RequestContext.CurrentEngine == this) RequestContext.CurrentEngine = nullptr;
}

namespace {
const TStringList& EmptyList() {
    static const TStringList empty;
    return empty;
}
}  // namespace

const TStringList& THttpEngine::Fields() const {
    return RequestContext.FieldList ? *RequestContext.FieldList : EmptyList();
}

const TStringList& THttpEngine::ServerVariables() const {
    return RequestContext.ServerVariableList ? *RequestContext.ServerVariableList : EmptyList();
}

THttpEngine* THttpEngine::ForwardTarget() const {
    THttpEngine* current = RequestContext.CurrentEngine;
    return current != nullptr && current != this ? current : nullptr;
}

namespace {
// A value already in place is not written again: in a host process several
// requests run at once and each sets the same settings on the shared engine
// (AutoContentType at the start of every request), which must stay reads.
// Events cannot be compared and are always stored.
template <class T>
void StoreChanged(T& field, const T& value) {
    if constexpr (std::equality_comparable<T>) {
        if (field == value) return;
    }
    field = value;
}
}  // namespace

// Each setter stores, then passes the value on to the thread's current
// engine when that is another object; that engine's own setter then finds
// itself current and stops. These properties are the engine's configuration,
// shared and not guarded: set before requests run and only read while they
// do. The one a handler sets during its request, AutoContentType, is per
// request (below).
#define ENGINE_SETTER(Setter, Field, Type)                                   \
    void THttpEngine::Setter(Type value) {                                   \
        StoreChanged(Field, value);                                          \
        if (THttpEngine* target = ForwardTarget()) target->Setter(value);    \
    }

ENGINE_SETTER(SetOnExecRequest, OnExecRequest, TExecRequestEvent)
ENGINE_SETTER(SetOnFirstExecRequest, OnFirstExecRequest, TFirstExecRequestEvent)
ENGINE_SETTER(SetOnLastExecRequest, OnLastExecRequest, TLastExecRequestEvent)
ENGINE_SETTER(SetOnPrepareRequest, OnPrepareRequest, TPrepareRequestEvent)
ENGINE_SETTER(SetOnRequestError, OnRequestError, TRequestErrorEvent)
ENGINE_SETTER(SetAutoHttpHeader, AutoHttpHeader, bool)
ENGINE_SETTER(SetAutoReadInput, AutoReadInput, bool)
ENGINE_SETTER(SetAutoReadLimit, AutoReadLimit, std::int32_t)
ENGINE_SETTER(SetServerMode, ServerMode, std::uint8_t)
ENGINE_SETTER(SetDebugMode, DebugMode, TDebugMode)
ENGINE_SETTER(SetNoCache, NoCache, bool)
ENGINE_SETTER(SetTempDir, TempDir, const std::string&)
#undef ENGINE_SETTER

// Per request, not guarded: a handler sets the content type of its own
// answer, and in a host other requests read the shared engine's value at the
// same time. While the calling thread serves a request the value is that
// request's (whichever engine it is set on); otherwise it is the engine's
// setting and passes on as the other setters do.
void THttpEngine::SetAutoContentType(const std::string& value) {
    TRequestContext& ctx = RequestContext;
    if (ctx.OutputBuffer != nullptr && ctx.CurrentEngine != nullptr) {
        ctx.ContentType = value;
        return;
    }
    StoreChanged(AutoContentType, value);
    if (THttpEngine* target = ForwardTarget()) target->SetAutoContentType(value);
}

void THttpEngine::SetBufferedOutput(bool) {
    if (!BufferedOutput) BufferedOutput = true;
}

// The methods forward when the current engine's methods hold another value
// (which also covers the current engine's own methods: nothing to do).
#define METHOD_SETTER(Setter, Field, Stored)                                           \
    void TAllowedMethods::Setter(bool value) {                                         \
        if (Field != (Stored)) Field = Stored;                                         \
        THttpEngine* current = RequestContext.CurrentEngine;                           \
        if (current != nullptr && current->AllowedMethods.Field != Field)              \
            current->AllowedMethods.Setter(Field);                                     \
    }

METHOD_SETTER(SetGet, Get, value)
METHOD_SETTER(SetPost, Post, value)
METHOD_SETTER(SetPut, Put, (static_cast<void>(value), false))
#undef METHOD_SETTER

void THttpEngine::RunConsoleRequest() {}

void THttpEngine::Shutdown() { HttpTerminate(); }

TCriticalSection* THttpEngine::CreateLock() { return new TCriticalSection(); }

void THttpEngine::EnterLock(TCriticalSection* lock) {
    if (lock != nullptr) lock->Enter();
}

void THttpEngine::LeaveLock(TCriticalSection* lock) {
    if (lock != nullptr) lock->Leave();
}

void THttpEngine::DestroyLock(TCriticalSection* lock) { delete lock; }
