#include "net/SocketComponent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "Peers.h"

using namespace peers;

namespace {

// A socket component with its status texts recorded.
struct TClient {
    explicit TClient(std::uint16_t port, int reportLevel = 0) {
        Socket.Host = "127.0.0.1";
        Socket.Port = port;
        Socket.ReportLevel = reportLevel;
        Socket.OnStatus = [this](TComponent*, const std::string& s) { Statuses.push_back(s); };
    }
    // Declared first, gone last: the component reports "Destroy" as it goes.
    std::vector<std::string> Statuses;
    TSocketComponent Socket{nullptr};
};

}  // namespace

TEST(SocketComponent, DottedHostConnectsWithoutLookup) {
    TScriptedPeer peer({Expect()});
    TClient c(peer.Port);
    int resolved = 0, connected = 0;
    c.Socket.OnHostResolved = [&](TComponent*) { ++resolved; };
    c.Socket.OnConnect = [&](TObject*) { ++connected; };
    c.Socket.Connect();
    EXPECT_TRUE(c.Socket.Connected);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(connected, 1);
    c.Socket.Writeln("hi");
    ASSERT_TRUE(PumpUntil([&] { return peer.Received().size() == 1; }));
    EXPECT_EQ(peer.Received()[0], "hi\r\n");
}

TEST(SocketComponent, HostNameIsLookedUp) {
    TScriptedPeer peer({});
    TClient c(peer.Port);
    c.Socket.Host = "localhost";
    int resolved = 0;
    c.Socket.OnHostResolved = [&](TComponent* sender) { resolved += sender == &c.Socket; };
    c.Socket.Connect();
    EXPECT_TRUE(c.Socket.Connected);
    EXPECT_EQ(resolved, 1);
}

// "no..such" has an empty label: the resolver refuses it locally, no query
// leaves the machine.
TEST(SocketComponent, UnresolvableHostAndOnInvalidHost) {
    TScriptedPeer peer({});
    struct Case { const char* name; bool handler; bool handled; bool fix; int calls; const char* failure; };
    const Case cases[] = {
        {"no handler", false, false, false, 0, "Null Remote Address"},
        {"handler leaves Handled false", true, false, false, 1, "Null Remote Address"},
        {"handled, host unchanged: one retry only", true, true, false, 1, "Null Remote Address"},
        {"handled, host corrected", true, true, true, 1, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TClient c(k.fix ? peer.Port : FreePort());
        c.Socket.Host = "no..such";
        int calls = 0;
        if (k.handler)
            c.Socket.OnInvalidHost = [&](TObject*, bool& handled) {
                ++calls;
                handled = k.handled;
                if (k.fix) c.Socket.Host = "127.0.0.1";
            };
        EXPECT_EQ(FailureOf<ESockError>([&] { c.Socket.Connect(); }), k.failure);
        EXPECT_EQ(calls, k.calls);
        EXPECT_EQ(c.Socket.Connected, k.fix);
    }
}

TEST(SocketComponent, ConnectWhileConnectedFailsAndKeepsTheConnection) {
    TScriptedPeer peer({Expect()});
    TClient c(peer.Port);
    c.Socket.Connect();
    EXPECT_EQ(FailureOf<ESockError>([&] { c.Socket.Connect(); }), "Already connected");
    EXPECT_TRUE(c.Socket.Connected);
    c.Socket.Writeln("still here");
    ASSERT_TRUE(PumpUntil([&] { return peer.Received().size() == 1; }));
}

TEST(SocketComponent, RefusedConnectFailsWithTheErrorKept) {
    TClient c(FreePort());
    int failed = 0;
    c.Socket.OnConnectionFailed = [&](TObject*) { ++failed; };
    EXPECT_EQ(FailureOf<ESockError>([&] { c.Socket.Connect(); }), "Connection Failed");
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(c.Socket.Connected);
    EXPECT_EQ(c.Socket.LastErrorNo, 10061);
    EXPECT_EQ(c.Socket.ErrorMessage(c.Socket.LastErrorNo), "10061:Connection refused");
}

TEST(SocketComponent, UnansweredConnectEndsByCancelOrTimeOut) {
    struct Case { const char* name; int timeOut; bool cancel; const char* failure; };
    const Case cases[] = {
        {"TimeOut 0 waits until Cancel", 0, true, "Connection Canceled"},
        {"TimeOut 150 ms", 150, false, "Connection Timed out"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TSilentPort silent;
        TClient c(silent.Port);
        c.Socket.TimeOut = k.timeOut;
        int failed = 0;
        c.Socket.OnConnectionFailed = [&](TObject*) { ++failed; };
        // Without a cancel the TimeOut must end it; the late cancel is a
        // bound for a faulty time-out.
        TLater cancel(k.cancel ? 200 : 3000, [&] { c.Socket.Cancel(); });
        const auto start = Clock::now();
        EXPECT_EQ(FailureOf<ESockError>([&] { c.Socket.Connect(); }), k.failure);
        EXPECT_EQ(failed, 1);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    }
}

TEST(SocketComponent, TransactionTakesTheLeadingNumber) {
    TScriptedPeer peer({Expect(), Send("250 OK\r\n"), Expect(), Send("hello\r\n"), Expect(), Send("\r\n")});
    TClient c(peer.Port, 1);
    c.Socket.Connect();
    struct Case { const char* command; const char* reply; int number; };
    const Case cases[] = {{"A", "250 OK\r\n", 250}, {"B", "hello\r\n", 0}, {"C", "\r\n", 0}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.command);
        EXPECT_EQ(c.Socket.Transaction(k.command), k.reply);
        EXPECT_EQ(c.Socket.ReplyText, k.reply);
        EXPECT_EQ(c.Socket.ReplyNumber, k.number);
    }
    // At level 1 only the reply lines are reported.
    EXPECT_EQ(c.Statuses, (std::vector<std::string>{"250 OK\r\n", "hello\r\n", "\r\n"}));
    EXPECT_EQ(peer.Received(), (std::vector<std::string>{"A\r\n", "B\r\n", "C\r\n"}));
}

TEST(SocketComponent, TwoLinesInOnePacketAreTwoReadLns) {
    TScriptedPeer peer({Send("one\r\ntwo\n"), Expect()});
    TClient c(peer.Port);
    c.Socket.Connect();
    EXPECT_EQ(c.Socket.ReadLn(), "one\r\n");
    // The second line is there already: no message needs to arrive.
    TLater guard(3000, [&] { c.Socket.Cancel(); });
    EXPECT_EQ(c.Socket.ReadLn(), "two\n");
    c.Socket.Writeln("done");
}

// The peer closing: what it sent before is still read, Connected becomes
// false, OnDisconnect comes, and a fresh socket is ready for the next Connect.
TEST(SocketComponent, PeerCloseKeepsPendingDataAndRenewsTheSocket) {
    auto first = std::make_unique<TScriptedPeer>(std::vector<TStep>{Send("last words\r\nbye\r\n"), Close()});
    TClient c(first->Port);
    int disconnects = 0;
    c.Socket.OnDisconnect = [&](TObject*) { ++disconnects; };
    c.Socket.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !c.Socket.Connected; }));
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(c.Socket.ReadLn(), "last words\r\n");
    EXPECT_EQ(c.Socket.ReadLn(), "bye\r\n");
    // No line can come any more: the wait ends instead of hanging.
    EXPECT_EQ(FailureOf<ESockError>([&] { (void)c.Socket.ReadLn(); }), "Connection closed");

    TScriptedPeer second({Send("again\r\n"), Expect()});
    c.Socket.Port = second.Port;
    c.Socket.Connect();
    EXPECT_EQ(c.Socket.ReadLn(), "again\r\n");
}

