// The request handler seen from outside: what each command letter and method
// answers, and what it leaves in the files beside the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "tests/app/app_harness.h"

namespace {
constexpr std::size_t RecordSize = 1160;
constexpr std::size_t DiagnosticsAt = 633;
constexpr std::size_t LoggingAt = 1158;

std::string MonthYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d%02d", local.tm_mon + 1, local.tm_year % 100);
    return text;
}

// A record with every byte set, so a toggle that rewrote more than its flag
// shows.
std::string FilledRecord() {
    std::string bytes(RecordSize, '\0');
    for (std::size_t i = 0; i < RecordSize; ++i) bytes[i] = static_cast<char>('a' + i % 26);
    for (const std::size_t lengthAt : {0, 256, 377, 634, 660, 916, 1037}) bytes[lengthAt] = 5;
    bytes[DiagnosticsAt] = 0;
    bytes[LoggingAt] = 0;
    bytes[1159] = '\x7F';
    return bytes;
}

TEST(Dispatch, CommandLettersAnswer) {
    struct Case {
        const char* query;
        const char* body;
    };
    const Case cases[] = {
        {"D", "Diagnostics are:\r\nON\r\n"},
        {"Danything at all", "Diagnostics are:\r\nON\r\n"},
        {"d", "Diagnostics are:\r\nOFF\r\n"},
        {"F", "Log Recording is:\r\nON\r\n"},
        {"f", "Log Recording is:\r\nOFF\r\n"},
        {"", ""},       // the blank of an empty query
        {"p", ""},      // letters are case-sensitive
        {"x", ""},
        {"E", ""},      // the manager page's own links
        {"Cpassword", ""},
        {" D", ""},     // only the first character counts
        {"Z", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        TSite site;
        const TAnswer answer = Serve(site, Get(c.query));
        ASSERT_TRUE(answer.Exited);
        EXPECT_EQ(answer.ExitCode, 0);
        EXPECT_EQ(answer.Body(), c.body);
    }
}

TEST(Dispatch, TogglesWriteTheirFlagIntoTheOptionsFile) {
    TSite site;
    ASSERT_EQ(Serve(site, Get("D")).Body(), "Diagnostics are:\r\nON\r\n");
    std::string bytes = site.Read("playlist.opt");
    ASSERT_EQ(bytes.size(), RecordSize);
    EXPECT_EQ(bytes[DiagnosticsAt], 1);
    for (const std::size_t lengthAt : {0, 256, 377, 634, 660, 916, 1037}) EXPECT_EQ(bytes[lengthAt], 0) << lengthAt;
    EXPECT_EQ(bytes[LoggingAt], 0);

    Serve(site, Get("F"));
    bytes = site.Read("playlist.opt");
    EXPECT_EQ(bytes[LoggingAt], 1);
    EXPECT_EQ(bytes[DiagnosticsAt], 1);
}

TEST(Dispatch, TogglesChangeOnlyTheirByte) {
    struct Case {
        const char* query;
        std::size_t at;
        char value;
    };
    const Case cases[] = {{"D", DiagnosticsAt, 1}, {"F", LoggingAt, 1}, {"d", DiagnosticsAt, 0}, {"f", LoggingAt, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        TSite site;
        std::string want = FilledRecord();
        want[DiagnosticsAt] = want[LoggingAt] = c.value == 1 ? 0 : 1;
        site.Write("playlist.opt", want);
        Serve(site, Get(c.query));
        want[c.at] = c.value;
        EXPECT_EQ(site.Read("playlist.opt"), want);
    }
}

TEST(Dispatch, OnlyExactGetTakesTheLetterPath) {
    TSite site;
    EXPECT_EQ(Serve(site, [] { TRequest r = Get("D"); r.Method = "get"; return r; }()).Body(), "");
    EXPECT_FALSE(site.Exists("playlist.opt"));
    EXPECT_EQ(Serve(site, Post("command=manage&password=x&host=evil")).Body(), "");
    EXPECT_EQ(Serve(site, Post("command=Playlistgen")).Body(), "");
    EXPECT_FALSE(site.Exists("playlist.opt"));
    EXPECT_FALSE(site.Exists("playlist" + MonthYear() + ".log"));
}

TEST(Dispatch, EveryRequestDeletesTheStaleMarkerFile) {
    const TRequest requests[] = {Get(""), Get("D"), Post("command=manage")};
    for (const auto& request : requests) {
        SCOPED_TRACE(request.Method + " " + request.Query);
        TSite site;
        site.Write("PostMusic.tst", "old");
        Serve(site, request);
        EXPECT_FALSE(site.Exists("PostMusic.tst"));
    }
}

TEST(Dispatch, QueryReachesTheTraceOnlyWhileDiagnosticsAreOn) {
    TSite site;
    Serve(site, Get("Zfirst"));  // no options file: diagnostics on
    Serve(site, Get("d"));
    Serve(site, Get("Zhidden"));
    Serve(site, Get("D"));
    Serve(site, Get(""));
    // "D" itself is traced before it turns diagnostics on, so it is missing.
    EXPECT_EQ(site.Read("Tunewright.tst"), "Zfirst\r\nd\r\n\r\n");
}

TEST(Dispatch, PlaylistRequestWritesOneHitLogLine) {
    TSite site;
    Serve(site, Post("command=playlistgen&numsongs=15"));
    const std::string log = site.Read("playlist" + MonthYear() + ".log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.find("\r\n"), log.size() - 2);
    EXPECT_EQ(log.substr(log.size() - 13), "client.test\r\n");
    EXPECT_NE(log.find('/'), std::string::npos);  // the date comes first
}

TEST(Dispatch, PagesAreSentAsHtml) {
    TSite site;
    const TAnswer answer = Serve(site, Get("D"));
    const std::string head = answer.Output.substr(0, answer.Output.find("\r\n\r\n"));
    // Names in the pages are UTF-8: the type says so, whatever the server.
    EXPECT_NE(head.find("\r\ncontent-type: text/html; charset=utf-8"), std::string::npos) << head;
}
}  // namespace
