#pragma once
// The gateway engine core. THttpEngine is the abstract component every front
// end derives from: it runs one request at a time per thread through
// ProcessRequest, keeps that request's state in the thread's RequestContext,
// parses the form fields, buffers the response and emits the header block,
// and turns an exception that escapes the application's handlers into a log
// line and an error page. The free routines below let application code reach
// the calling thread's request without holding the engine.
//
// Properties are public members named as the property; assigning through
// the SetX member is what forwards the value to the thread's CurrentEngine
// (so a setting made on the form's component reaches the inner front end).
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "gateway/ServerVariables.h"
#include "gateway/UrlEncoded.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Forms.h"
#include "platform/Object.h"
#include "platform/StringList.h"
#include "platform/Streams.h"
#include "platform/Threads.h"

class THttpEngine;

// Build-time settings of the engine library.
namespace EngineSettings {
constexpr bool LogExceptions = true;
constexpr bool ShowExceptions = true;
// A body read that receives nothing for this long is given up (by the
// watchdog ending the process, or by ReadContent itself where no watchdog
// runs).
constexpr std::uint32_t BodyReadTimeoutMs = 30000;
// How often the watchdog looks at its deadline.
constexpr std::uint32_t WatchDogIntervalMs = 2000;
// The gateway log folder, relative to the executable's folder.
constexpr const char* DefaultLogDir = ".\\log";
// Largest piece in which the body is read and streams are copied.
constexpr int PieceSize = 1032;
}  // namespace EngineSettings

// The body-read inactivity timeout in effect; EngineSettings::BodyReadTimeoutMs
// unless a test shortened it.
std::uint32_t BodyReadTimeoutMs();
// For tests only: shortens (or restores, with 0) the body-read timeout so the
// watchdog and the stalled-read bound can be seen within a test's time.
void SetBodyReadTimeoutForTesting(std::uint32_t milliseconds);

// The version text that reading THttpEngine::Version yields.
inline constexpr const char* EngineVersionText = "Valsetto gateway 1.0";

enum TDebugMode : std::uint8_t { NoDebug = 0, DebugException = 1, DebugAlways = 2 };

// Sender is the engine that runs the request (for the form's selecting
// component, the inner front end, not the component itself).
using TExecRequestEvent = TNotifyEvent;
using TFirstExecRequestEvent = TNotifyEvent;
using TLastExecRequestEvent = TNotifyEvent;
using TPrepareRequestEvent = TNotifyEvent;
using TRequestErrorEvent = std::function<void(TObject* Sender, const Exception& ErrorReason)>;

// Which request methods the engine accepts. Put can never become true: the
// engine has no handling of PUT requests.
class TAllowedMethods : public TObject {
public:
    bool Put = false;
    bool Get = true;
    bool Post = true;

    // Store the value, then set it on the thread's CurrentEngine's methods
    // when those hold a different value.
    virtual void SetGet(bool value);
    virtual void SetPut(bool value);  // stores and forwards false
    virtual void SetPost(bool value);
};

// The request of the calling thread. The engine owns every object here from
// ProcessRequest on and releases them in FinishRequest; OutputStream may be
// the same object as InputStream.
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
    std::int32_t HeaderSent = 0;
    std::int32_t OutputSent = 0;
    std::int32_t RequestId = 0;  // 0..9999, written into log lines
    std::int32_t DebugDumpActive = 0;
    // AutoContentType as set while this request runs (SetAutoContentType).
    std::optional<std::string> ContentType;
};
extern thread_local TRequestContext RequestContext;

// Makes engine the calling thread's CurrentEngine.
void BindEngine(THttpEngine* engine);

// Ends a process whose body read has stalled: a deadline is a date-time
// (0 = disarmed) that ReadContent arms and moves; once one has passed the
// process ends with exit code 0. Frees itself when it ends.
class TWatchDogThread : public TThread {
public:
    TWatchDogThread();
    // The deadline of the calling thread's body read; 0 disarms it. Each
    // thread has its own, so concurrent reads (one thread per request) never
    // move or disarm each other's.
    void SetDeadline(TDateTime deadline);
    // True when the deadline of any thread has passed.
    [[nodiscard]] bool DeadlinePassed(TDateTime now);

protected:
    void Execute() override;

private:
    std::mutex deadlinesLock_;
    std::map<std::thread::id, TDateTime> deadlines_;
};

// Process-wide state of the engine unit.
extern std::atomic<TWatchDogThread*> WatchDog;
extern std::atomic<std::int32_t> RequestCount;  // requests that reached the event stage
extern std::atomic<TCriticalSection*> RequestLock;

class THttpEngine : public TComponent {
public:
    explicit THttpEngine(TComponent* owner);
    ~THttpEngine() override;

