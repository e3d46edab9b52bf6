// The header block and the body as they reach the client: completion,
// order, redirects, no-cache dates, early sends and the CGI status line.
#include <gtest/gtest.h>

#include "gateway/engine/Helpers.h"
#include "tests/gateway/engine/engine_harness.h"

namespace {
using namespace enginetest;

using THandler = std::function<void(THttpEngine&)>;

std::string Answer(const THandler& handler, const std::function<void(THttpEngine&)>& setup = nullptr,
                   const std::vector<std::string>& vars = {"REQUEST_METHOD=GET"}) {
    TTestEngine engine;
    if (setup) setup(engine);
    engine.OnExecRequest = [&](TObject*) { handler(engine); };
    return Serve(engine, vars).All();
}

TEST(SendHeader, HeaderBlockCompletion) {
    struct Case {
        const char* name;
        THandler handler;
        std::function<void(THttpEngine&)> setup;
        const char* want;
    };
    const Case cases[] = {
        {"one character", [](THttpEngine&) { HttpWrite("x"); }, nullptr,
         "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\ncontent-length: 3\r\nConnection: Keep-Alive\r\n\r\nx\r\n"},
        {"empty text still ends a line", [](THttpEngine&) { HttpWrite(""); }, nullptr,
         "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\ncontent-length: 2\r\nConnection: Keep-Alive\r\n\r\n\r\n"},
        {"nothing written", [](THttpEngine&) {}, nullptr, "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\n\r\n"},
        {"redirect", [](THttpEngine& e) { e.AddHeader("location", "http://127.0.0.1/x"); }, nullptr,
         "location: http://127.0.0.1/x\r\n\r\n"},
        // The application's status line came after the content type, which
        // left a server that takes it unchanged with a broken header block.
        {"own status line goes first",
         [](THttpEngine& e) {
             e.AddHeader("http/1.1 404 Not Found", "");
             HttpWrite("no");
         },
         nullptr,
         "http/1.1 404 Not Found\r\ncontent-type: text/html\r\ncontent-length: 4\r\nConnection: Keep-Alive\r\n\r\nno\r\n"},
        {"own content type and length",
         [](THttpEngine& e) {
             e.AddHeader("Content-Type", "text/plain");
             e.AddHeader("Content-Length", "99");
             HttpWrite("t");
         },
         nullptr, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 99\r\n\r\nt\r\n"},
        {"auto content type as set", [](THttpEngine&) { HttpWrite("a"); },
         [](THttpEngine& e) { e.AutoContentType = "text/xml"; },
         "HTTP/1.0 200 OK\r\ncontent-type: text/xml\r\ncontent-length: 3\r\nConnection: Keep-Alive\r\n\r\na\r\n"},
        {"AutoHttpHeader off", [](THttpEngine&) { HttpWrite("raw"); },
         [](THttpEngine& e) { e.AutoHttpHeader = false; }, "raw\r\n"},
        {"AutoHttpHeader off with a header",
         [](THttpEngine& e) {
             e.AddHeader("X-A", "1");
             HttpWrite("raw");
         },
         [](THttpEngine& e) { e.AutoHttpHeader = false; }, "X-A: 1\r\n\r\nraw\r\n"},
        {"empty value gives the bare name", [](THttpEngine& e) { e.AddHeader("X-Flag", ""); }, nullptr,
         "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\nX-Flag\r\n\r\n"},
        {"download", [](THttpEngine& e) { e.AddDownloadHeaders("  ", "C:\\music\\a b.mp3"); },
         [](THttpEngine& e) { e.AutoHttpHeader = false; },
         "Content-Type: application/binary; name=\"a b.mp3\"\r\nContent-Transfer-Encoding: 8bit\r\n"
         "Content-Disposition: attachment; filename=\"a b.mp3\"\r\n\r\n"},
        // The name went out unquoted: a ";" or a quote in it made a
        // parameter of the client's choosing.
        {"download name unquoted", [](THttpEngine& e) { e.AddDownloadHeaders("text/plain", "x\";a=b.txt"); },
         [](THttpEngine& e) { e.AutoHttpHeader = false; },
         "Content-Type: text/plain; name=\"x\\\";a=b.txt\"\r\nContent-Transfer-Encoding: 8bit\r\n"
         "Content-Disposition: attachment; filename=\"x\\\";a=b.txt\"\r\n\r\n"},
        {"cleared output", [](THttpEngine& e) {
             e.AddHeader("X-Gone", "1");
             HttpWrite("gone");
             e.ClearOutput();
             HttpWrite("kept");
         },
         nullptr, "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\ncontent-length: 6\r\nConnection: Keep-Alive\r\n\r\nkept\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Answer(c.handler, c.setup), c.want);
    }
}

// A header name or value with CR or LF was sent as it stood and split the
// response (a second header, or a body of the client's choosing). It is
// refused with the engine's error: the error page, without the header.
TEST(AddHeader, LineBreaksSplitTheResponse) {
    const std::pair<const char*, const char*> headers[] = {
        {"X-A", "1\r\nSet-Cookie: s=1"}, {"X-A", "1\nSet-Cookie: s=1"}, {"X-A", "1\rSet-Cookie: s=1"},
        {"X-A\r\nSet-Cookie: s=1", "1"}, {"\n", ""},
    };
    for (const auto& [name, value] : headers) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(std::string(name)) << " "
                                        << testing::PrintToString(std::string(value)));
        const std::string out = Answer([&](THttpEngine& e) { e.AddHeader(name, value); },
                                       [](THttpEngine& e) { e.ServerMode = 1; });
        EXPECT_EQ(out.find("Set-Cookie"), std::string::npos) << out;
        EXPECT_NE(out.find(std::string("Unhandled Exception: ") + HeaderLineBreakMessage), std::string::npos) << out;
    }
    const std::string download = Answer([](THttpEngine& e) { e.AddDownloadHeaders("", "a\r\nSet-Cookie: s=1"); },
                                        [](THttpEngine& e) { e.ServerMode = 1; });
    EXPECT_EQ(download.find("Set-Cookie"), std::string::npos) << download;
}

TEST(SendHeader, NoCacheHeadersFollowTheApplicationsWithPastDates) {
    const std::string out = Answer(
        [](THttpEngine& e) {
            e.AddHeader("X-App", "1");
            HttpWrite("p");
        },
        [](THttpEngine& e) { e.NoCache = true; });
    const std::string past = FormatHttpDate(Now() - 1000);
    const std::string want = "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\nX-App: 1\r\ncontent-length: 3\r\n"
                             "Connection: Keep-Alive\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: " +
                             past + "\r\nDocument Expires: " + past + "\r\n\r\np\r\n";
    EXPECT_EQ(out, want);
}

TEST(SendHeader, EarlySendsTheBlockOnceAndTheBodyInPieces) {
    TTestEngine engine;
    engine.OnExecRequest = [&](TObject*) {
        HttpWrite("one");
        HttpSendHeader();
        engine.AddHeader("X-Late", "dropped");
        HttpWrite("two");
        HttpSendHeader();
        HttpWrite("three");
    };
    const TWrites writes = Serve(engine, {"REQUEST_METHOD=GET"});
    EXPECT_EQ(writes.Pieces, (std::vector<std::string>{"HTTP/1.0 200 OK\r\n", "content-type: text/html\r\n", "\r\n",
                                                       "one\r\n", "two\r\n", "three\r\n"}));
}

TEST(SendHeader, NothingLeavesAfterTheRequestIsFinished) {
    TTestEngine engine;
    Serve(engine, {"REQUEST_METHOD=GET"});
    // The request's objects are gone: later calls find nothing to act on.
    HttpWrite("late");
    engine.AddHeader("X", "1");
    HttpSendHeader();
    EXPECT_EQ(engine.Fields().Count(), 0);
    EXPECT_EQ(HttpServerVariable("REQUEST_METHOD"), "");
}

TEST(CgiSendHeaderLine, StatusFieldForServersThatWantIt) {
    struct Case {
        const char* software;
        const char* want;
    };
    const Case cases[] = {
        {"Apache/1.3.9 (Win32)", "Status: 200 OK\r\n"},
        {"Netscape-Enterprise/3.6", "Status: 200 OK\r\n"},
        {"stronghold/2.4", "Status: 200 OK\r\n"},
        {"Microsoft-IIS/4.0", "HTTP/1.0 200 OK\r\n"},
        {"", "HTTP/1.0 200 OK\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.software);
        const std::string out =
            Answer([](THttpEngine&) {}, nullptr, {"REQUEST_METHOD=GET", std::string("SERVER_SOFTWARE=") + c.software});
        EXPECT_EQ(out, std::string(c.want) + "content-type: text/html\r\n\r\n");
    }
    const std::string notFound = Answer([](THttpEngine& e) { e.AddHeader("http/1.1 404 Not Found", ""); }, nullptr,
                                        {"REQUEST_METHOD=GET", "SERVER_SOFTWARE=Apache"});
    EXPECT_EQ(notFound, "Status: 404 Not Found\r\ncontent-type: text/html\r\n\r\n");
    // A status line cut short after "HTTP/1." took the process down.
    const std::string cut = Answer([](THttpEngine& e) { e.AddHeader("HTTP/1.", ""); }, nullptr,
                                   {"REQUEST_METHOD=GET", "SERVER_SOFTWARE=Apache"});
    EXPECT_EQ(cut, "Status:\r\ncontent-type: text/html\r\n\r\n");
}

}  // namespace
