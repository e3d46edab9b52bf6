// The in-process front end: the engine's header output and variable look-up
// over the control block, and the five entry points the host calls.
#include "gateway/frontends/IsapiEng.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>

#include "gateway/engine/Limits.h"
#include "gateway/engine/RequestContext.h"
#include "platform/SysUtils.h"

std::atomic<TIsapiEngine*> ActiveIsapiEngine{nullptr};
std::atomic<bool> IsapiUnloadAllowed{false};

constinit thread_local TIsapiThreadState IsapiThread;

namespace {
// Sets a per-thread value for the length of one entry-point call and puts
// the previous one back on every way out.
template <class T>
class TScopedValue {
public:
    TScopedValue(T& slot, T value) : slot_(slot), saved_(slot) { slot_ = value; }
    ~TScopedValue() { slot_ = saved_; }
    TScopedValue(const TScopedValue&) = delete;
    TScopedValue& operator=(const TScopedValue&) = delete;

private:
    T& slot_;
    T saved_;
};

// The gateway log, for use inside the entry points: nothing may leave them
// into the host, not even a failure to build the log line.
void LogSafely(const char* message) noexcept {
    try {
        HttpLog(message);
    } catch (...) {
    }
}

// Runs body; an exception of any kind is written to the gateway log and
// reported as true.
template <class TBody>
bool RaisedIn(TBody body) noexcept {
    try {
        body();
        return false;
    } catch (const std::exception& e) {
        LogSafely(e.what());
    } catch (...) {
        LogSafely("Unknown exception (not derived from Exception)");
    }
    return true;
}

// Copies text into a fixed field of capacity bytes: cut to capacity - 1
// bytes and always NUL-terminated.
void CopyToField(char* field, std::size_t capacity, const std::string& text) {
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// The structure's unsigned fields seen as the signed values the events take.
std::int32_t& AsSigned(ISAPI_DWORD& field) { return reinterpret_cast<std::int32_t&>(field); }

void ServeExtensionRequest(TIsapiEngine& engine) {
    // One stream over the control block serves as input and output.
    auto stream = std::make_unique<TIsapiStream>();
    IsapiThread.Stream = stream.get();
    // The variables, read from the control block now.
    std::unique_ptr<TStringList> variables(BuildIsapiVariables());
    // Input and output are the same stream; the engine owns both from here.
    TIsapiStream* both = stream.release();
    engine.ProcessRequest(both, both, variables.release());
}
}  // namespace

void IsapiEngStartup() { CreateIsapiEngineHook = CreateIsapiEngine; }

THttpEngine* CreateIsapiEngine(TComponent* owner) { return new TIsapiEngine(owner); }

TIsapiEngine::TIsapiEngine(TComponent* owner) : THttpEngine(owner) {
    ActiveIsapiEngine.store(this);
    IsapiUnloadAllowed.store(false);
}

TIsapiEngine::~TIsapiEngine() {
    TIsapiEngine* self = this;
    ActiveIsapiEngine.compare_exchange_strong(self, nullptr);
}

void TIsapiEngine::SetOnIsapiExtensionVersion(THttpExtensionVersionEvent handler) {
    OnIsapiExtensionVersion = std::move(handler);
}

void TIsapiEngine::SetOnIsapiFilterProc(THttpFilterProcEvent handler) { OnIsapiFilterProc = std::move(handler); }

void TIsapiEngine::SetOnIsapiFilterVersion(THttpFilterVersionEvent handler) {
    OnIsapiFilterVersion = std::move(handler);
}

namespace {
// A redirect value longer than the buffer is cut to 1024 characters (and
// logged); the server receives the NUL-terminated text and its length.
void SendRedirect(EXTENSION_CONTROL_BLOCK& ecb, const std::string& value) {
    std::array<char, IsapiLimits::RedirectBufferSize> buffer{};
    CopyToField(buffer.data(), buffer.size(), value);
    if (value.size() >= buffer.size()) HttpLog("Redirect location cut to 1024 characters: " + value.substr(0, 80));
    auto size = static_cast<ISAPI_DWORD>(std::strlen(buffer.data()));
    if (ecb.ServerSupportFunction != nullptr)
        ecb.ServerSupportFunction(ecb.ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, buffer.data(), &size, nullptr);
}
}  // namespace

void TIsapiEngine::SendHeaderLine(const std::string& name, const std::string& value) {
    EXTENSION_CONTROL_BLOCK* ecb = IsapiThread.Ecb;
    if (ecb == nullptr) return;
    RefuseLineBreaks(name, value);
    // A redirect goes through the server's own call.
    if (UpperCase(name) == "LOCATION") {
        SendRedirect(*ecb, value);
        return;
    }
    // Any other line goes to the stream as it stands.
    const std::string line = value.empty() ? name + "\r\n" : name + ": " + value + "\r\n";
    if (TIsapiStream* stream = IsapiThread.Stream) stream->WriteString(line);
}

void TIsapiEngine::EndHeaderBlock() {
    if (TIsapiStream* stream = IsapiThread.Stream) stream->WriteString("\r\n");
}

std::string TIsapiEngine::RawServerVariable(const std::string& name) { return FetchIsapiVariable(name); }

void TIsapiEngine::Shutdown() {
    try {
        if (IsapiThread.Ecb != nullptr) THttpEngine::Shutdown();
    } catch (...) {
        IsapiUnloadAllowed.store(true);
        throw;
    }
    IsapiUnloadAllowed.store(true);
}

// Without an active engine (the library's form was never created, or is
// gone) every entry point answers as a failure and touches nothing else.

ISAPI_BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) {
    if (pVer == nullptr) return ISAPI_FALSE;
    // The version and description the host is given unless a handler changes them.
    std::string description;
    bool result = true;
    pVer->dwExtensionVersion = HSE_VERSION;
    TIsapiEngine* engine = ActiveIsapiEngine.load();
    if (engine == nullptr) {
        LogSafely("GetExtensionVersion: no in-process engine exists");
        result = false;
    } else if (engine->OnIsapiExtensionVersion) {
        // The application's handler may change all three.
        const bool raised = RaisedIn([&] {
            const THttpExtensionVersionEvent handler = engine->OnIsapiExtensionVersion;
            handler(pVer->dwExtensionVersion, description, result);
        });
        if (raised) result = false;
    }
    // The description is cut to the host's field.
    if (RaisedIn([&] { CopyToField(pVer->lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN, description); })) result = false;
    return result ? ISAPI_TRUE : ISAPI_FALSE;
}

