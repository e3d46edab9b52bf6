#include "net/SmtpClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Peers.h"
#include "net/SmtpReply.h"

using namespace peers;

namespace {

struct TMailClient {
    explicit TMailClient(std::uint16_t port) {
        Smtp.Host = "127.0.0.1";
        Smtp.Port = port;
        Smtp.UserID = "valsetto";
        Smtp.ReportLevel = 2;
        Smtp.OnStatus = [this](TComponent*, const std::string& s) { Statuses.push_back(s); };
        Smtp.OnConnect = [this](TObject*) { ++Opened; };
    }
    // Declared first, gone last: the client may report while it is freed.
    std::vector<std::string> Statuses;
    int Opened = 0;
    TSmtpClient Smtp{nullptr};
};

std::string ConnectFailure(TSmtpClient& smtp) {
    return FailureOf([&] { smtp.Connect(); });
}

}  // namespace

TEST(SmtpReply, ReplyNumber) {
    struct Case { const char* line; int want; };
    const Case cases[] = {
        {"250 OK\r\n", 250}, {"220-first\r\n", 220}, {"hello\r\n", 0},   {"", 0},
        {"0042x", 42},       {"32767 max", 32767},    {"32768 wraps", 0}, {"65786 would wrap to 250", 0},
        {"12345678901 eleven digits", 0},             {" 250 leading blank", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ParseReplyNumber(c.line), c.want);
    }
}

