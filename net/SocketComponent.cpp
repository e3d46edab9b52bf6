#include "net/SocketComponent.h"

#include <algorithm>
#include <cstring>

#include "net/SmtpReply.h"
#include "platform/SysUtils.h"

namespace {

constexpr int kBlock = 16383;         // bytes per send or recv
constexpr std::size_t kMaxHost = 127;  // characters of Host
constexpr std::size_t kMaxText = 16384;
constexpr long kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

std::string VersionText(std::uint16_t version) {
    return IntToStr(version >> 8) + "." + IntToStr(version & 0xFF);
}

}  // namespace

int TSocketComponent::WinsockUsers = 0;

TSocketComponent::TSocketComponent(TComponent* owner) : TComponent(owner) {
    ReportStatus(8, "Create");
    window_ = std::make_unique<THiddenWindow>(
        [this](std::uint32_t msg, WPARAM w, LPARAM l) { return WindowProc(msg, w, l); });
    text_.reserve(kMaxText + 1);
    timer_ = std::make_unique<TThreadTimer>(nullptr);
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](TObject* sender) { TimeOutHandler(sender); });
    if (!Designing()) StartWinsock();
}

// The numbered steps of the socket layer's start-up; a failure of any of
// them becomes one ESockError.
void TSocketComponent::StartWinsock() {
    ReportStatus(8, "Initializing Winsock");
    try {
        if (WinsockUsers++ == 0) {
            startedWinsock_ = true;
            TWSAData data;
            [[maybe_unused]] const int result = WSAStartup(0x0101, data);  // not tested
            WinsockInfo.Add("Version= " + VersionText(data.Version));
            WinsockInfo.Add("High Version= " + VersionText(data.HighVersion));
            WinsockInfo.Add("Description= " + data.Description.substr(0, 256));
            WinsockInfo.Add("System= " + data.SystemStatus.substr(0, 128));
            WinsockInfo.Add("Max Sockets= " + IntToStr(data.MaxSockets));
            WinsockInfo.Add("Max Udp pack size= " + IntToStr(data.MaxUdpDg));
        }
        OpenSocket(kIpProtoTcp, true);
    } catch (const std::exception&) {
        if (--WinsockUsers == 0) WSACleanup();
        startedWinsock_ = false;
        throw ESockError("Initializaton of windows sockets failed");
    }
}

// A stream socket with all six notifications selected; with linger, a
// close resets the connection at once.
void TSocketComponent::OpenSocket(int protocol, bool linger) {
    socket_ = SocketOpen(kAfInet, kSockStream, protocol);
    if (socket_ == INVALID_SOCKET) {
        CheckError(WSAEWOULDBLOCK);
        throw ESockError(ErrorMessage(LastErrorNo));
    }
    if (linger) (void)SocketSetLinger(socket_, true, 0);
    if (WSAAsyncSelect(socket_, window_->Handle(), CM_SOCKET, kAllEvents) == SOCKET_ERROR)
        CheckError(WSAEWOULDBLOCK);
}

TSocketComponent::~TSocketComponent() {
    if (!destroyBegun_) BeginDestroy();
    timer_.reset();
    destroying_ = true;
    if (!Designing()) {
        CloseSocket();
        if (--WinsockUsers == 0) WSACleanup();
    }
    window_.reset();
}

void TSocketComponent::BeginDestroy() {
    destroyBegun_ = true;
    ReportStatus(8, "Destroy");
    try {
        Abort();
    } catch (const std::exception&) {
        // A failure while closing is of no use to anyone at destruction.
    }
    Cancel();
}

void TSocketComponent::ReportStatus(int level, const std::string& text) {
    if (ReportLevel < level) return;
    Status = text;
    if (!destroying_ && OnStatus) OnStatus(this, Status);
}

std::string TSocketComponent::ErrorMessage(int code) {
    ReportStatus(8, "Looking Up Error Message");
    return WinsockErrorText(code);
}

// Equality, not the bit test some hosts used, so that an error whose number
// holds the expected one's bits (WSAEDESTADDRREQ, WSAEPROTONOSUPPORT and
// WSAEAFNOSUPPORT hold those of WSAEWOULDBLOCK) is not taken for it.
void TSocketComponent::CheckError(int expected) {
    ReportStatus(16, "Checking Error In Error Manager");
    LastErrorNo = WSAGetLastError();
    if (LastErrorNo == expected) return;
    throw ESockError(ErrorMessage(LastErrorNo));
}

void TSocketComponent::WaitUntil(const std::function<bool()>& done) {
    while (!done()) {
        WaitMessage(2);
        ProcessMessages();
    }
}

void TSocketComponent::StartTimeOut() {
    ReportStatus(8, "Timer On");
    TimedOut = false;
    timer_->SetInterval(static_cast<std::uint32_t>(TimeOut));
    timer_->SetEnabled(true);
}

void TSocketComponent::StopTimeOut() {
    ReportStatus(8, "Timer Off");
    timer_->SetEnabled(false);
}

