#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {

thread_local int tLastError = 0;
std::atomic<int> gStartups{0};

int Fail(int code) {
    tLastError = code;
    return SOCKET_ERROR;
}
int FailErrno(bool connecting = false) { return Fail(WinsockError(errno, connecting)); }

sockaddr_in ToNative(const TSockAddrIn& address) {
    sockaddr_in native{};
    native.sin_family = static_cast<sa_family_t>(address.Family);
    native.sin_port = address.Port;
    native.sin_addr.s_addr = address.Addr;
    return native;
}

TSockAddrIn FromNative(const sockaddr_in& native) {
    return TSockAddrIn{static_cast<std::uint16_t>(native.sin_family), native.sin_port, native.sin_addr.s_addr};
}

// The selection state of one socket: which events it wants, and which of
// them are armed (may be reported once more).
class TSelectState : public TDescriptorWatch {
public:
    enum class TPhase { Idle, Connecting, Connected, Listening };

    TSelectState(int fd, bool datagram) : Datagram(datagram), fd_(fd) {}
    int Descriptor() const override { return fd_; }
    unsigned WantedEvents() override;
    void Ready(unsigned events) override;

    const bool Datagram;
    TPhase Phase = TPhase::Idle;
    HWND Window = 0;
    std::uint32_t Msg = 0;
    long Mask = 0;
    bool ReadArmed = true, WriteArmed = false, OobArmed = true, AcceptArmed = true, CloseReported = false;

private:
    void Post(long event, int error) {
        if (Mask & event) PostMessage(Window, Msg, static_cast<WPARAM>(fd_), MakeSelectReply(event, error));
    }
    int PendingError() const {
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return WinsockError(errno);
        return error == 0 ? 0 : WinsockError(error);
    }
    void ConnectDone();
    int fd_;
};

std::mutex gSocketsMutex;
std::unordered_map<int, std::unique_ptr<TSelectState>> gSockets;

TSelectState* StateOf(TSocket socket) {
    auto it = gSockets.find(socket);
    return it == gSockets.end() ? nullptr : it->second.get();
}

unsigned TSelectState::WantedEvents() {
    std::lock_guard lock(gSocketsMutex);
    if (Window == 0 || Mask == 0) return 0;
    unsigned wanted = 0;
    switch (Phase) {
    case TPhase::Idle:
        if (Datagram && ReadArmed && (Mask & FD_READ)) wanted |= kPollRead;
        break;
    case TPhase::Connecting:
        wanted |= kPollWrite;
        break;
    case TPhase::Listening:
        if (AcceptArmed && (Mask & FD_ACCEPT)) wanted |= kPollRead;
        break;
    case TPhase::Connected:
        if (CloseReported) break;
        if (ReadArmed && (Mask & FD_READ)) wanted |= kPollRead;
        if (WriteArmed && (Mask & FD_WRITE)) wanted |= kPollWrite;
        if (OobArmed && (Mask & FD_OOB)) wanted |= kPollPriority;
        if (Mask & FD_CLOSE) wanted |= kPollPeerClosed;
        break;
    }
    return wanted;
}

void TSelectState::ConnectDone() {
    const int error = PendingError();
    Post(FD_CONNECT, error);
    if (error != 0) {
        Phase = TPhase::Idle;
        return;
    }
    Phase = TPhase::Connected;
    WriteArmed = true;
}

void TSelectState::Ready(unsigned events) {
    std::lock_guard lock(gSocketsMutex);
    if (Window == 0) return;
    switch (Phase) {
    case TPhase::Idle:
        if (Datagram && (events & kPollRead) && ReadArmed) {
            ReadArmed = false;
            Post(FD_READ, 0);
        }
        return;
    case TPhase::Connecting:
        if (events & (kPollWrite | kPollError | kPollHangup)) ConnectDone();
        return;
    case TPhase::Listening:
        if ((events & kPollRead) && AcceptArmed) {
            AcceptArmed = false;
            Post(FD_ACCEPT, 0);
        }
        return;
    case TPhase::Connected:
        break;
    }
    if ((events & kPollRead) && ReadArmed && (Mask & FD_READ)) {
        ReadArmed = false;
        Post(FD_READ, 0);
    }
    if ((events & kPollPriority) && OobArmed && (Mask & FD_OOB)) {
        OobArmed = false;
        Post(FD_OOB, 0);
    }
    if ((events & kPollWrite) && WriteArmed && (Mask & FD_WRITE)) {
        WriteArmed = false;
        Post(FD_WRITE, 0);
    }
    if ((events & (kPollPeerClosed | kPollHangup | kPollError)) && !CloseReported) {
        CloseReported = true;
        Post(FD_CLOSE, (events & kPollError) ? PendingError() : 0);
    }
}