TEST(SocketComponent, ReadLnIgnoresALineFeedBehindANul) {
    TScriptedPeer peer({Send(std::string("ab\0c\r\n", 6)), Expect()});
    TClient c(peer.Port);
    c.Socket.Connect();
    TLater cancel(300, [&] { c.Socket.Cancel(); });
    EXPECT_EQ(FailureOf<EAbortError>([&] { (void)c.Socket.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(cancel.Fired());
}

TEST(SocketComponent, SendingRules) {
    auto peer = std::make_unique<TScriptedPeer>(std::vector<TStep>{Expect()});
    TClient c(peer->Port);
    c.Socket.Connect();
    c.Socket.Write(std::string("ab\0cd", 5));  // the text ends at its NUL
    c.Socket.Write("");                        // nothing to send: returns at once
    c.Socket.SendBuffer("xy\nIGNORED", 3);
    ASSERT_TRUE(PumpUntil([&] { return peer->Received().size() == 1; }));
    EXPECT_EQ(peer->Received()[0], "abxy\n");

    // A block larger than one send goes out whole, in order.
    std::string big(60000, '.');
    for (std::size_t i = 0; i < big.size(); i += 1000) big[i] = static_cast<char>('a' + (i / 1000) % 26);
    c.Socket.SendBuffer(big.data(), static_cast<std::uint16_t>(big.size()));
    EXPECT_EQ(c.Socket.BytesSent, 5 + 60000);

    EXPECT_EQ(FailureOf<ESockError>([&] { c.Socket.Write(std::string(16385, 'x')); }), "Text too long to write");
    c.Socket.Write(std::string(16384, 'y'));
    EXPECT_EQ(c.Socket.BytesSent, 5 + 60000 + 16384);
    // A sent block may still sit in the kernel's queue, and the component's
    // close resets the connection, which drops it: wait until the peer has it.
    ASSERT_TRUE(PumpUntil([&] { return peer->Rest().size() == big.size() + 16384; }));

    // While cancelled nothing is sent and nothing raised.
    c.Socket.Cancel();
    c.Socket.Writeln("never");
    EXPECT_EQ(c.Socket.BytesSent, 5 + 60000 + 16384);
    c.Socket.Disconnect();
    ASSERT_TRUE(PumpUntil([&] { return peer->Finished(); }));
    EXPECT_EQ(peer->Rest(), big + std::string(16384, 'y'));
}

// A send to a connection the peer has reset fails with its error instead of
// waiting for a write notification that never comes.
TEST(SocketComponent, SendToAResetConnectionFails) {
    TScriptedPeer peer({Close()});
    TClient c(peer.Port);
    c.Socket.Connect();
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    std::string failure;
    for (int i = 0; i < 50 && failure.empty(); ++i) {
        failure = FailureOf<ESockError>([&] { c.Socket.Writeln("anyone?"); });
        ProcessMessages();
    }
    EXPECT_FALSE(failure.empty());
    EXPECT_EQ(failure.find("Unknown"), std::string::npos) << failure;
}

TEST(SocketComponent, HostNameTooLongIsRefused) {
    TClient c(FreePort());
    c.Socket.Host = std::string(128, 'h');
    EXPECT_EQ(FailureOf<ESockError>([&] { c.Socket.Connect(); }), "Host name too long");
    c.Socket.Host = std::string(127, 'h');  // a legal length: looked up, fails, no query (empty label)
    c.Socket.Host[60] = '.';
    c.Socket.Host[61] = '.';
    EXPECT_EQ(FailureOf<ESockError>([&] { c.Socket.Connect(); }), "Null Remote Address");
}

TEST(SocketComponent, StatusTextsAreFilteredByLevel) {
    TScriptedPeer peer({Expect(), Send("220 hi\r\n")});
    struct Case { int level; std::vector<std::string> want; };
    const Case cases[] = {
        {0, {}},
        {1, {"220 hi\r\n"}},
        {4, {"Sending Buffer", "220 hi\r\n", "Request Close Socket"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.level);
        TScriptedPeer p({Expect(), Send("220 hi\r\n")});
        TClient c(p.Port, 0);
        c.Socket.Connect();
        c.Socket.ReportLevel = k.level;
        (void)c.Socket.Transaction("X");
        c.Socket.Disconnect();
        EXPECT_EQ(c.Statuses, k.want);
    }
    TClient verbose(peer.Port, 8);
    verbose.Socket.Connect();
    (void)verbose.Socket.Transaction("X");
    for (const char* text : {"Connecting", "Resolve Host", "Timer On", "Timer Off", "Transaction", "Writeln",
                             "Write", "WriteFromStream", "ReadLn", "ReadToStream"}) {
        SCOPED_TRACE(text);
        EXPECT_NE(std::find(verbose.Statuses.begin(), verbose.Statuses.end(), text), verbose.Statuses.end());
    }
}

TEST(SocketComponent, WinsockInfoOnlyInTheComponentThatStartedTheLayer) {
    ASSERT_EQ(TSocketComponent::WinsockUsers, 0);
    auto first = std::make_unique<TSocketComponent>(nullptr);
    TSocketComponent second(nullptr);
    EXPECT_EQ(TSocketComponent::WinsockUsers, 2);
    ASSERT_EQ(first->WinsockInfo.Count(), 6);
    EXPECT_EQ(first->WinsockInfo[0], "Version= 1.1");
    EXPECT_EQ(first->WinsockInfo[5], "Max Udp pack size= 65507");
    EXPECT_EQ(second.WinsockInfo.Count(), 0);
    first.reset();
    EXPECT_EQ(TSocketComponent::WinsockUsers, 1);
}

TEST(WinsockErrorText, TableAndUnknownCodes) {
    struct Case { int code; const char* want; };
    const Case cases[] = {{0, ""},
                          {10061, "10061:Connection refused"},
                          {10004, "10004:Interrupted system call"},
                          {11004, "11004:Valid name, no data record of requested type"},
                          {12345, "Unknown Error No. 12345"},
                          {10000, "Unknown Error No. 10000"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(WinsockErrorText(c.code), c.want);
    }
}

TEST(ThreadTimer, FiresWhileEnabledAndPassesFailuresOn) {
    TThreadTimer timer(nullptr);
    int ticks = 0;
    timer.SetInterval(10);
    timer.SetEnabled(false);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ProcessMessages();
    EXPECT_EQ(ticks, 0);
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; }));
    timer.SetInterval(0);
    const int stopped = ticks;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ProcessMessages();
    EXPECT_EQ(ticks, stopped);

    std::vector<std::string> caught;
    SetApplicationExceptionHandler([&](const std::exception& e) { caught.push_back(e.what()); });
    timer.SetOnTimer([&](TObject*) {
        timer.SetEnabled(false);
        throw Exception("tick failed");
    });
    timer.SetInterval(10);
    const bool raised = PumpUntil([&] { return !caught.empty(); });
    SetApplicationExceptionHandler({});
    ASSERT_TRUE(raised);
    EXPECT_EQ(caught[0], "tick failed");
}
