// The server-variable list of an in-process request and the single-variable
// fetch: the ALL_HTTP split, duplicates, the control block's own fields, and
// servers that refuse, truncate or misreport.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gateway/engine/Limits.h"
#include "gateway/frontends/IsapiEng.h"
#include "tests/gateway/frontends/isapi/fake_host.h"

namespace {
using namespace isapitest;

// Sets the thread's control block for the length of a test body.
class TOnThread {
public:
    explicit TOnThread(TFakeConnection& connection) { IsapiThread.Ecb = connection.Prepare(); }
    ~TOnThread() { IsapiThread.Ecb = nullptr; }
    TOnThread(const TOnThread&) = delete;
    TOnThread& operator=(const TOnThread&) = delete;
};

TEST(SplitAllHttp, EachHeaderLineBecomesAnEntry) {
    struct Case {
        const char* name;
        std::string block;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"two lines each ended by a line feed", "HTTP_HOST:example\nHTTP_USER_AGENT:abc\n",
         {"HTTP_HOST=example", "HTTP_USER_AGENT=abc"}},
        {"the last line without its line feed", "HTTP_HOST:example\nHTTP_ACCEPT:*/*",
         {"HTTP_HOST=example", "HTTP_ACCEPT=*/*"}},
        {"only the first colon is the separator", "HTTP_REFERER:http://a:8080/x\n", {"HTTP_REFERER=http://a:8080/x"}},
        {"an equals sign serves when there is no colon", "HTTP_X=1\n", {"HTTP_X=1"}},
        {"a colon wins over an earlier equals sign", "HTTP_COOKIE=a:b\n", {"HTTP_COOKIE=a=b"}},
        {"blanks and carriage returns are trimmed", "  HTTP_A: one \r\nHTTP_B:two\r\n", {"HTTP_A= one", "HTTP_B=two"}},
        {"a line without separator adds nothing", "garbage\nHTTP_C:3\n", {"HTTP_C=3"}},
        {"empty lines add nothing", "\n\n\nHTTP_D:4\n\n", {"HTTP_D=4"}},
        {"an empty block", "", {}},
        {"a final text of two characters is not split", "HTTP_E:5\n:", {"HTTP_E=5"}},
        {"a final text of three characters is", "HTTP_E:5\na:", {"HTTP_E=5", "a="}},
        {"a lone separator line in the middle", "HTTP_F:6\n:\nHTTP_G:7", {"HTTP_F=6", "=", "HTTP_G=7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SplitAllHttp(c.block), c.want);
    }
}

TEST(IsapiVariableList, HoldsTheFieldsTheFixedNamesAndTheHeaderLines) {
    TFakeConnection connection;
    connection.Method = "POST";
    connection.Query = " q=1 ";
    connection.Body = "abc";
    connection.Variables = {
        {"REMOTE_ADDR", "  10.1.2.3\t"},
        {"SERVER_SOFTWARE", "Microsoft-IIS/5.0"},
        {"ALL_HTTP", "HTTP_HOST:example\nHTTP_USER_AGENT:abc\n"},
    };
    TOnThread on(connection);
    std::unique_ptr<TStringList> list(BuildIsapiVariables());
    // Sorted without regard to case; fields untrimmed, fetched values trimmed.
    const std::vector<std::string> want = {
        "ALL_HTTP=HTTP_HOST:example\nHTTP_USER_AGENT:abc",
        "CONTENT_LENGTH=3",
        "CONTENT_TYPE=",
        "HTTP_ACCEPT=",
        "HTTP_HOST=example",
        "HTTP_USER_AGENT=abc",
        "PATH_INFO=/index",
        "PATH_TRANSLATED=C:\\site\\index",
        "QUERY_STRING= q=1 ",
        "REMOTE_ADDR=10.1.2.3",
        "REMOTE_HOST=",
        "REMOTE_USER=",
        "REQUEST_METHOD=POST",
        "SCRIPT_NAME=",
        "SERVER_NAME=",
        "SERVER_PORT=",
        "SERVER_PORT_SECURE=",
        "SERVER_PROTOCOL=",
        "SERVER_SOFTWARE=Microsoft-IIS/5.0",
        "UNMAPPED_REMOTE_USER=",
        "URL=",
    };
    EXPECT_EQ(list->Lines(), want);
    // The fixed names are asked in their order, then ALL_HTTP once more.
    std::vector<std::string> asked;
    for (const auto& ask : connection.VariableAsks) asked.push_back(ask.first);
    const std::vector<std::string> wantAsked = {
        "CONTENT_TYPE",    "REMOTE_ADDR", "REMOTE_HOST", "REMOTE_USER",        "UNMAPPED_REMOTE_USER",
        "SCRIPT_NAME",     "SERVER_NAME", "SERVER_PORT", "SERVER_PORT_SECURE", "SERVER_PROTOCOL",
        "SERVER_SOFTWARE", "HTTP_ACCEPT", "URL",         "ALL_HTTP",           "ALL_HTTP"};
    EXPECT_EQ(asked, wantAsked);
}

TEST(IsapiVariableList, NullFieldsAreLeftOutButTheLengthIsAlwaysThere) {
    TFakeConnection connection;
    connection.NullFields = true;
    TOnThread on(connection);
    std::unique_ptr<TStringList> list(BuildIsapiVariables());
    EXPECT_EQ(list->IndexOfName("QUERY_STRING"), -1);
    EXPECT_EQ(list->IndexOfName("REQUEST_METHOD"), -1);
    EXPECT_EQ(list->IndexOfName("PATH_INFO"), -1);
    EXPECT_EQ(list->IndexOfName("PATH_TRANSLATED"), -1);
    EXPECT_EQ(list->Values("CONTENT_LENGTH"), "0");
}

TEST(IsapiVariableList, IdenticalEntriesOnceDifferentValuesBoth) {
    TFakeConnection connection;
    connection.Variables = {
        {"HTTP_ACCEPT", "text/html"},
        // HTTP_ACCEPT again with the same value, and with another; HTTP_HOST
        // twice; a value differing in letter case only is another value.
        {"ALL_HTTP", "HTTP_ACCEPT:text/html\nHTTP_ACCEPT:*/*\nHTTP_HOST:a\nHTTP_HOST:a\nHTTP_HOST:A\n"},
    };
    TOnThread on(connection);
    std::unique_ptr<TStringList> list(BuildIsapiVariables());
    std::vector<std::string> accepts, hosts;
    for (const std::string& line : list->Lines()) {
        if (line.rfind("HTTP_ACCEPT=", 0) == 0) accepts.push_back(line);
        if (line.rfind("HTTP_HOST=", 0) == 0) hosts.push_back(line);
    }
    EXPECT_EQ(accepts.size(), 2u);
    EXPECT_EQ(hosts.size(), 2u);
    // The first entry of a name answers a look-up.
    EXPECT_EQ(list->Values("HTTP_ACCEPT"), "*/*");
}

TEST(FetchIsapiVariable, ServersThatRefuseTruncateOrMisreport) {
    const std::string shortValue = "short";
    const std::string longValue(3000, 'v');
    const std::string hugeValue(2 * 1024 * 1024, 'h');
    struct Case {
        const char* name;
        TVariableMode mode;
        std::string value;
        std::string want;
        std::size_t maxAsks;
    };
    const Case cases[] = {
        {"a value that fits", TVariableMode::Answer, shortValue, shortValue, 1},
        {"a refusing server", TVariableMode::Refuse, shortValue, "", 1},
        {"too small: asked again with the size it needs", TVariableMode::Answer, longValue, longValue, 2},
        {"too small beyond the bound", TVariableMode::Answer, hugeValue, "", 1},
        {"a truncating server: the buffer grows by 512", TVariableMode::Truncate, longValue, longValue, 7},
        {"a size beyond the buffer is not believed", TVariableMode::Overstate, shortValue, shortValue, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFakeConnection connection;
        connection.VariableMode = c.mode;
        connection.Variables["V"] = c.value;
        TOnThread on(connection);
        EXPECT_EQ(FetchIsapiVariable("V"), c.want);
        EXPECT_LE(connection.VariableAsks.size(), c.maxAsks);
        ASSERT_FALSE(connection.VariableAsks.empty());
        EXPECT_EQ(connection.VariableAsks[0].second, 511u);
    }
}

TEST(FetchIsapiVariable, AServerThatAlwaysFillsTheBufferIsAskedABoundedNumberOfTimes) {
    TFakeConnection connection;
    connection.VariableMode = TVariableMode::AlwaysFull;
    TOnThread on(connection);
    const std::string value = FetchIsapiVariable("ANY");
    EXPECT_EQ(value.size(), IsapiLimits::VariableBufferMax - 1);
    EXPECT_EQ(connection.VariableAsks.size(), IsapiLimits::VariableBufferMax / IsapiLimits::VariableBufferStep);
    EXPECT_EQ(connection.VariableAsks[1].second, 1023u);
}

TEST(FetchIsapiVariable, WithoutControlBlockTheFilterContextAnswers) {
    ASSERT_EQ(IsapiThread.Ecb, nullptr);
    EXPECT_EQ(FetchIsapiVariable("URL"), "");
    TFakeFilter filter;
    filter.Variables["URL"] = "/audiojs/";
    IsapiThread.FilterContext = &filter.Context;
    EXPECT_EQ(FetchIsapiVariable("URL"), "/audiojs/");
    // A control block, when there is one, comes first.
    TFakeConnection connection;
    connection.Variables["URL"] = "/from/the/block";
    {
        TOnThread on(connection);
        EXPECT_EQ(FetchIsapiVariable("URL"), "/from/the/block");
    }
    IsapiThread.FilterContext = nullptr;
    EXPECT_EQ(filter.Asked.size(), 1u);
}

}  // namespace