void TSocketComponent::TimeOutHandler(TObject*) {
    ReportStatus(8, "Timer Triggered");
    StopTimeOut();
    TimedOut = true;
    Abort();
}

void TSocketComponent::ResolveHost() {
    ReportStatus(8, "Resolve Host");
    if (Host.size() > kMaxHost) throw ESockError("Host name too long");
    std::uint32_t address = 0;
    if (InetAddr(Host, address)) {
        remote_.Addr = address;
        return;
    }
    remote_.Addr = 0;
    StartTimeOut();
    lookupDone_ = false;
    lookup_ = std::make_shared<THostEntry>();
    lookupHandle_ = WSAAsyncGetHostByName(window_->Handle(), CM_LOOKUP, Host, lookup_);
    if (lookupHandle_ != 0) WaitUntil([this] { return lookupDone_ || TimedOut || Canceled; });
    StopTimeOut();
    if (TimedOut) throw ESockError("Host Lookup Timed Out");
    if (Canceled) throw ESockError("Host Lookup Canceled");
    if (lookupHandle_ == 0 || !lastNotifyOk_ || lookup_->Addresses.empty()) throw ESockError("Host Lookup Failed");
    remote_.Addr = lookup_->Addresses.front();
    if (OnHostResolved) OnHostResolved(this);
}

// Resolves Host; a name that gives no address may be corrected once by
// OnInvalidHost.
void TSocketComponent::ResolveRemoteAddress() {
    for (int attempt = 0;; ++attempt) {
        try {
            ResolveHost();
        } catch (const ESockError& e) {
            if (e.Message == "Host Lookup Timed Out" || e.Message == "Host Lookup Canceled" ||
                e.Message == "Host name too long")
                throw;
        }
        if (remote_.Addr != 0) return;
        bool handled = false;
        if (attempt == 0 && OnInvalidHost) {
            OnInvalidHost(this, handled);
            if (handled) continue;
        }
        throw ESockError("Null Remote Address");
    }
}

