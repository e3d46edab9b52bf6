// One request through ProcessRequest: the order of events, the refusals,
// the fields, the error page and its log line, the debug modes and the
// forwarding of settings to the engine that serves the request.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <functional>
#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "gateway/engine/Helpers.h"
#include "gateway/engine/Limits.h"
#include "gateway/engine/RequestContext.h"
#include "tests/gateway/engine/engine_harness.h"
#include "platform/Process.h"

namespace {
using namespace enginetest;

// The gateway log of this test program inside folder.
std::string LogFileIn(const std::string& folder) {
    return folder + "/" + std::filesystem::path(ToOsPath(ExecutableFileName())).stem().string() + ".Log";
}

class LogFolder {
public:
    LogFolder() { setenv("CGI_LOG_DIR", folder_.Path().c_str(), 1); }
    ~LogFolder() { unsetenv("CGI_LOG_DIR"); }
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;
    std::string Log() const { return ReadFileBytes(LogFileIn(folder_.Path())); }

private:
    TTempFolder folder_;
};

TEST(ProcessRequest, EventsInOrderAndFirstOnlyOnce) {
    TTestEngine engine;
    std::vector<std::string> events;
    engine.OnPrepareRequest = [&](TObject* sender) {
        EXPECT_EQ(sender, &engine);
        events.push_back("prepare:" + HttpFieldValue("a", "none"));
    };
    engine.OnFirstExecRequest = [&](TObject*) { events.push_back("first"); };
    engine.OnExecRequest = [&](TObject*) { events.push_back("exec:" + HttpFieldValue("a", "none")); };
    engine.OnLastExecRequest = [&](TObject*) { events.push_back("last"); };
    RequestCount = 0;
    Serve(engine, {"REQUEST_METHOD=GET", "QUERY_STRING=a=1"});
    Serve(engine, {"REQUEST_METHOD=GET", "QUERY_STRING=a=2"});
    EXPECT_EQ(events, (std::vector<std::string>{"prepare:none", "first", "exec:1", "last", "prepare:none", "exec:2",
                                                "last"}));
    // A resident server has no last request.
    events.clear();
    engine.ServerMode = 1;
    Serve(engine, {"REQUEST_METHOD=GET"});
    EXPECT_EQ(events, (std::vector<std::string>{"prepare:none", "exec:none"}));
}

TEST(ProcessRequest, RefusalsInOrderWithTheirMessages) {
    struct Case {
        const char* name;
        std::vector<std::string> vars;
        std::int32_t limit;
        bool get, post;
        const char* want;  // "" : accepted
    };
    const std::string multipart = "CONTENT_TYPE=multipart/form-data; boundary=xyz";
    const Case cases[] = {
        {"limit first", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=101", multipart}, 100, false, false,
         "Content length exceeds allowed limit"},
        {"limit exactly", {"REQUEST_METHOD=GET", "CONTENT_LENGTH=100"}, 100, true, true, ""},
        {"no limit at 0", {"REQUEST_METHOD=GET", "CONTENT_LENGTH=100000"}, 0, true, true, ""},
        {"multipart before methods", {"REQUEST_METHOD=POST", multipart}, -1, false, false,
         "Method not supported in this version(PUT)"},
        {"multipart on GET", {"REQUEST_METHOD=GET", multipart}, -1, true, true,
         "Method not supported in this version(PUT)"},
        {"post refused", {"REQUEST_METHOD=post", "CONTENT_LENGTH=0"}, -1, false, false, "Method not allowed (POST)"},
        {"get refused", {"REQUEST_METHOD=GET", "QUERY_STRING=a=1"}, -1, false, true, "Method not allowed (GET)"},
        {"other method read nowhere", {"REQUEST_METHOD=HEAD"}, -1, false, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTestEngine engine;
        engine.ServerMode = 1;
        engine.AutoReadLimit = c.limit;
        engine.AllowedMethods.Get = c.get;
        engine.AllowedMethods.Post = c.post;
        std::string error = "";
        bool executed = false;
        int fieldsAtError = -1;
        engine.OnExecRequest = [&](TObject*) { executed = true; };
        engine.OnRequestError = [&](TObject*, const Exception& e) {
            error = e.Message;
            fieldsAtError = engine.Fields().Count();
        };
        Serve(engine, c.vars);
        EXPECT_EQ(error, c.want);
        EXPECT_EQ(executed, std::string(c.want).empty());
        if (!error.empty()) {
            EXPECT_EQ(fieldsAtError, 0);
        }
    }
}

TEST(ProcessRequest, BodyAndQueryFieldsTogether) {
    struct Case {
        const char* name;
        std::vector<std::string> vars;
        std::string body;
        bool get;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"both", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=5", "QUERY_STRING=two=2"}, "one=1", true,
         {"one=1", "two=2"}},
        {"body first on repeat", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=3", "QUERY_STRING=a=q"}, "a=b", true,
         {"a=b\r\nq"}},
        {"query ignored without Get", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=5", "QUERY_STRING=two=2"}, "one=1",
         false, {"one=1"}},
        {"body cut at the announced length", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=3"}, "a=12345", true, {"a=1"}},
        {"short body parsed as far as it came", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=50"}, "a=1&b=2", true,
         {"a=1", "b=2"}},
        {"negative length reads nothing", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=-5"}, "a=1", true, {}},
        {"length not a number", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=12x"}, "a=1", true, {}},
        {"GET body ignored", {"REQUEST_METHOD=GET", "CONTENT_LENGTH=3"}, "a=1", true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TTestEngine engine;
        engine.AllowedMethods.Get = c.get;
        std::vector<std::string> fields;
        engine.OnExecRequest = [&](TObject*) { fields = engine.Fields().Lines(); };
        Serve(engine, c.vars, c.body);
        EXPECT_EQ(fields, c.want);
    }
}

// A body far shorter than an absurd CONTENT_LENGTH was read into a buffer of
// the announced size first; now only what arrives is held.
TEST(ProcessRequest, AbsurdContentLengthDoesNotAllocateIt) {
    TTestEngine engine;
    std::string value;
    engine.OnExecRequest = [&](TObject*) { value = HttpFieldValue("x", ""); };
    Serve(engine, {"REQUEST_METHOD=POST", "CONTENT_LENGTH=2147483647"}, "x=abc&");
    EXPECT_EQ(value, "abc");
}

TEST(ProcessRequest, FieldValueDefaultsAndNames) {
    TTestEngine engine;
    std::vector<std::string> seen;
    engine.OnExecRequest = [&](TObject*) {
        seen.push_back(HttpFieldValue("A", "d"));
        seen.push_back(HttpFieldValue("empty", "d"));
        seen.push_back(HttpFieldValue("absent", "d"));
        seen.push_back(engine.FieldNames()->Text());
    };
    Serve(engine, {"REQUEST_METHOD=GET", "QUERY_STRING=b=2&a=1&empty="});
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "d", "d", "a\r\nb\r\nempty\r\n"}));
}

TEST(ProcessRequest, ErrorPageReplacesPendingOutputAndIsLogged) {
    if (ConsoleBuild) GTEST_SKIP() << "a console build adds Content-Length and Connection";
    LogFolder logs;
    TTestEngine engine;
    engine.ServerMode = 1;  // a resident server: the process lives on
    engine.OnExecRequest = [&](TObject*) {
        HttpWrite("lost");
        engine.AddHeader("X-Lost", "1");
        throw Exception("boom");
    };
    EXPECT_EQ(Serve(engine, {"REQUEST_METHOD=GET"}).All(),
              "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\n\r\n"
              "<html><body>Unhandled Exception: boom</body></html>\r\n");
    const std::string log = logs.Log();
    EXPECT_NE(log.find(" : Unhandled Exception: boom\r\n"), std::string::npos) << log;
}

// Only the system's own Exception counted as a failure: a std::bad_alloc,
// the std::out_of_range of the string list's index, or a thrown int skipped
// the error page and the log line, and the client got a cut page under
// "200 OK". Every one now gets the page and the line.
TEST(ProcessRequest, StandardAndForeignExceptionsSkippedTheErrorPage) {
    LogFolder logs;
    TTestEngine engine;
    engine.ServerMode = 1;
    struct Case {
        const char* name;
        std::function<void()> raise;
        const char* message;
    };
    const Case cases[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, "std::bad_alloc"},
        {"list index", [] { (void)TStringList()[3]; }, "vector::_M_range_check"},
        {"int", [] { throw 7; }, "Unknown exception"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        engine.OnExecRequest = [&](TObject*) {
            HttpWrite("cut");
            c.raise();
        };
        engine.OnRequestError = nullptr;
        const std::string out = Serve(engine, {"REQUEST_METHOD=GET"}).All();
        EXPECT_NE(out.find("content-type: text/html\r\n"), std::string::npos) << out;
        EXPECT_NE(out.find("\r\n\r\n<html><body>Unhandled Exception: " + std::string(c.message)), std::string::npos) << out;
        EXPECT_EQ(out.find("cut"), std::string::npos) << out;
        EXPECT_NE(logs.Log().find("Unhandled Exception: " + std::string(c.message)), std::string::npos);
        // An OnRequestError that raises a standard exception is answered too.
        engine.OnRequestError = [&](TObject*, const Exception&) { c.raise(); };
        const std::string again = Serve(engine, {"REQUEST_METHOD=GET"}).All();
        EXPECT_NE(again.find("Unhandled Exception: " + std::string(c.message)), std::string::npos) << again;
    }
}

// A standard exception in FinishRequest skipped the release of the request's
// objects, so a host leaked them request after request.
TEST(ProcessRequest, StandardExceptionInFinishRequestLeakedTheRequest) {
    if (EngineSettings::ConsoleFrontEnd) GTEST_SKIP() << "the console front end finishes its request itself";
    struct TFailingOutput : TStream {
        bool* freed;
        explicit TFailingOutput(bool* f) : freed(f) {}
        ~TFailingOutput() override { *freed = true; }
        int Read(void*, int) override { return -1; }
        int Write(const void*, int) override { throw std::runtime_error("write failed"); }
        std::int64_t Seek(std::int64_t, int) override { return 0; }
    };
    TTestEngine engine;
    engine.ServerMode = 1;
    engine.OnExecRequest = [](TObject*) { HttpWrite("page"); };
    bool freed = false;
    auto* variables = new TStringList();
    variables->Add("REQUEST_METHOD=GET");
    engine.ProcessRequest(nullptr, new TFailingOutput(&freed), variables);
    EXPECT_TRUE(freed);
    EXPECT_EQ(RequestContext.OutputStream, nullptr);
    EXPECT_EQ(RequestContext.FieldList, nullptr);
    EXPECT_EQ(RequestContext.ServerVariableList, nullptr);
}

// The error page put the message into HTML as it stood: markup in it ran
// in the client's browser. It is escaped on the page, kept as is in the log.
TEST(ProcessRequest, ErrorPageShowedTheMessageUnescaped) {
    LogFolder logs;
    TTestEngine engine;
    engine.ServerMode = 1;
    engine.OnExecRequest = [](TObject*) { throw Exception("<script>alert(1)</script> & \"C:\\x\""); };
    const std::string out = Serve(engine, {"REQUEST_METHOD=GET"}).All();
    EXPECT_NE(out.find("<html><body>Unhandled Exception: &lt;script&gt;alert(1)&lt;/script&gt; &amp; "
                       "&quot;C:\\x&quot;</body></html>\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(logs.Log().find("Unhandled Exception: <script>alert(1)</script> & \"C:\\x\""), std::string::npos);
}

TEST(ProcessRequest, OnRequestErrorReplacesTheErrorPage) {
    if (ConsoleBuild) GTEST_SKIP() << "a console build adds Content-Length and Connection";
    LogFolder logs;
    TTestEngine engine;
    engine.OnExecRequest = [](TObject*) {
        HttpWrite("before");
        throw Exception("boom");
    };
    engine.OnRequestError = [&](TObject* sender, const Exception& e) {
        EXPECT_EQ(sender, &engine);
        HttpWrite("handled " + e.Message);
    };
    EXPECT_EQ(Serve(engine, {"REQUEST_METHOD=GET"}).All(),
              "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\n\r\nbefore\r\nhandled boom\r\n");
    EXPECT_EQ(logs.Log(), "");
}

TEST(ProcessRequest, RaisingOnRequestErrorShowsTheSecondMessage) {
    LogFolder logs;
    TTestEngine engine;
    engine.ServerMode = 1;
    engine.OnExecRequest = [](TObject*) { throw Exception("first"); };
    engine.OnRequestError = [](TObject*, const Exception&) { throw Exception("second"); };
    const std::string out = Serve(engine, {"REQUEST_METHOD=GET"}).All();
    EXPECT_NE(out.find("<html><body>Unhandled Exception: second</body></html>"), std::string::npos) << out;
    EXPECT_EQ(logs.Log().find("first"), std::string::npos);
    EXPECT_NE(logs.Log().find("Unhandled Exception: second"), std::string::npos);
}

TEST(ProcessRequest, DebugAlwaysShowsPlainTextAndTheDump) {
    LogFolder logs;
    TTestEngine engine;
    engine.ServerMode = 1;
    engine.DebugMode = DebugAlways;
    engine.OnExecRequest = [&](TObject*) {
        engine.AddHeader("content-type", "image/png");  // dropped: the answer is plain text
        HttpWrite("body");
        HttpLog("note from handler");
    };
    const std::string out =
        Serve(engine, {"REQUEST_METHOD=POST", "CONTENT_LENGTH=3", "SERVER_SOFTWARE=IIS"}, "a=1").All();
    const std::string head = "HTTP/1.0 200 OK\r\ncontent-type: text/plain\r\n\r\n\r\nbody\r\n\r\n(*** END ***)\r\n";
    ASSERT_EQ(out.substr(0, head.size()), head);
    const std::size_t user = out.find("(***    User Log      ***)");
    const std::size_t note = out.find(" : note from handler\r\n");
    const std::size_t input = out.find("(***   Client input   ***)\r\n(************************)\r\na=1\r\n");
    const std::size_t vars = out.find("(*** Server variables ***)\r\n(************************)\r\nCONTENT_LENGTH=3\r\n");
    EXPECT_TRUE(user < note && note < input && input < vars && vars != std::string::npos) << out;
    EXPECT_EQ(out.find("image/png"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 4), "\r\n\r\n");
}

TEST(ProcessRequest, DebugExceptionReportsTheFailureInTheDump) {
    LogFolder logs;
    TTestEngine engine;
    engine.ServerMode = 1;
    engine.DebugMode = DebugException;
    engine.OnExecRequest = [](TObject*) {
        HttpWrite("partial");
        throw Exception("bad");
    };
    const std::string out = Serve(engine, {"REQUEST_METHOD=GET"}).All();
    EXPECT_EQ(out.rfind("HTTP/1.0 200 OK\r\ncontent-type: text/plain\r\n\r\n", 0), 0u) << out;
    EXPECT_NE(out.find("partial\r\n"), std::string::npos);
    EXPECT_NE(out.find(" : Unhandled Exception: bad\r\n"), std::string::npos);
    EXPECT_EQ(out.find("<html>"), std::string::npos);
}

TEST(ProcessRequest, DebugExceptionWithoutFailureAnswersAsWithoutDebug) {
    auto answer = [](TDebugMode mode) {
        TTestEngine engine;
        engine.DebugMode = mode;
        engine.OnExecRequest = [](TObject*) { HttpWrite("page " + HttpFieldValue("a", "")); };
        return Serve(engine, {"REQUEST_METHOD=POST", "CONTENT_LENGTH=3"}, "a=1").All();
    };
    EXPECT_EQ(answer(DebugException), answer(NoDebug));
}

// A handler that set the content type during its request wrote the engine
// every thread shares: in a host, a concurrent request answered with the
// other one's type. The value set during a request is that request's own.
TEST(EngineSetters, ContentTypeSetDuringARequestReachedOtherRequests) {
    TTestEngine engine;
    engine.ServerMode = 2;
    std::mutex lock;
    std::condition_variable changed;
    int set = 0;
    engine.OnExecRequest = [&](TObject*) {
        const std::string type = "text/x-" + HttpFieldValue("n");
        engine.SetAutoContentType(type);
        std::unique_lock<std::mutex> hold(lock);
        ++set;
        changed.notify_all();
        changed.wait_for(hold, std::chrono::seconds(10), [&] { return set == 2; });
        HttpWrite("x");
    };
    std::string answers[2];
    std::thread first([&] { answers[0] = Serve(engine, {"REQUEST_METHOD=GET", "QUERY_STRING=n=1"}).All(); });
    std::thread second([&] { answers[1] = Serve(engine, {"REQUEST_METHOD=GET", "QUERY_STRING=n=2"}).All(); });
    first.join();
    second.join();
    EXPECT_NE(answers[0].find("content-type: text/x-1\r\n"), std::string::npos) << answers[0];
    EXPECT_NE(answers[1].find("content-type: text/x-2\r\n"), std::string::npos) << answers[1];
    EXPECT_EQ(engine.AutoContentType, "text/html") << "the shared setting stays as configured";
}

TEST(EngineSetters, ForwardToTheEngineServingTheRequest) {
    TTestEngine outer;  // the form's component
    TTestEngine inner;  // the front end that serves (constructed last: current)
    outer.SetAutoContentType("text/x-before");
    EXPECT_EQ(inner.AutoContentType, "text/x-before");
    inner.OnExecRequest = [&](TObject*) {
        outer.SetAutoContentType("text/plain");
        outer.AllowedMethods.SetGet(false);
        outer.AllowedMethods.SetPut(true);
        outer.SetBufferedOutput(false);
        HttpWrite("x");
    };
    const std::string out = Serve(inner, {"REQUEST_METHOD=GET"}).All();
    EXPECT_EQ(out, "HTTP/1.0 200 OK\r\ncontent-type: text/plain\r\ncontent-length: 3\r\nConnection: Keep-Alive\r\n\r\nx\r\n");
    EXPECT_FALSE(inner.AllowedMethods.Get);
    EXPECT_FALSE(inner.AllowedMethods.Put);
    EXPECT_FALSE(outer.AllowedMethods.Put);
    EXPECT_TRUE(outer.BufferedOutput);
    outer.SetVersion("stored by a form");
    EXPECT_EQ(outer.Version(), EngineVersionText);
}

}  // namespace

namespace {
using namespace enginetest;

TEST(EngineAccessors, FrontEndAnswersWhatTheListLacks) {
    if (ConsoleBuild) GTEST_SKIP() << "a console build completes the header block differently";
    TTestEngine engine;
    std::string software;
    engine.OnExecRequest = [&](TObject*) { software = engine.GetServerSoftware(); };
    auto writes = std::make_shared<TWrites>();
    engine.ProcessRequest(new TScriptedInput({}, -1), new TSinkStream(writes), nullptr);
    EXPECT_EQ(software, "");
    // Without a list every look-up goes to the front end with the name as
    // asked: the engine's input checks, the handler's, then the CGI status
    // line's.
    EXPECT_EQ(engine.RawAsked, (std::vector<std::string>{"CONTENT_TYPE", "REQUEST_METHOD", "QUERY_STRING",
                                                         "SERVER SOFTWARE", "SERVER SOFTWARE"}));

    engine.RawAsked.clear();
    std::string pathInfo;
    engine.OnExecRequest = [&](TObject*) { pathInfo = engine.GetPathInfo(); };
    Serve(engine, {"REQUEST_METHOD=GET", "SERVER_SOFTWARE=IIS"});
    EXPECT_EQ(engine.RawAsked, (std::vector<std::string>{"CONTENT_TYPE", "PATH_INFO"}));
}

TEST(EngineAccessors, PortSecureAndContentLength) {
    struct Case {
        std::vector<std::string> vars;
        bool secure;
        std::int32_t length;
    };
    const Case cases[] = {
        {{"SERVER_PORT_SECURE=1", "CONTENT_LENGTH=42"}, true, 42},
        {{"SERVER_PORT_SECURE=0", "CONTENT_LENGTH=abc"}, false, 0},
        {{"SERVER_PORT_SECURE=yes", "CONTENT_LENGTH=99999999999"}, false, 0},
        {{"SERVER_PORT_SECURE="}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vars[0]);
        TTestEngine engine;
        engine.AutoReadInput = false;
        bool secure = !c.secure;
        std::int32_t length = -1;
        engine.OnExecRequest = [&](TObject*) {
            secure = engine.GetServerPortSecure();
            length = engine.GetContentLength();
        };
        Serve(engine, c.vars);
        EXPECT_EQ(secure, c.secure);
        EXPECT_EQ(length, c.length);
    }
}

}  // namespace
