#pragma once
// Sockets with the Windows Sockets 1.1 contract over BSD sockets. Every
// socket is non-blocking. Asynchronous selection registers the socket with
// the message queue of the window given: each ProcessMessages on that
// window's thread polls without waiting and posts the window's message with
// the socket as wParam and MakeSelectReply(event, error) as lParam. As with
// WinSock, an event is reported once and re-enabled by the call that consumes
// it: FD_READ by a receive, FD_WRITE by a send that would block, FD_ACCEPT by
// an accept; FD_CONNECT and FD_CLOSE come once per connection. Error codes are
// the WinSock numbers, mapped from errno once, here.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/MessageLoop.h"

using TSocket = int;
constexpr TSocket INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

constexpr int kAfInet = 2;
constexpr int kSockStream = 1;
constexpr int kSockDgram = 2;
constexpr int kIpProtoTcp = 6;

constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

// The WinSock error numbers, all of them: the codes errno becomes here, and
// the numbers the network components report by text.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

constexpr LPARAM MakeSelectReply(long event, int error) {
    return static_cast<LPARAM>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) | (event & 0xFFFF));
}
constexpr int SelectEvent(LPARAM lParam) { return static_cast<int>(lParam & 0xFFFF); }
constexpr int SelectError(LPARAM lParam) { return static_cast<int>((lParam >> 16) & 0xFFFF); }

// An IPv4 socket address; Port and Addr in network byte order.
struct TSockAddrIn {
    std::uint16_t Family = kAfInet;
    std::uint16_t Port = 0;
    std::uint32_t Addr = 0;
};
std::uint16_t HostToNetShort(std::uint16_t value);
std::uint16_t NetToHostShort(std::uint16_t value);
// A dotted IPv4 address ("a.b.c.d", and the short forms WinSock accepts) in
// network order; false when text is not one.
[[nodiscard]] bool InetAddr(const std::string& text, std::uint32_t& address);

struct TWSAData {
    std::uint16_t Version = 0;
    std::uint16_t HighVersion = 0;
    std::string Description;
    std::string SystemStatus;
    std::uint16_t MaxSockets = 0;
    std::uint16_t MaxUdpDg = 0;
};
// Counted start-up and clean-up; WSACleanup without a start-up fails with
// WSANOTINITIALISED. Both return 0 or SOCKET_ERROR.
int WSAStartup(std::uint16_t version, TWSAData& data);
int WSACleanup();

// The calling thread's last socket error.
int WSAGetLastError();
void WSASetLastError(int code);
// The WinSock number of an errno value; connecting maps EINPROGRESS to
// WSAEWOULDBLOCK as a non-blocking WinSock connect reports it.
int WinsockError(int errnoValue, bool connecting = false);

// The operations return SOCKET_ERROR (or INVALID_SOCKET) on failure and set
// the last error. Sockets are made non-blocking and close-on-exec.
TSocket SocketOpen(int family, int type, int protocol);
int SocketClose(TSocket socket);
int SocketBind(TSocket socket, const TSockAddrIn& address);
int SocketListen(TSocket socket, int backlog);
TSocket SocketAccept(TSocket socket, TSockAddrIn* from);
int SocketConnect(TSocket socket, const TSockAddrIn& address);
int SocketSend(TSocket socket, const void* data, int length);
int SocketRecv(TSocket socket, void* buffer, int length);
// A datagram longer than length is consumed and reported as SOCKET_ERROR
// with WSAEMSGSIZE, as WinSock does.
int SocketRecvFrom(TSocket socket, void* buffer, int length, TSockAddrIn* from);
int SocketSendTo(TSocket socket, const void* data, int length, const TSockAddrIn& to);
// SO_LINGER: on with seconds 0 makes a close reset the connection.
int SocketSetLinger(TSocket socket, bool on, int seconds);
// The bound local address (the port chosen for port 0).
int SocketLocalAddress(TSocket socket, TSockAddrIn& address);

// Selects the events of mask for socket, posted to window as msg; window 0
// or mask 0 stops the notifications and drops those still waiting.
int WSAAsyncSelect(TSocket socket, HWND window, std::uint32_t msg, long mask);

// The outcome of an asynchronous host look-up: IPv4 addresses in network
// order, written by the worker before it posts the message.
struct THostEntry {
    std::string Name;
    std::vector<std::uint32_t> Addresses;
};
using TAsyncHandle = std::uint32_t;
// Runs the look-up on a worker thread; when done, posts msg to window with
// the handle as wParam and MakeSelectReply(0, error) as lParam (error 0, or
// WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY, WSANO_DATA). Returns 0 when
// the worker could not be started.
TAsyncHandle WSAAsyncGetHostByName(HWND window, std::uint32_t msg, const std::string& name,
                                   std::shared_ptr<THostEntry> result);