    // Published properties, with their constructor values.
    TAllowedMethods AllowedMethods;          // Get, Post true; Put false
    std::string AutoContentType = "text/html";
    bool AutoHttpHeader = true;
    bool AutoReadInput = true;
    std::int32_t AutoReadLimit = -1;         // 0 or negative: no limit
    TDebugMode DebugMode = NoDebug;
    bool NoCache = false;
    std::string TempDir = "Temp";            // stored and passed on only
    bool BufferedOutput = true;              // always true: output is always buffered
    TExecRequestEvent OnExecRequest;
    TFirstExecRequestEvent OnFirstExecRequest;
    TLastExecRequestEvent OnLastExecRequest;
    TPrepareRequestEvent OnPrepareRequest;
    TRequestErrorEvent OnRequestError;
    // Public, unpublished: 0 no resident server; 1 resident server serving
    // one request at a time; 2 one thread per request.
    std::uint8_t ServerMode = 0;

    // Reading yields EngineVersionText; writing is accepted and has no effect.
    std::string Version() const { return EngineVersionText; }
    void SetVersion(const std::string& value) { versionText_ = value; }

    // The current request's lists (of the calling thread); empty lists when
    // the thread has no request.
    const TStringList& Fields() const;
    const TStringList& ServerVariables() const;

    // Front-end operations. Value empty means Name is a complete line (a
    // status line such as "HTTP/1.0 200 OK").
    virtual void SendHeaderLine(const std::string& name, const std::string& value) = 0;
    virtual void EndHeaderBlock() = 0;
    // Answers a single variable when the front end cannot list them all.
    virtual std::string RawServerVariable(const std::string& name);
    // Sends what is pending and releases the request's objects.
    virtual void FinishRequest();

    // Server-variable accessors: ServerVariable of the name in the comment.
    virtual std::string GetServerSoftware();     // "SERVER SOFTWARE"
    virtual std::string GetGatewayInterface();   // "GATEWAY INTERFACE"
    virtual std::string GetServerProtocol();
    virtual std::string GetServerPort();
    virtual bool GetServerPortSecure();          // true exactly for "1"
    virtual std::string GetRequestMethod();
    virtual std::string GetPathInfo();
    virtual std::string GetPathTranslated();
    virtual std::string GetScriptName();
    virtual std::string GetQueryString();
    virtual std::string GetRemoteHost();
    virtual std::string GetRemoteAddr();
    virtual std::string GetAuthType();
    virtual std::string GetRemoteUser();
    virtual std::string GetRemoteIdent();
    virtual std::string GetContentType();
    virtual std::int32_t GetContentLength();     // 0 when empty or not a number
    virtual std::string GetUrl();
    virtual std::string GetUserAgent();
    virtual std::string GetHttpCookie();
    virtual std::string GetHttpReferer();
    virtual std::string GetExecutablePath();

    // Property setters: store, then forward to the thread's CurrentEngine
    // when that is another object.
    virtual void SetOnExecRequest(TExecRequestEvent value);
    virtual void SetOnFirstExecRequest(TFirstExecRequestEvent value);
    virtual void SetOnLastExecRequest(TLastExecRequestEvent value);
    virtual void SetOnPrepareRequest(TPrepareRequestEvent value);
    virtual void SetOnRequestError(TRequestErrorEvent value);
    virtual void SetAutoContentType(const std::string& value);
    virtual void SetAutoHttpHeader(bool value);
    virtual void SetAutoReadInput(bool value);
    virtual void SetAutoReadLimit(std::int32_t value);
    virtual void SetServerMode(std::uint8_t value);
    virtual void SetDebugMode(TDebugMode value);
    virtual void SetNoCache(bool value);
    virtual void SetTempDir(const std::string& value);
    virtual void SetBufferedOutput(bool value);  // stores true, forwards nothing

    // Console build: serves the request prepared at start-up.
    virtual void RunConsoleRequest();

    // Output: the header block and the buffered body.
    virtual void SendHeader();
    virtual void ClearOutput();
    virtual void AddHeader(const std::string& name, const std::string& value);
    virtual void AddDownloadHeaders(const std::string& ContentType, const std::string& FileName);
    virtual void Write(std::string_view Text);
    virtual void WriteLn(std::string_view Text);
    virtual void WriteStream(TStream& Stream);
    virtual void WriteBuffer(const void* Buffer, int Count);

    // Input: up to Count body bytes; -1 when there is no input stream.
    virtual int ReadContent(void* Buffer, int Count);
    virtual std::string ServerVariable(const std::string& name);
    // The field's value, or Default when absent or empty.
    virtual std::string FieldValue(const std::string& name, const std::string& Default);

    // Ends the gateway process (HttpTerminate).
    virtual void Shutdown();

    virtual TCriticalSection* CreateLock();
    virtual void EnterLock(TCriticalSection* Lock);    // nothing for none
    virtual void LeaveLock(TCriticalSection* Lock);    // nothing for none
    virtual void DestroyLock(TCriticalSection* Lock);  // nothing for none

    // A new unsorted list of the field names, in list order.
    virtual std::unique_ptr<TStringList> FieldNames();