// Consuming calls re-arm the events they answer.
void Rearm(TSocket socket, bool read, bool write, bool accept) {
    std::lock_guard lock(gSocketsMutex);
    TSelectState* state = StateOf(socket);
    if (!state) return;
    if (read) state->ReadArmed = state->OobArmed = true;
    if (write) state->WriteArmed = true;
    if (accept) state->AcceptArmed = true;
}

int LookupError(int gaiError) {
    switch (gaiError) {
    case 0: return 0;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
    default: return WSAHOST_NOT_FOUND;
    }
}

void LookUp(HWND window, std::uint32_t msg, TAsyncHandle handle, std::shared_ptr<THostEntry> result) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int error = LookupError(getaddrinfo(result->Name.c_str(), nullptr, &hints, &list));
    for (addrinfo* a = list; a; a = a->ai_next)
        if (a->ai_family == AF_INET)
            result->Addresses.push_back(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    if (list) freeaddrinfo(list);
    const int reported = error == 0 && result->Addresses.empty() ? WSANO_DATA : error;
    PostMessage(window, msg, handle, MakeSelectReply(0, reported));
}

}  // namespace

std::uint16_t HostToNetShort(std::uint16_t value) { return htons(value); }
std::uint16_t NetToHostShort(std::uint16_t value) { return ntohs(value); }

bool InetAddr(const std::string& text, std::uint32_t& address) {
    in_addr parsed{};
    if (text.empty() || inet_aton(text.c_str(), &parsed) == 0) return false;
    address = parsed.s_addr;
    return true;
}

int WSAStartup(std::uint16_t version, TWSAData& data) {
    ++gStartups;
    data.Version = version;
    data.HighVersion = 0x0101;
    data.Description = "Valsetto sockets over BSD sockets";
    data.SystemStatus = "Running";
    rlimit limit{};
    const bool known = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
    data.MaxSockets = static_cast<std::uint16_t>(known && limit.rlim_cur < 0xFFFF ? limit.rlim_cur : 0xFFFF);
    data.MaxUdpDg = 65507;
    return 0;
}

int WSACleanup() {
    int current = gStartups.load();
    while (current > 0 && !gStartups.compare_exchange_weak(current, current - 1)) {
    }
    return current > 0 ? 0 : Fail(WSANOTINITIALISED);
}

int WSAGetLastError() { return tLastError; }
void WSASetLastError(int code) { tLastError = code; }

int WinsockError(int e, bool connecting) {
    if (e == EWOULDBLOCK || e == EAGAIN) return WSAEWOULDBLOCK;
    if (e == EINPROGRESS) return connecting ? WSAEWOULDBLOCK : WSAEINPROGRESS;
    switch (e) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: case EPIPE: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return e;  // no WinSock counterpart: "Unknown Error No. " + errno
    }
}

TSocket SocketOpen(int family, int type, int protocol) {
    if (family != kAfInet) return Fail(WSAEAFNOSUPPORT);
    const int nativeType = type == kSockStream ? SOCK_STREAM : type == kSockDgram ? SOCK_DGRAM : -1;
    if (nativeType < 0) return Fail(WSAESOCKTNOSUPPORT);
    const int fd = socket(AF_INET, nativeType | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) return FailErrno();
    std::lock_guard lock(gSocketsMutex);
    gSockets[fd] = std::make_unique<TSelectState>(fd, type == kSockDgram);
    return fd;
}

int SocketClose(TSocket socket) {
    std::unique_ptr<TSelectState> state;
    {
        std::lock_guard lock(gSocketsMutex);
        auto it = gSockets.find(socket);
        if (it == gSockets.end()) return Fail(WSAENOTSOCK);
        state = std::move(it->second);
        gSockets.erase(it);
    }
    RemoveWatch(state.get());
    // The descriptor number is reused at once: notifications still waiting
    // for it must not reach the next socket.
    if (state->Window != 0) RemoveMessages(state->Window, state->Msg, static_cast<WPARAM>(socket));
    return close(socket) == 0 ? 0 : FailErrno();
}

