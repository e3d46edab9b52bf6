#include "platform/Sockets.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Loopback.h"

namespace {

using Clock = std::chrono::steady_clock;
using support::PumpUntil;

struct TEvent {
    WPARAM Socket;
    int Event;
    int Error;
};

// A hidden window that records socket notifications (1125) and look-ups (1126).
struct TListener {
    std::vector<TEvent> Events;
    std::vector<std::pair<WPARAM, int>> Lookups;
    THiddenWindow Window{[this](std::uint32_t msg, WPARAM w, LPARAM l) {
        if (msg == 1125) Events.push_back(TEvent{w, SelectEvent(l), SelectError(l)});
        if (msg == 1126) Lookups.emplace_back(w, SelectError(l));
        return LRESULT{0};
    }};
    int Count(int event) const {
        int n = 0;
        for (const TEvent& e : Events) n += e.Event == event;
        return n;
    }
    const TEvent* Find(int event) const {
        for (const TEvent& e : Events)
            if (e.Event == event) return &e;
        return nullptr;
    }
};

TSockAddrIn Loopback(std::uint16_t port) {
    TSockAddrIn a;
    EXPECT_TRUE(InetAddr("127.0.0.1", a.Addr));
    a.Port = HostToNetShort(port);
    return a;
}

// A listening socket on a free loopback port.
struct TServer {
    TSocket Socket = SocketOpen(kAfInet, kSockStream, 0);
    std::uint16_t Port = 0;
    TServer() {
        EXPECT_EQ(SocketBind(Socket, Loopback(0)), 0);
        EXPECT_EQ(SocketListen(Socket, 4), 0);
        TSockAddrIn bound;
        EXPECT_EQ(SocketLocalAddress(Socket, bound), 0);
        Port = NetToHostShort(bound.Port);
    }
    ~TServer() { SocketClose(Socket); }
    TSocket AcceptWithin(int milliseconds) {
        TSocket s = INVALID_SOCKET;
        PumpUntil([&] { return (s = SocketAccept(Socket, nullptr)) != INVALID_SOCKET; }, milliseconds);
        return s;
    }
};

std::uint16_t UnusedPort() {
    TServer probe;
    return probe.Port;  // closed again when probe goes
}

}  // namespace

TEST(WinsockError, MapsErrnoToWinsockNumbers) {
    struct Case { int errnoValue; bool connecting; int want; };
    const Case cases[] = {
        {EWOULDBLOCK, false, 10035}, {EAGAIN, false, 10035},   {EINPROGRESS, true, 10035},
        {EINPROGRESS, false, 10036}, {ECONNREFUSED, false, 10061}, {ECONNRESET, false, 10054},
        {EADDRINUSE, false, 10048}, {ENOTCONN, false, 10057},   {EPIPE, false, 10058},
        {EMSGSIZE, false, 10040},   {EACCES, false, 10013},     {ETIMEDOUT, false, 10060},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.errnoValue);
        EXPECT_EQ(WinsockError(c.errnoValue, c.connecting), c.want);
    }
}