TEST(SmtpReply, ContinuationLines) {
    struct Case { const char* line; bool more; };
    const Case cases[] = {{"250-first\r\n", true}, {"250 last\r\n", false}, {" folded\r\n", true},
                          {"250-", true},           {"250", false},          {"", false},
                          {"25-0\r\n", false},      {"abc-\r\n", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(IsContinuationLine(c.line), c.more);
    }
}

TEST(SmtpClient, HandshakeAndQuitWithAiosmtpd) {
    if (!TSmtpServer::Available()) GTEST_SKIP() << "python3-aiosmtpd is not installed (make check installs it)";
    TSmtpServer server;
    ASSERT_TRUE(server.Ready) << "aiosmtpd did not start listening";
    TMailClient c(server.Port);
    c.Smtp.Connect();
    EXPECT_TRUE(c.Smtp.Connected);
    EXPECT_EQ(c.Opened, 1);
    EXPECT_EQ(c.Smtp.ReplyNumber, 250);
    // ReportLevel 2: only the server's reply lines reach OnStatus.
    ASSERT_EQ(c.Statuses.size(), 1u);
    EXPECT_EQ(c.Statuses[0].substr(0, 4), "250 ");
    c.Smtp.Disconnect();
    EXPECT_FALSE(c.Smtp.Connected);
    EXPECT_EQ(c.Smtp.ReplyNumber, 221);
    ASSERT_EQ(c.Statuses.size(), 2u);
    EXPECT_EQ(c.Statuses[1].substr(0, 3), "221");

    // The client is ready for the next conversation.
    c.Smtp.Connect();
    EXPECT_EQ(c.Opened, 2);
    c.Smtp.Disconnect();
}

TEST(SmtpClient, RefusedHeloWithAiosmtpd) {
    if (!TSmtpServer::Available()) GTEST_SKIP() << "python3-aiosmtpd is not installed (make check installs it)";
    TSmtpServer server;
    ASSERT_TRUE(server.Ready) << "aiosmtpd did not start listening";
    TMailClient c(server.Port);
    c.Smtp.UserID = "";  // "HELO " without a name: 501 from the server
    EXPECT_EQ(ConnectFailure(c.Smtp), "Authentication failed");
    EXPECT_FALSE(c.Smtp.Connected);
    EXPECT_EQ(c.Opened, 0);
    ASSERT_GE(c.Statuses.size(), 2u);
    EXPECT_EQ(c.Statuses[0].substr(0, 3), "501");
    EXPECT_EQ(c.Statuses.back().substr(0, 3), "221");  // disconnected with "QUIT"
}

TEST(SmtpClient, MultiLineGreetingAndHeloReply) {
    TScriptedPeer peer({Send("220-mail.example\r\n220 ready\r\n"), Expect(),
                        Send("250-first\r\n250-second\r\n250 last\r\n"), Expect(), Send("221 bye\r\n")});
    TMailClient c(peer.Port);
    c.Smtp.Connect();
    EXPECT_EQ(c.Opened, 1);
    EXPECT_EQ(c.Smtp.ReplyNumber, 250);
    c.Smtp.Disconnect();
    EXPECT_EQ(peer.Received(), (std::vector<std::string>{"HELO valsetto\r\n", "QUIT\r\n"}));
    EXPECT_EQ(c.Statuses, (std::vector<std::string>{"250-first\r\n", "221 bye\r\n"}));
}

TEST(SmtpClient, RefusedGreetingFailsWithItsLineAfterQuit) {
    struct Case { const char* name; std::vector<TStep> script; std::vector<std::string> received; };
    const Case cases[] = {
        {"server answers QUIT", {Send("421 busy, try later\r\n"), Expect(), Send("221 bye\r\n")}, {"QUIT\r\n"}},
        {"server closes at once", {Send("421 busy, try later\r\n"), Close()}, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TScriptedPeer peer(k.script);
        TMailClient c(peer.Port);
        EXPECT_EQ(ConnectFailure(c.Smtp), "421 busy, try later\r\n");
        EXPECT_FALSE(c.Smtp.Connected);
        EXPECT_EQ(c.Opened, 0);
        ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
        EXPECT_EQ(peer.Received(), k.received);
    }
}

TEST(SmtpClient, RefusedHeloAndOnAuthenticationFailed) {
    struct Case {
        const char* name;
        bool handler, handled;
        std::vector<const char*> replies;  // to each HELO
        int calls;
        const char* failure;
        std::vector<std::string> helos;
    };
    const Case cases[] = {
        {"no handler", false, false, {"550 no"}, 0, "Authentication failed", {"HELO valsetto\r\n"}},
        {"handler leaves Handled false", true, false, {"550 no"}, 1, "Authentication failed", {"HELO valsetto\r\n"}},
        {"handled, refused again: no second call", true, true, {"550 no", "550 still no"}, 1,
         "Authentication failed", {"HELO valsetto\r\n", "HELO second\r\n"}},
        {"handled, then accepted", true, true, {"550 no", "250 welcome"}, 1, "",
         {"HELO valsetto\r\n", "HELO second\r\n"}},
        {"299 repeats without the handler", true, true, {"299 again", "250 ok"}, 0, "",
         {"HELO valsetto\r\n", "HELO valsetto\r\n"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<TStep> script{Send("220 hi\r\n")};
        for (const char* reply : k.replies) {
            script.push_back(Expect());
            script.push_back(Send(std::string(reply) + "\r\n"));
        }
        script.push_back(Expect());
        script.push_back(Send("221 bye\r\n"));
        TScriptedPeer peer(script);
        TMailClient c(peer.Port);
        int calls = 0;
        if (k.handler)
            c.Smtp.OnAuthenticationFailed = [&](TObject*, bool& handled) {
                ++calls;
                handled = k.handled;
                c.Smtp.UserID = "second";
            };
        EXPECT_EQ(ConnectFailure(c.Smtp), k.failure);
        EXPECT_EQ(calls, k.calls);
        EXPECT_EQ(c.Opened, k.failure[0] == '\0' ? 1 : 0);
        if (c.Smtp.Connected) c.Smtp.Disconnect();
        std::vector<std::string> received = peer.Received();
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(received.back(), "QUIT\r\n");
        received.pop_back();
        EXPECT_EQ(received, k.helos);
    }
}

// A server that answers every HELO with 299 would be greeted forever.
TEST(SmtpClient, EndlessHelo299IsBounded) {
    std::vector<TStep> script{Send("220 hi\r\n")};
    for (int i = 0; i < 10; ++i) {
        script.push_back(Expect());
        script.push_back(Send("299 again\r\n"));
    }
    script.push_back(Expect());
    script.push_back(Send("221 bye\r\n"));
    TScriptedPeer peer(script);
    TMailClient c(peer.Port);
    EXPECT_EQ(ConnectFailure(c.Smtp), "Authentication failed");
    EXPECT_EQ(peer.Received().size(), 11u);
    EXPECT_EQ(peer.Received().back(), "QUIT\r\n");
}

TEST(SmtpClient, QuitAnsweredAbove339FailsAfterClosing) {
    struct Case { const char* reply; bool fails; };
    const Case cases[] = {{"221 bye", false}, {"339 odd but fine", false}, {"340 no", true}, {"500 what?", true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.reply);
        TScriptedPeer peer({Send("220 hi\r\n"), Expect(), Send("250 ok\r\n"), Expect(),
                            Send(std::string(k.reply) + "\r\n")});
        TMailClient c(peer.Port);
        c.Smtp.Connect();
        EXPECT_EQ(FailureOf([&] { c.Smtp.Disconnect(); }), k.fails ? std::string(k.reply) + "\r\n" : "");
        EXPECT_FALSE(c.Smtp.Connected);
    }
}

TEST(SmtpClient, AbortDuringTheHandshakeCancelsIt) {
    // The server never greets; it closes after the client's QUIT.
    TScriptedPeer peer({Expect(), Close()});
    TMailClient c(peer.Port);
    TLater abort(200, [&] { c.Smtp.Abort(); });
    EXPECT_EQ(ConnectFailure(c.Smtp), "Socket readln aborted");
    EXPECT_TRUE(abort.Fired());
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    EXPECT_EQ(peer.Received(), (std::vector<std::string>{"QUIT\r\n"}));
}

TEST(SmtpClient, AbortOutsideTheHandshake) {
    TMailClient idle(FreePort());
    idle.Smtp.Abort();  // not connected: nothing
    EXPECT_FALSE(idle.Smtp.Connected);

    TScriptedPeer peer({Send("220 hi\r\n"), Expect(), Send("250 ok\r\n")});
    TMailClient c(peer.Port);
    int disconnects = 0;
    c.Smtp.OnDisconnect = [&](TObject*) { ++disconnects; };
    c.Smtp.Connect();
    c.Smtp.Abort();  // closes without "QUIT"
    EXPECT_FALSE(c.Smtp.Connected);
    EXPECT_EQ(disconnects, 1);
    ASSERT_TRUE(PumpUntil([&] { return peer.Finished(); }));
    EXPECT_EQ(peer.Received(), (std::vector<std::string>{"HELO valsetto\r\n"}));
    EXPECT_EQ(peer.Rest(), "");
}
