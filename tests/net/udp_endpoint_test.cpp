#include "net/UdpEndpoint.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Peers.h"

using namespace peers;

namespace {

struct TDatagram {
    int Count;
    std::string From;
    std::string Data;
};

// An endpoint set up as a form does it: stored values, then Loaded.
struct TReceiver {
    explicit TReceiver(std::uint16_t port, bool handler = true) {
        Udp.RemotePort = port;
        Udp.SetLocalPort(port);
        Udp.ReportLevel = 0;
        if (handler)
            Udp.OnDataReceived = [this](TComponent*, std::int32_t count, const std::string& from) {
                Got.push_back(TDatagram{count, from, count > 0 ? std::string(Udp.Buffer(), count) : ""});
            };
        Udp.Loaded();
    }
    TUdpEndpoint Udp{nullptr};
    std::vector<TDatagram> Got;
};

void SendDatagram(std::uint16_t port, const std::string& data) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = support::LoopbackAddress(port);
    ASSERT_EQ(sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(data.size()));
    close(fd);
}

// Quiet for a while: what a test needs to say that nothing arrives.
void PumpFor(int milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

}  // namespace

TEST(UdpEndpoint, ReportsEachDatagramWithItsSender) {
    const std::uint16_t port = FreePort(SOCK_DGRAM);
    TReceiver r(port);
    SendDatagram(port, "hello");
    SendDatagram(port, std::string(2048, 'x'));  // exactly fills the buffer
    SendDatagram(port, std::string(2049, 'y'));  // does not fit: -1, no sender
    SendDatagram(port, "after");
    ASSERT_TRUE(PumpUntil([&] { return r.Got.size() == 4; }));
    struct Want { int count; const char* from; std::string data; };
    const Want want[] = {{5, "127.0.0.1", "hello"},
                         {2048, "127.0.0.1", std::string(2048, 'x')},
                         {-1, "", ""},
                         {5, "127.0.0.1", "after"}};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.Got[i].Count, want[i].count);
        EXPECT_EQ(r.Got[i].From, want[i].from);
        EXPECT_EQ(r.Got[i].Data, want[i].data);
    }
}

// The form's configuration: no handler, ReportLevel 0. A datagram is read and
// dropped, and nothing is reported.
TEST(UdpEndpoint, WithoutAHandlerDatagramsAreConsumedQuietly) {
    const std::uint16_t port = FreePort(SOCK_DGRAM);
    std::vector<std::string> statuses;
    TReceiver r(port, false);
    r.Udp.OnStatus = [&](TComponent*, const std::string& s) { statuses.push_back(s); };
    SendDatagram(port, "12345");
    ASSERT_TRUE(PumpUntil([&] { return r.Udp.LastCount() == 5; }));
    EXPECT_EQ(std::string(r.Udp.Buffer(), 5), "12345");
    EXPECT_TRUE(statuses.empty());
}

// A second endpoint on a port already held: its bind fails unnoticed, it
// receives nothing, and the first goes on receiving.
TEST(UdpEndpoint, SecondEndpointOnTheSamePortReceivesNothing) {
    const std::uint16_t port = FreePort(SOCK_DGRAM);
    TReceiver first(port);
    TReceiver second(port);
    SendDatagram(port, "one");
    ASSERT_TRUE(PumpUntil([&] { return first.Got.size() == 1; }));
    PumpFor(100);
    EXPECT_TRUE(second.Got.empty());
}

TEST(UdpEndpoint, ChangingLocalPortRebinds) {
    const std::uint16_t a = FreePort(SOCK_DGRAM);
    TReceiver r(a);
    std::uint16_t b = FreePort(SOCK_DGRAM);
    if (b == a) b = FreePort(SOCK_DGRAM);
    r.Udp.SetLocalPort(b);
    EXPECT_EQ(r.Udp.LocalPort(), b);
    SendDatagram(a, "old");
    SendDatagram(b, "new");
    ASSERT_TRUE(PumpUntil([&] { return !r.Got.empty(); }));
    PumpFor(100);
    ASSERT_EQ(r.Got.size(), 1u);
    EXPECT_EQ(r.Got[0].Data, "new");
}

// Freeing an endpoint frees its port: a form created again binds it.
TEST(UdpEndpoint, DestructionReleasesThePort) {
    const std::uint16_t port = FreePort(SOCK_DGRAM);
    auto first = std::make_unique<TReceiver>(port);
    first.reset();
    TReceiver again(port);
    SendDatagram(port, "back");
    ASSERT_TRUE(PumpUntil([&] { return again.Got.size() == 1; }));
}

// Port 81 may be privileged or held by another process: creating the form's
// endpoint on it must succeed either way.
TEST(UdpEndpoint, FormConfigurationOnPort81NeverFails) {
    TUdpEndpoint udp(nullptr);
    udp.RemotePort = 81;
    EXPECT_NO_THROW(udp.SetLocalPort(81));
    udp.ReportLevel = 0;
    EXPECT_NO_THROW(udp.Loaded());
    ProcessMessages();
}
