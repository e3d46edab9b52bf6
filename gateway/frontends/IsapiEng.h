#pragma once
// The in-process front end. A host web server that loads the program as an
// extension calls the five exported entry points below on its own worker
// threads; each HttpExtensionProc call serves one request completely on the
// calling thread through ProcessRequest, with one TIsapiStream as both the
// request input and the response output and a server-variable list built
// from the extension control block.
//
// Concurrency: several requests run at once and no lock is taken. What a
// request changes lives in the per-thread values below and in the engine
// core's RequestContext; the one TIsapiEngine is shared and only read while
// requests run.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/engine/Limits.h"
#include "gateway/frontends/GenEng.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/IsapiTypes.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

class TIsapiEngine;
class TIsapiStream;

// Process-wide: the engine the entry points use (each constructor stores
// itself here, the destructor clears it when it is still this engine), and
// what TerminateExtension answers (false from construction, true once the
// application has called Shutdown during a request).
extern std::atomic<TIsapiEngine*> ActiveIsapiEngine;
extern std::atomic<bool> IsapiUnloadAllowed;

// Per-thread: the control block, stream and result of the extension request
// the thread serves, and the filter context and notification type of the
// filter notification it serves. The entry points set them on entry and put
// back the previous values on return, so no call ever sees a control block
// or filter context left over from an earlier one. Declared constinit, so
// other units reach them directly, without a thread-init wrapper.
struct TIsapiThreadState {
    EXTENSION_CONTROL_BLOCK* Ecb = nullptr;
    TIsapiStream* Stream = nullptr;
    ISAPI_DWORD Status = HSE_STATUS_SUCCESS;
    THTTP_FILTER_CONTEXT* FilterContext = nullptr;
    std::int32_t Notification = 0;
};
extern constinit thread_local TIsapiThreadState IsapiThread;

// Start-up routine of the in-process unit: registers CreateIsapiEngine with
// the selecting component. Runs after the engine core, before the server
// mode.
void IsapiEngStartup();
// Creates a TIsapiEngine with the given owner (CreateIsapiEngineHook).
THttpEngine* CreateIsapiEngine(TComponent* owner);

// The value of one server variable, asked of the server through the
// thread's control block, else through its filter context; empty when the
// thread has neither, the server does not know the name, or the answer is
// empty. Leading and trailing blanks and control characters are trimmed.
std::string FetchIsapiVariable(const std::string& name);

// The entries the ALL_HTTP block adds to the variable list, in block order:
// each line holding ":" (or, failing that, "=") with that first separator
// made "=", trimmed. A line with neither separator adds nothing; splitting
// stops once 2 characters or fewer are left (the block gets a final "\n").
std::vector<std::string> SplitAllHttp(std::string_view allHttp);

// Adds each entry, in order, to a sorted list unless an identical entry
// (byte for byte) is present: entries that differ in letter case only are
// both kept. One sort for all of them, however many lines a client sends.
void AddIsapiVariables(TStringList& list, std::vector<std::string> entries);

// A new sorted list (the caller's) of the server variables of the thread's
// control block: its own fields, the fixed names asked of the server, and
// the ALL_HTTP lines. Empty without a control block.
TStringList* BuildIsapiVariables();

// The stream over the thread's control block. Read hands out the preloaded
// body first and then reads from the client; Write goes straight to the
// client; Seek answers 0, so position and size are 0.
class TIsapiStream : public TStream {
public:
    // Clears IsapiThread.Stream when it is this stream: the engine frees the
    // stream when the request finishes (also early, through Shutdown), and
    // header output after that must find no stream rather than a freed one.
    ~TIsapiStream() override;

    // Preloaded body bytes (lpbData) already handed out.
    std::uint32_t PreloadPos = 0;

    // Bytes delivered, or -1 when ReadClient fails or returns nothing (even
    // after some bytes were delivered) or the thread has no control block.
    int Read(void* buffer, int count) override;
    // The count as WriteClient left it; 0 without a control block.
    int Write(const void* buffer, int count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
};

class TIsapiEngine : public THttpEngine, public TIsapiEventTarget {
public:
    explicit TIsapiEngine(TComponent* owner);
    ~TIsapiEngine() override;

    THttpExtensionVersionEvent OnIsapiExtensionVersion;
    THttpFilterProcEvent OnIsapiFilterProc;
    THttpFilterVersionEvent OnIsapiFilterVersion;

    void SetOnIsapiExtensionVersion(THttpExtensionVersionEvent handler) override;
    void SetOnIsapiFilterProc(THttpFilterProcEvent handler) override;
    void SetOnIsapiFilterVersion(THttpFilterVersionEvent handler) override;

    // Only with a control block on the thread. A "Location" line (any letter
    // case) becomes the server's own redirect response and is not written;
    // every other line goes to the client as "Name: Value" (or the bare name
    // for an empty value) and CR LF.
    void SendHeaderLine(const std::string& name, const std::string& value) override;
    void EndHeaderBlock() override;
    std::string RawServerVariable(const std::string& name) override;
    // With a control block: ends the request (HttpTerminate); always allows
    // the unload.
    void Shutdown() override;
};

// The exported entry points, looked up by name by the host.
#define VALSETTO_EXPORT __attribute__((visibility("default")))
extern "C" {
VALSETTO_EXPORT ISAPI_BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer);
VALSETTO_EXPORT ISAPI_DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB);
VALSETTO_EXPORT ISAPI_BOOL TerminateExtension(ISAPI_DWORD dwFlags);
VALSETTO_EXPORT ISAPI_BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer);
VALSETTO_EXPORT ISAPI_DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, ISAPI_DWORD NotificationType,
                                           void* pvNotification);
}
#undef VALSETTO_EXPORT