TEST(Sockets, CleanupWithoutStartupFails) {
    TWSAData data;
    ASSERT_EQ(WSAStartup(0x0101, data), 0);
    EXPECT_EQ(data.Version, 0x0101);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST(Sockets, ConnectReportsConnectThenWriteOnce) {
    TServer server;
    TListener l;
    const TSocket s = SocketOpen(kAfInet, kSockStream, kIpProtoTcp);
    ASSERT_EQ(WSAAsyncSelect(s, l.Window.Handle(), 1125, 63), 0);
    ProcessMessages();
    EXPECT_TRUE(l.Events.empty()) << "an unconnected socket reports nothing";
    if (SocketConnect(s, Loopback(server.Port)) == SOCKET_ERROR) {
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }
    ASSERT_TRUE(PumpUntil([&] { return l.Count(FD_WRITE) == 1; }));
    ASSERT_NE(l.Find(FD_CONNECT), nullptr);
    EXPECT_EQ(l.Find(FD_CONNECT)->Error, 0);
    EXPECT_EQ(l.Find(FD_CONNECT)->Socket, static_cast<WPARAM>(s));
    EXPECT_EQ(l.Events.front().Event, FD_CONNECT);
    for (int i = 0; i < 5; ++i) ProcessMessages();
    EXPECT_EQ(l.Count(FD_WRITE), 1) << "FD_WRITE again only after a send would block";
    SocketClose(s);
}

TEST(Sockets, RefusedConnectReportsTheErrorInTheHighWord) {
    const std::uint16_t port = UnusedPort();
    TListener l;
    const TSocket s = SocketOpen(kAfInet, kSockStream, 0);
    ASSERT_EQ(WSAAsyncSelect(s, l.Window.Handle(), 1125, 63), 0);
    if (SocketConnect(s, Loopback(port)) == SOCKET_ERROR) {
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }
    ASSERT_TRUE(PumpUntil([&] { return l.Find(FD_CONNECT) != nullptr; }));
    EXPECT_EQ(l.Find(FD_CONNECT)->Error, WSAECONNREFUSED);
    for (int i = 0; i < 5; ++i) ProcessMessages();
    EXPECT_EQ(l.Count(FD_CLOSE), 0);
    SocketClose(s);
}

// FD_READ comes once and again only after a receive; the peer's close comes
// once, with the data it sent before still readable.
TEST(Sockets, ReadIsReArmedByReceiveAndCloseComesOnce) {
    TServer server;
    TListener l;
    const TSocket s = SocketOpen(kAfInet, kSockStream, 0);
    ASSERT_EQ(WSAAsyncSelect(s, l.Window.Handle(), 1125, FD_READ | FD_CLOSE | FD_CONNECT), 0);
    (void)SocketConnect(s, Loopback(server.Port));
    const TSocket peer = server.AcceptWithin(3000);
    ASSERT_NE(peer, INVALID_SOCKET);
    ASSERT_TRUE(PumpUntil([&] { return l.Find(FD_CONNECT) != nullptr; }));

    ASSERT_EQ(SocketSend(peer, "abcdef", 6), 6);
    ASSERT_TRUE(PumpUntil([&] { return l.Count(FD_READ) == 1; }));
    for (int i = 0; i < 5; ++i) ProcessMessages();
    EXPECT_EQ(l.Count(FD_READ), 1);
    char buffer[4];
    ASSERT_EQ(SocketRecv(s, buffer, 3), 3);
    ASSERT_TRUE(PumpUntil([&] { return l.Count(FD_READ) == 2; })) << "three bytes are left";

    SocketClose(peer);
    ASSERT_TRUE(PumpUntil([&] { return l.Count(FD_CLOSE) == 1; }));
    EXPECT_EQ(l.Find(FD_CLOSE)->Error, 0);
    EXPECT_EQ(SocketRecv(s, buffer, 4), 3);
    EXPECT_EQ(SocketRecv(s, buffer, 4), 0);
    for (int i = 0; i < 5; ++i) ProcessMessages();
    EXPECT_EQ(l.Count(FD_CLOSE), 1);
    SocketClose(s);
}

// The descriptor number of a closed socket is reused at once: a
// notification still waiting for the old socket must not reach the new one.
TEST(Sockets, CloseDropsWaitingNotifications) {
    TServer server;
    TListener l;
    const TSocket s = SocketOpen(kAfInet, kSockStream, 0);
    ASSERT_EQ(WSAAsyncSelect(s, l.Window.Handle(), 1125, 63), 0);
    (void)SocketConnect(s, Loopback(server.Port));
    PostMessage(l.Window.Handle(), 1125, static_cast<WPARAM>(s), MakeSelectReply(FD_READ, 0));
    SocketClose(s);
    ProcessMessages();
    EXPECT_TRUE(l.Events.empty());
}

TEST(Sockets, ListeningSocketReportsAccept) {
    TServer server;
    TListener l;
    ASSERT_EQ(WSAAsyncSelect(server.Socket, l.Window.Handle(), 1125, FD_ACCEPT), 0);
    const TSocket client = SocketOpen(kAfInet, kSockStream, 0);
    (void)SocketConnect(client, Loopback(server.Port));
    ASSERT_TRUE(PumpUntil([&] { return l.Count(FD_ACCEPT) == 1; }));
    const TSocket accepted = SocketAccept(server.Socket, nullptr);
    EXPECT_NE(accepted, INVALID_SOCKET);
    SocketClose(accepted);
    SocketClose(client);
}

TEST(Sockets, OversizedDatagramIsConsumedAsMessageTooLong) {
    const TSocket receiver = SocketOpen(kAfInet, kSockDgram, 0);
    ASSERT_EQ(SocketBind(receiver, Loopback(0)), 0);
    TSockAddrIn to;
    ASSERT_EQ(SocketLocalAddress(receiver, to), 0);
    ASSERT_TRUE(InetAddr("127.0.0.1", to.Addr));
    TListener l;
    ASSERT_EQ(WSAAsyncSelect(receiver, l.Window.Handle(), 1125, FD_READ), 0);

    const TSocket sender = SocketOpen(kAfInet, kSockDgram, 0);
    const std::string big(3000, 'x');
    ASSERT_EQ(SocketSendTo(sender, big.data(), 3000, to), 3000);
    ASSERT_EQ(SocketSendTo(sender, "hello", 5, to), 5);
    ASSERT_TRUE(PumpUntil([&] { return l.Count(FD_READ) == 1; }));

    char buffer[2048];
    TSockAddrIn from;
    EXPECT_EQ(SocketRecvFrom(receiver, buffer, sizeof buffer, &from), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    ASSERT_TRUE(PumpUntil([&] { return l.Count(FD_READ) == 2; }));
    EXPECT_EQ(SocketRecvFrom(receiver, buffer, sizeof buffer, &from), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    SocketClose(sender);
    SocketClose(receiver);
}

TEST(Sockets, AsyncHostLookup) {
    // "no..such" has an empty label: the resolver refuses it without
    // sending a query, so the test stays on this machine.
    struct Case { const char* name; int error; bool loopback; };
    const Case cases[] = {{"localhost", 0, true}, {"no..such", WSAHOST_NOT_FOUND, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TListener l;
        auto entry = std::make_shared<THostEntry>();
        const TAsyncHandle h = WSAAsyncGetHostByName(l.Window.Handle(), 1126, c.name, entry);
        ASSERT_NE(h, 0u);
        ASSERT_TRUE(PumpUntil([&] { return !l.Lookups.empty(); }, 10000));
        EXPECT_EQ(l.Lookups[0].first, h);
        EXPECT_EQ(l.Lookups[0].second, c.error);
        std::uint32_t loopback = 0;
        ASSERT_TRUE(InetAddr("127.0.0.1", loopback));
        if (c.loopback) {
            ASSERT_FALSE(entry->Addresses.empty());
            EXPECT_EQ(entry->Addresses[0], loopback);
        }
    }
}

TEST(Sockets, InetAddrAcceptsDottedFormsOnly) {
    struct Case { const char* text; bool ok; std::uint32_t hostOrder; };
    const Case cases[] = {{"127.0.0.1", true, 0x7F000001}, {"10.1", true, 0x0A000001},
                          {"localhost", false, 0},        {"", false, 0},
                          {"1.2.3.4.5", false, 0},        {"256.1.1.1", false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t a = 0;
        ASSERT_EQ(InetAddr(c.text, a), c.ok);
        if (c.ok) {
            const auto* b = reinterpret_cast<const unsigned char*>(&a);
            EXPECT_EQ((std::uint32_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3], c.hostOrder);
        }
    }
}
