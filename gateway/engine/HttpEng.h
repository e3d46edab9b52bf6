#pragma once
// The gateway engine core. THttpEngine is the abstract component every front
// end derives from: it runs one request at a time per thread through
// ProcessRequest, keeps that request's state in the thread's RequestContext,
// parses the form fields, buffers the response and emits the header block,
// and turns an exception that escapes the application's handlers into a log
// line and an error page. The free routines below let application code reach
// the calling thread's request without holding the engine.
// Properties are public members named as the property; assigning through
// the SetX member is what forwards the value to the thread's CurrentEngine
// (so a setting made on the form's component reaches the inner front end).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Exception.h"
#include "platform/Forms.h"
#include "platform/Object.h"
#include "platform/StringList.h"
#include "platform/Streams.h"
#include "platform/Threads.h"

// The version text that reading THttpEngine::Version yields.
inline constexpr const char* EngineVersionText = "Valsetto gateway 1.0";

enum TDebugMode : std::uint8_t { NoDebug = 0, DebugException = 1, DebugAlways = 2 };

// The sender is the engine that runs the request (for the form's selecting
// component, the inner front end, not the component itself).
using TExecRequestEvent = TNotifyEvent;
using TFirstExecRequestEvent = TNotifyEvent;
using TLastExecRequestEvent = TNotifyEvent;
using TPrepareRequestEvent = TNotifyEvent;
using TRequestErrorEvent = std::function<void(TObject* sender, const Exception& errorReason)>;

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

    // Front-end operations. An empty value means name is a complete line (a
    // status line such as "HTTP/1.0 200 OK").
    virtual void SendHeaderLine(const std::string& name, const std::string& value) = 0;
    virtual void EndHeaderBlock() = 0;
    // Answers a single variable when the front end cannot list them all.
    virtual std::string RawServerVariable(const std::string& name);
    // Sends what is pending and releases the request's objects.
    virtual void FinishRequest();
    // Whether the process ends with the request this engine serves (a CGI
    // process), so an unhandled failure is answered and ends it at once.
    virtual bool EndsProcessWithRequest() const { return false; }
    // Whether HttpTerminate finishes the request itself; an engine that ends
    // its process after each request is already finishing when it is called.
    virtual bool TerminateFinishesRequest() const { return false; }

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
    virtual void AddDownloadHeaders(const std::string& contentType, const std::string& fileName);
    virtual void Write(std::string_view text);
    virtual void WriteLn(std::string_view text);
    virtual void WriteStream(TStream& stream);
    virtual void WriteBuffer(const void* buffer, int count);

    // Input: up to count body bytes; -1 when there is no input stream.
    virtual int ReadContent(void* buffer, int count);
    virtual std::string ServerVariable(const std::string& name);
    // The field's value, or fallback when absent or empty.
    virtual std::string FieldValue(const std::string& name, const std::string& fallback);

    // Ends the gateway process (HttpTerminate).
    virtual void Shutdown();

    virtual TCriticalSection* CreateLock();
    virtual void EnterLock(TCriticalSection* lock);    // nothing for none
    virtual void LeaveLock(TCriticalSection* lock);    // nothing for none
    virtual void DestroyLock(TCriticalSection* lock);  // nothing for none

    // A new unsorted list of the field names, in list order.
    virtual std::unique_ptr<TStringList> FieldNames();

    // Runs one request on the calling thread and takes ownership of the two
    // streams (freed once when they are the same object) and of the list.
    void ProcessRequest(TStream* input, TStream* output, TStringList* variables);
    void HandleRequestException(const Exception& e);
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
    void HandleFailure(const Exception& e);
    void FinishAfterHandlers();
    void AddContentLength();
    void CompleteHeaderBlock();
    void AppendDebugDump();
    void ReadBody(std::int32_t length);
    THttpEngine* ForwardTarget() const;

    std::string versionText_;
};

// The default error page and its log line.
void ReportException(const Exception& e);
// Refused, never sent: a header line break would split the response.
inline constexpr const char* HeaderLineBreakMessage = "Header name or value holds a line break";
void RefuseLineBreaks(const std::string& name, const std::string& value);

// Request routines: act on the calling thread's CurrentEngine; on a thread
// without one they do nothing and look-ups return empty (or fallback).
void HttpWrite(std::string_view text);  // text and CR LF
void HttpSendHeader();
std::string HttpServerVariable(const std::string& name);
std::string HttpFieldValue(const std::string& name, const std::string& fallback = "");
THttpEngine* CurrentHttpEngine();

// One line to the gateway log file ("CGI_LOG_DIR", else the executable's
// ".\log" folder); never raises.
void HttpLog(const std::string& message);
// Sends what is pending, stops the watchdog, frees the application's forms
// and ends the process with exit code 0 (returns only inside a host server).
void HttpTerminate();