int SocketBind(TSocket socket, const TSockAddrIn& address) {
    const sockaddr_in native = ToNative(address);
    return bind(socket, reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0 ? 0 : FailErrno();
}

int SocketListen(TSocket socket, int backlog) {
    if (listen(socket, backlog) != 0) return FailErrno();
    std::lock_guard lock(gSocketsMutex);
    if (TSelectState* state = StateOf(socket)) state->Phase = TSelectState::TPhase::Listening;
    return 0;
}

TSocket SocketAccept(TSocket socket, TSockAddrIn* from) {
    sockaddr_in native{};
    socklen_t length = sizeof native;
    const int fd = accept4(socket, reinterpret_cast<sockaddr*>(&native), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    Rearm(socket, false, false, true);
    if (fd < 0) return FailErrno();
    if (from) *from = FromNative(native);
    std::lock_guard lock(gSocketsMutex);
    auto state = std::make_unique<TSelectState>(fd, false);
    state->Phase = TSelectState::TPhase::Connected;
    gSockets[fd] = std::move(state);
    return fd;
}

int SocketConnect(TSocket socket, const TSockAddrIn& address) {
    const sockaddr_in native = ToNative(address);
    const int result = connect(socket, reinterpret_cast<const sockaddr*>(&native), sizeof native);
    const int error = result == 0 ? 0 : errno;
    std::lock_guard lock(gSocketsMutex);
    TSelectState* state = StateOf(socket);
    if (result == 0 && state) {
        // Connected at once: report it as the asynchronous path would.
        state->Phase = TSelectState::TPhase::Connecting;
        return 0;
    }
    if (error == EINPROGRESS && state) state->Phase = TSelectState::TPhase::Connecting;
    return Fail(WinsockError(error, true));
}

int SocketSend(TSocket socket, const void* data, int length) {
    const ssize_t n = send(socket, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) Rearm(socket, false, true, false);
    return Fail(WinsockError(error));
}

int SocketRecv(TSocket socket, void* buffer, int length) {
    const ssize_t n = recv(socket, buffer, static_cast<std::size_t>(length), 0);
    const int error = errno;
    Rearm(socket, true, false, false);
    return n >= 0 ? static_cast<int>(n) : Fail(WinsockError(error));
}

int SocketRecvFrom(TSocket socket, void* buffer, int length, TSockAddrIn* from) {
    sockaddr_in native{};
    socklen_t size = sizeof native;
    const ssize_t n = recvfrom(socket, buffer, static_cast<std::size_t>(length), MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&native), &size);
    const int error = errno;
    Rearm(socket, true, false, false);
    if (n < 0) return Fail(WinsockError(error));
    if (from) *from = FromNative(native);
    if (n > length) return Fail(WSAEMSGSIZE);
    return static_cast<int>(n);
}

int SocketSendTo(TSocket socket, const void* data, int length, const TSockAddrIn& to) {
    const sockaddr_in native = ToNative(to);
    const ssize_t n = sendto(socket, data, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&native), sizeof native);
    return n >= 0 ? static_cast<int>(n) : FailErrno();
}

int SocketSetLinger(TSocket socket, bool on, int seconds) {
    const linger value{on ? 1 : 0, seconds};
    return setsockopt(socket, SOL_SOCKET, SO_LINGER, &value, sizeof value) == 0 ? 0 : FailErrno();
}

int SocketLocalAddress(TSocket socket, TSockAddrIn& address) {
    sockaddr_in native{};
    socklen_t length = sizeof native;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&native), &length) != 0) return FailErrno();
    address = FromNative(native);
    return 0;
}

int WSAAsyncSelect(TSocket socket, HWND window, std::uint32_t msg, long mask) {
    TSelectState* state = nullptr;
    HWND previous = 0;
    std::uint32_t previousMsg = 0;
    {
        std::lock_guard lock(gSocketsMutex);
        state = StateOf(socket);
        if (!state) return Fail(WSAENOTSOCK);
        previous = state->Window;
        previousMsg = state->Msg;
        const bool stop = window == 0 || mask == 0;
        state->Window = stop ? 0 : window;
        state->Msg = stop ? 0 : msg;
        state->Mask = stop ? 0 : mask;
        state->ReadArmed = state->OobArmed = state->AcceptArmed = true;
        if (state->Phase == TSelectState::TPhase::Connected) state->WriteArmed = true;
    }
    if (previous != 0) {
        RemoveWatch(state);
        RemoveMessages(previous, previousMsg, static_cast<WPARAM>(socket));
    }
    if (window == 0 || mask == 0) return 0;
    if (!AddWatch(window, state)) return Fail(WSAEINVAL);
    return 0;
}

TAsyncHandle WSAAsyncGetHostByName(HWND window, std::uint32_t msg, const std::string& name,
                                   std::shared_ptr<THostEntry> result) {
    static std::atomic<TAsyncHandle> next{1};
    if (!result) return 0;
    const TAsyncHandle handle = next++;
    result->Name = name;
    result->Addresses.clear();
    try {
        std::thread(LookUp, window, msg, handle, std::move(result)).detach();
    } catch (const std::system_error&) {
        tLastError = WSAENOBUFS;
        return 0;
    }
    return handle;
}