    // Runs one request on the calling thread and takes ownership of the two
    // streams (freed once when they are the same object) and of the list.
    void ProcessRequest(TStream* input, TStream* output, TStringList* variables);
    void HandleRequestException(const Exception& E);
    // Starts plain-text debug output: status line and text/plain go out
    // now; later header lines are dropped and the debug dump follows.
    void StartDebugOutput();
    // SendHeaderLine unless the debug dump is active.
    void OutputHeaderLine(const std::string& name, const std::string& value);
    void SendPendingHeaders();
    // Limit and method checks, then body and query string into the fields;
    // raises Exception with the refusal's message.
    void ReadRequestInput();

private:
    void BindRequest(TStream* input, TStream* output, TStringList* variables);
    void RunHandlers();
    void HandleFailure(const Exception& E);
    void FinishAfterHandlers();
    void AddContentLength();
    void CompleteHeaderBlock();
    void AppendDebugDump();
    void ReadBody(std::int32_t length);
    THttpEngine* ForwardTarget() const;

    std::string versionText_;
};

// The base of the CGI-style front ends: header lines as CGI wants them, and
// the end of the process after the request.
class THttpCGIEngine : public THttpEngine {
public:
    explicit THttpCGIEngine(TComponent* owner);

    // The process ends after its request (unless in a resident server).
    bool CGIAutoTerminate = true;

    // A status line ("HTTP/1.x ...") becomes a "Status:" line under servers
    // whose software names NETSCAPE, APACHE or STRONGHOLD.
    void SendHeaderLine(const std::string& name, const std::string& value) override;
    void EndHeaderBlock() override;
    void FinishRequest() override;

    // With an output stream: serve that request now (ownership passes to
    // ProcessRequest). With all three absent: start up as this front end.
    virtual void RunRequest(TStream* input, TStream* output, TStringList* variables) = 0;

    // Runs the saved owner handler first unless the request is to be handed
    // to a resident server, then RunDeferred.
    void OwnerCreateHook(TObject* Sender);
    // The inherited Loaded, then the front end's own start-up.
    void RunDeferred();

    // The owner's OnCreate handler that OwnerCreateHook replaced.
    TNotifyEvent SavedOwnerCreate;

protected:
    // The start-up of a front end read from its form: a request for a
    // resident server that is not running yet goes at once; otherwise the
    // request waits for the owner module's OnCreate, so the application's
    // form is complete when it is served. Without a module, or when Loaded
    // comes again, it is served now: hooking twice would make the hook its
    // own saved handler and the owner's creation would recurse.
    void StartWhenOwnerCreated();

private:
    bool ownerHooked_ = false;
};

// The default error page and its log line.
void ReportException(const Exception& E);

// A header name or value holding CR or LF is refused with this message,
// never sent: it would split the response.
inline constexpr const char* HeaderLineBreakMessage = "Header name or value holds a line break";
void RefuseLineBreaks(const std::string& name, const std::string& value);

// Request routines: act on the calling thread's CurrentEngine; on a thread
// without one they do nothing and look-ups return empty (or Default).
void HttpWrite(std::string_view Text);  // Text and CR LF
void HttpSendHeader();
std::string HttpServerVariable(const std::string& name);
std::string HttpFieldValue(const std::string& name, const std::string& Default = "");
THttpEngine* CurrentHttpEngine();

// One line to the gateway log file ("CGI_LOG_DIR", else the executable's
// ".\log" folder); never raises.
void HttpLog(const std::string& Message);
// Sends what is pending, stops the watchdog, frees the application's forms
// and ends the process with exit code 0 (returns only inside a host server).
void HttpTerminate();

// A new list (the caller's) of Text split at CR, LF or CR LF.
std::unique_ptr<TStringList> TextToStringList(std::string_view Text);
// RFC 1123 form of a local date-time, e.g. "Sun, 06 Dec 2026 12:00:00 GMT".
std::string FormatHttpDate(TDateTime DateTime);
// An environment variable, empty when absent or longer than 4095 bytes;
// SERVER_SOFTWARE counts as absent when its value contains "ZB".
std::string GetEnvVariable(const std::string& name);
// A path from the folder of BasePath (or Dir with a drive), a name and an
// extension taken from BasePath or FileName; see the definition for the rules.
std::string ComposeFileName(const std::string& BasePath, const std::string& Dir, bool TakeBaseName,
                            const std::string& FileName, bool TakeBaseExt, const std::string& Ext);
std::string ExecutableFileName();
// The first match of a directory search; the search's result code (0 found).
int FindFileInfo(const std::string& Path, int Attributes, TSearchRec& Info);
std::string ReplaceChar(char Old, char New, std::string_view Text);
// Path unchanged when it has a drive; here a relative path stays relative.
std::string AddSystemDrive(const std::string& Path);
// Whether a path names a drive: "X:\" at its start, or a leading "\" or "/".
bool HasDrive(std::string_view Path);
