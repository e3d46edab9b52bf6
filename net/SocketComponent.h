#pragma once
// A TCP client socket with a blocking programming model over asynchronous
// notifications: Connect, Writeln, ReadLn and Transaction return when their
// work is done, and keep the application's message loop running while they
// wait, so other handlers (and this component's own notifications, timer and
// continuation messages) run nested inside them. Every step is reported as a
// status text with a level.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/SmtpReply.h"
#include "net/ThreadTimer.h"
#include "platform/Exception.h"
#include "platform/Forms.h"
#include "platform/MessageLoop.h"
#include "platform/Sockets.h"
#include "platform/StringList.h"

class ESockError : public Exception {
public:
    using Exception::Exception;
};
// A wait ended by Cancel.
class EAbortError : public Exception {
public:
    using Exception::Exception;
};

using THandlerEvent = std::function<void(TObject* Sender, bool& Handled)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;

constexpr std::uint32_t CM_SOCKET = WM_USER + 101;
constexpr std::uint32_t CM_LOOKUP = WM_USER + 102;
constexpr std::uint32_t CM_SENDMORE = WM_USER + 103;
constexpr std::uint32_t CM_READMORE = WM_USER + 104;

// "Code:Text" for a WinSock error in the table, "Unknown Error No. Code"
// for any other, "" for 0.
std::string WinsockErrorText(int code);

class TSocketComponent : public TComponent {
public:
    explicit TSocketComponent(TComponent* owner);
    ~TSocketComponent() override;

    // Published.
    std::string Host;  // dotted IPv4 address or host name, at most 127 characters
    std::int32_t Port = 0;
    std::int32_t TimeOut = 0;  // ms, for a host look-up and a connect; 0: no limit
    std::int32_t ReportLevel = 0;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;

    // Public state.
    bool Connected = false;
    std::string Status;
    std::int32_t LastErrorNo = 0;
    std::string ReplyText;
    std::int16_t ReplyNumber = 0;
    std::int32_t BytesSent = 0;
    // The start-up report; filled only by the component that started the
    // socket layer for the process.
    TStringList WinsockInfo;
    // Socket components alive that started the socket layer.
    static int WinsockUsers;

    virtual void Connect();
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& command);
    // Run when the time-out fires and on destruction; the base does nothing.
    virtual void Abort() {}

    void Writeln(const std::string& text);
    // Text of more than 16384 characters is refused with ESockError; the
    // text ends at its first NUL character.
    void Write(const std::string& text);
    // length 0: up to the first NUL byte (at most 65535).
    void SendBuffer(const char* buffer, std::uint16_t length);
    // The next line including its line feed. Waits without a time limit:
    // only Cancel (EAbortError) or the peer closing the connection before a
    // line is complete (ESockError "Connection closed") end the wait.
    std::string ReadLn();
    void Cancel();

    void ReportStatus(int level, const std::string& text);
    // Raises ESockError with the error's text unless the last socket error
    // equals expected.
    void CheckError(int expected);
    std::string ErrorMessage(int code);

protected:
    // Starts destruction: reports "Destroy", runs Abort (the most derived
    // one when a descendant's destructor calls it) and Cancel.
    void BeginDestroy();
    void CloseSocket();
    void ClearReceiveBuffer() { receive_.Clear(); }

    bool Canceled = false;
    bool TimedOut = false;
    // Run when data arrives after a cancel.
    std::function<void()> ReadAbortHook;

private:
    void StartWinsock();
    void OpenSocket(int protocol, bool linger);
    void ResolveHost();
    void ResolveRemoteAddress();
    void StartTimeOut();
    void StopTimeOut();
    void TimeOutHandler(TObject* sender);
    void SendHandler();
    void ReceiveHandler();
    void CloseHandler();
    void WaitUntil(const std::function<bool()>& done);
    LRESULT WindowProc(std::uint32_t msg, WPARAM wParam, LPARAM lParam);
    void Dispatch(std::uint32_t msg, WPARAM wParam, LPARAM lParam);

    TSocket socket_ = INVALID_SOCKET;
    TSockAddrIn remote_;
    std::shared_ptr<THostEntry> lookup_;
    TAsyncHandle lookupHandle_ = 0;
    std::string text_;     // Write's buffer
    TLineBuffer receive_;  // received bytes not yet taken by ReadLn
    std::string sendQueue_;
    bool lastNotifyOk_ = true;
    bool lookupDone_ = false;
    bool drained_ = true;
    bool sendFailed_ = false;
    bool peerClosed_ = false;
    bool busy_ = false;
    bool destroying_ = false;
    bool destroyBegun_ = false;
    bool startedWinsock_ = false;
    std::unique_ptr<THiddenWindow> window_;
    std::unique_ptr<TThreadTimer> timer_;
};