void TSocketComponent::Connect() {
    ReportStatus(8, "Connecting");
    Canceled = false;
    if (Connected) throw ESockError("Already connected");
    ResolveRemoteAddress();
    remote_.Family = kAfInet;
    remote_.Port = HostToNetShort(static_cast<std::uint16_t>(Port));
    lookupDone_ = false;
    lastNotifyOk_ = true;
    peerClosed_ = false;
    if (SocketConnect(socket_, remote_) == SOCKET_ERROR) CheckError(WSAEWOULDBLOCK);
    StartTimeOut();
    WaitUntil([this] { return Connected || TimedOut || Canceled || !lastNotifyOk_; });
    StopTimeOut();
    if (!TimedOut && !Canceled && lastNotifyOk_) return;
    if (OnConnectionFailed) OnConnectionFailed(this);
    if (TimedOut) throw ESockError("Connection Timed out");
    if (Canceled) throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TSocketComponent::Disconnect() {
    ReportStatus(8, "Disconnecting");
    CloseSocket();
}

void TSocketComponent::Cancel() {
    ReportStatus(8, "Canceling");
    Canceled = true;
}

void TSocketComponent::CloseSocket() {
    ReportStatus(4, "Request Close Socket");
    Connected = false;
    if (socket_ == INVALID_SOCKET) return;
    const TSocket closing = socket_;
    socket_ = INVALID_SOCKET;
    if (SocketClose(closing) == SOCKET_ERROR) {
        CheckError(WSAEWOULDBLOCK);
        return;
    }
    if (destroying_) return;
    if (OnDisconnect) OnDisconnect(this);
    // Ready for the next Connect at once (no linger on this one).
    OpenSocket(0, false);
}

void TSocketComponent::SendBuffer(const char* buffer, std::uint16_t length) {
    ReportStatus(4, "Sending Buffer");
    if (Canceled) return;
    const std::size_t count = length != 0 ? length : strnlen(buffer, 65535);
    sendQueue_.append(buffer, count);
    drained_ = false;
    sendFailed_ = false;
    ::PostMessage(window_->Handle(), CM_SENDMORE, 0, 0);
    WaitUntil([this] { return drained_ || Canceled || sendFailed_; });
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
    if (sendFailed_) {
        // A send that failed for good would wait for a write notification
        // that never comes: drop what is queued and report the error.
        sendQueue_.clear();
        drained_ = true;
        throw ESockError(ErrorMessage(LastErrorNo));
    }
}

void TSocketComponent::Write(const std::string& text) {
    ReportStatus(8, "Write");
    if (text.size() > kMaxText) throw ESockError("Text too long to write");
    text_.assign(text);
    SendBuffer(text_.c_str(), 0);
}

void TSocketComponent::Writeln(const std::string& text) {
    ReportStatus(8, "Writeln");
    Write(text + "\r\n");
}

std::string TSocketComponent::ReadLn() {
    ReportStatus(8, "ReadLn");
    std::string line;
    bool found = false;
    WaitUntil([&] {
        found = !Canceled && receive_.TakeLine(line);
        return found || Canceled || (peerClosed_ && !Connected);
    });
    if (Canceled) throw EAbortError("Socket readln aborted");
    if (!found) throw ESockError("Connection closed");
    return line;
}

std::string TSocketComponent::Transaction(const std::string& command) {
    ReportStatus(8, "Transaction");
    ReplyNumber = 0;
    Writeln(command);
    ReplyText = ReadLn();
    if (!ReplyText.empty()) {
        ReportStatus(1, ReplyText);
        ReplyNumber = ParseReplyNumber(ReplyText);
    }
    return ReplyText;
}

// The busy flag keeps the send and receive handlers from running inside
// each other (an OnStatus handler may pump messages); work found busy is
// posted again instead of waiting for a notification that may not come.
void TSocketComponent::SendHandler() {
    if (busy_) {
        ::PostMessage(window_->Handle(), CM_SENDMORE, 0, 0);
        return;
    }
    busy_ = true;
    ReportStatus(8, "WriteFromStream");
    if (!sendQueue_.empty() && !Canceled) {
        const int count = static_cast<int>(std::min<std::size_t>(sendQueue_.size(), kBlock));
        const int sent = SocketSend(socket_, sendQueue_.data(), count);
        if (sent == SOCKET_ERROR) {
            LastErrorNo = WSAGetLastError();
            if (LastErrorNo != WSAEWOULDBLOCK) sendFailed_ = true;  // else FD_WRITE resumes
        } else {
            sendQueue_.erase(0, static_cast<std::size_t>(sent));
            if (!sendQueue_.empty()) {
                busy_ = false;
                ::PostMessage(window_->Handle(), CM_SENDMORE, 0, 0);
            } else {
                drained_ = true;
            }
            BytesSent += sent;
        }
    } else if (sendQueue_.empty()) {
        drained_ = true;  // nothing (left) to send: an empty buffer must not wait
    }
    busy_ = false;
}

void TSocketComponent::ReceiveHandler() {
    if (Canceled) {
        WSAAsyncSelect(socket_, 0, 0, 0);
        if (ReadAbortHook) ReadAbortHook();
    }
    if (busy_) {
        ::PostMessage(window_->Handle(), CM_READMORE, 0, 0);
        return;
    }
    busy_ = true;
    ReportStatus(8, "ReadToStream");
    char block[kBlock];
    const int count = SocketRecv(socket_, block, kBlock);
    if (count == SOCKET_ERROR) {
        LastErrorNo = WSAGetLastError();
        ErrorMessage(LastErrorNo);
    } else {
        receive_.Append(block, static_cast<std::size_t>(count));
    }
    if (count == kBlock) ::PostMessage(window_->Handle(), CM_READMORE, 0, 0);
    busy_ = false;
}

// The peer closed: what it sent before is still read, then the socket is
// replaced by a fresh one.
void TSocketComponent::CloseHandler() {
    char block[kBlock];
    while (!Canceled) {
        const int count = SocketRecv(socket_, block, kBlock);
        if (count <= 0) break;
        receive_.Append(block, static_cast<std::size_t>(count));
    }
    peerClosed_ = true;
    Connected = false;
    CloseSocket();
}

void TSocketComponent::Dispatch(std::uint32_t msg, WPARAM wParam, LPARAM lParam) {
    // Notifications of an earlier socket or look-up are stale: they change
    // nothing, not even the error flag.
    if (msg == CM_SOCKET && static_cast<TSocket>(wParam) != socket_) return;
    if (msg == CM_LOOKUP && wParam != lookupHandle_) return;
    lastNotifyOk_ = SelectError(lParam) == 0;
    switch (msg) {
    case CM_SOCKET:
        switch (SelectEvent(lParam)) {
        case FD_READ: ReceiveHandler(); break;
        case FD_WRITE: SendHandler(); break;
        case FD_CONNECT:
            if (lastNotifyOk_) {
                Connected = true;
                if (OnConnect) OnConnect(this);
            } else {
                LastErrorNo = SelectError(lParam);
            }
            break;
        case FD_CLOSE: CloseHandler(); break;
        case FD_ACCEPT: Connected = true; break;
        default: break;  // FD_OOB
        }
        break;
    case CM_LOOKUP: lookupDone_ = true; break;
    case CM_SENDMORE: SendHandler(); break;
    case CM_READMORE: ReceiveHandler(); break;
    default: break;
    }
}

LRESULT TSocketComponent::WindowProc(std::uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (msg < CM_SOCKET || msg > CM_READMORE) return 0;
    try {
        Dispatch(msg, wParam, lParam);
    } catch (const std::exception&) {
        // A failure while a notification is handled is never raised; the
        // waiting operation sees its effect (flags, LastErrorNo).
    }
    return 0;
}