ISAPI_DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
    TIsapiEngine* engine = ActiveIsapiEngine.load();
    if (engine == nullptr || pECB == nullptr) {
        LogSafely("HttpExtensionProc: no in-process engine or no control block");
        return HSE_STATUS_ERROR;
    }
    // This call's control block and stream, put back on return.
    TScopedValue<EXTENSION_CONTROL_BLOCK*> ecb(IsapiThread.Ecb, pECB);
    TScopedValue<TIsapiStream*> stream(IsapiThread.Stream, nullptr);
    IsapiThread.Status = HSE_STATUS_SUCCESS;
    // A failure that leaves the request answers the host with an error status.
    if (RaisedIn([&] { ServeExtensionRequest(*engine); })) return HSE_STATUS_ERROR;
    return IsapiThread.Status;
}

ISAPI_BOOL TerminateExtension(ISAPI_DWORD) {
    TIsapiEngine* engine = ActiveIsapiEngine.load();
    if (engine != nullptr && engine->OnLastExecRequest) {
        const bool raised = RaisedIn([&] {
            const TLastExecRequestEvent handler = engine->OnLastExecRequest;
            handler(engine->Owner());
        });
        if (raised) return ISAPI_TRUE;
    }
    return IsapiUnloadAllowed.load() ? ISAPI_TRUE : ISAPI_FALSE;
}

ISAPI_BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
    TIsapiEngine* engine = ActiveIsapiEngine.load();
    if (pVer == nullptr || engine == nullptr) {
        LogSafely("GetFilterVersion: no in-process engine or no version structure");
        return ISAPI_FALSE;
    }
    // The engine serves this thread; the defaults answer without a handler.
    BindEngine(engine);
    bool result = true;
    pVer->dwFlags = 0;
    pVer->dwFilterVersion = HTTP_FILTER_REVISION;
    // A handler may change what the host is told.
    if (engine->OnIsapiFilterVersion) {
        std::string description;
        const bool raised = RaisedIn([&] {
            const THttpFilterVersionEvent handler = engine->OnIsapiFilterVersion;
            handler(AsSigned(pVer->dwServerFilterVersion), AsSigned(pVer->dwFilterVersion), description,
                    AsSigned(pVer->dwFlags), result);
            CopyToField(pVer->lpszFilterDesc, SF_MAX_FILTER_DESC_LEN, description);
        });
        if (raised) return ISAPI_FALSE;
    }
    return result ? ISAPI_TRUE : ISAPI_FALSE;
}

ISAPI_DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, ISAPI_DWORD NotificationType, void* pvNotification) {
    std::int32_t result = SF_STATUS_REQ_NEXT_NOTIFICATION;
    TIsapiEngine* engine = ActiveIsapiEngine.load();
    if (engine == nullptr) return static_cast<ISAPI_DWORD>(result);
    // The engine serves this thread.
    BindEngine(engine);
    const auto notification = static_cast<std::int32_t>(NotificationType);
    TScopedValue<std::int32_t> kind(IsapiThread.Notification, notification);
    TScopedValue<THTTP_FILTER_CONTEXT*> context(IsapiThread.FilterContext, pfc);
    // After an exception the result stands as the handler left it.
    if (engine->OnIsapiFilterProc && pfc != nullptr) {
        RaisedIn([&] {
            const THttpFilterProcEvent handler = engine->OnIsapiFilterProc;
            handler(*pfc, notification, pvNotification, result);
        });
    }
    return static_cast<ISAPI_DWORD>(result);
}
