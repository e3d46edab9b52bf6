#pragma once
// The request of the calling thread, and the engine's process-wide request
// state. Every request's state lives in its thread's record, so requests on
// several threads (a host server's workers, a resident server's request
// threads) never see each other's.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/Threads.h"

class THttpEngine;

// The engine owns every object here from ProcessRequest on and releases them
// in FinishRequest; OutputStream may be the same object as InputStream.
struct TRequestContext {
    THttpEngine* CurrentEngine = nullptr;
    TStream* InputStream = nullptr;
    TStream* OutputStream = nullptr;
    std::unique_ptr<TMemoryStream> ClientInputLog;  // debug modes only: every body byte read
    std::unique_ptr<TMemoryStream> UserLog;         // debug modes only: every HttpLog line
    std::unique_ptr<TStringList> ServerVariableList;
    std::unique_ptr<TStringList> FieldList;  // sorted, Name=Value
    std::unique_ptr<TMemoryStream> OutputBuffer;
    std::unique_ptr<TStringList> HeaderList;  // insertion order, Name=Value
    bool HeaderSent = false;
    bool OutputSent = false;
    std::int32_t RequestId = 0;  // 0..9999, written into log lines
    bool DebugDumpActive = false;
    bool RequestLockHeld = false;  // this request entered RequestLock: only then is it left
    // AutoContentType as set while this request runs (SetAutoContentType).
    std::optional<std::string> ContentType;
};
extern thread_local TRequestContext RequestContext;

// Makes engine the calling thread's CurrentEngine.
void BindEngine(THttpEngine* engine);

// Requests that reached the event stage, in this process.
extern std::atomic<std::int32_t> RequestCount;
// Shared by the requests of a host process that serves one at a time.
extern std::atomic<TCriticalSection*> RequestLock;
