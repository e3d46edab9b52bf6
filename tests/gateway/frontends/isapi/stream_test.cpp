// The stream over the control block: the preloaded body first, then bounded
// client reads, a client that goes away, and writes as the server counts
// them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/engine/Limits.h"
#include "gateway/frontends/IsapiEng.h"
#include "tests/gateway/frontends/isapi/fake_host.h"

namespace {
using namespace isapitest;

std::string Body(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + i % 26);
    return body;
}

class IsapiStream : public ::testing::Test {
protected:
    void TearDown() override { IsapiThread.Ecb = nullptr; }
    void Start() { IsapiThread.Ecb = connection.Prepare(); }
    // Starts over a body of the given size and reads all of it in one call.
    void ReadWholeBody(int size) {
        connection.Body = Body(static_cast<std::size_t>(size));
        Start();
        std::string got(static_cast<std::size_t>(size), '\0');
        ASSERT_EQ(stream.Read(got.data(), size), size);
        EXPECT_EQ(got, connection.Body);
    }
    TFakeConnection connection;
    TIsapiStream stream;
};

TEST_F(IsapiStream, PreloadThenClientPiecesOfAtMost32386Bytes) {
    connection.Preloaded = 1000;
    ReadWholeBody(100000);
    EXPECT_EQ(stream.PreloadPos, 1000u);
    const std::vector<ISAPI_DWORD> want = {IsapiLimits::ReadPieceMax, IsapiLimits::ReadPieceMax, IsapiLimits::ReadPieceMax,
                                              99000 - 3 * IsapiLimits::ReadPieceMax};
    EXPECT_EQ(connection.ReadAsks, want);
}

TEST_F(IsapiStream, SmallReadsWalkThroughThePreloadBeforeAskingTheClient) {
    connection.Body = "0123456789";
    connection.Preloaded = 4;
    Start();
    char piece[3];
    ASSERT_EQ(stream.Read(piece, 3), 3);
    EXPECT_EQ(std::string(piece, 3), "012");
    EXPECT_TRUE(connection.ReadAsks.empty());
    // One preloaded byte left: the rest of this read comes from the client.
    ASSERT_EQ(stream.Read(piece, 3), 3);
    EXPECT_EQ(std::string(piece, 3), "345");
    EXPECT_EQ(connection.ReadAsks, std::vector<ISAPI_DWORD>{2});
    EXPECT_EQ(stream.Read(piece, 0), 0);
}

TEST_F(IsapiStream, ShortClientPiecesAreGatheredUntilTheCountIsMet) {
    connection.PieceLimit = 300;
    ReadWholeBody(1000);
    EXPECT_EQ(connection.ReadAsks, (std::vector<ISAPI_DWORD>{1000, 700, 400, 100}));
}

TEST_F(IsapiStream, ClientThatGoesAwayOrSendsNothingEndsTheReadWithMinusOne) {
    struct Case {
        const char* name;
        std::size_t body, preloaded, disconnectAt;
    };
    const Case cases[] = {
        {"disconnect midway, after preloaded bytes were delivered", 5000, 100, 2000},
        {"disconnect before the first client byte", 5000, 0, 0},
        {"the body ends before the count: ReadClient gives 0 bytes", 50, 10, SIZE_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFakeConnection client;
        client.Body = Body(c.body);
        client.Preloaded = c.preloaded;
        client.DisconnectAt = c.disconnectAt;
        IsapiThread.Ecb = client.Prepare();
        TIsapiStream fresh;
        std::string got(6000, '\0');
        EXPECT_EQ(fresh.Read(got.data(), 6000), -1);
        IsapiThread.Ecb = nullptr;
    }
}

TEST_F(IsapiStream, WriteGoesToTheClientSynchronouslyAndReportsTheServersCount) {
    Start();
    EXPECT_EQ(stream.Write("header\r\n", 8), 8);
    connection.WriteReports = 3;
    EXPECT_EQ(stream.Write("body", 4), 3);
    EXPECT_EQ(connection.Writes, (std::vector<std::string>{"header\r\n", "body"}));
    EXPECT_EQ(connection.WriteFlags, (std::vector<ISAPI_DWORD>{0, 0}));
    EXPECT_EQ(stream.Seek(100, soFromBeginning), 0);
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(stream.Size(), 0);
}

TEST_F(IsapiStream, WithoutAControlBlockNothingIsReadOrWritten) {
    char byte = 0;
    EXPECT_EQ(stream.Read(&byte, 1), -1);
    EXPECT_EQ(stream.Write("x", 1), 0);
}

}  // namespace
