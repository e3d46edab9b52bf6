// What ends or outlives a process: the CGI end after a request and after the
// error page, the watchdog over a stalled body, the bounded read without a
// watchdog, and the gateway log's place on disk. Whatever ends a process
// runs in a forked child.
#include <chrono>
#include <deque>
#include <filesystem>
#include <future>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "gateway/engine/Limits.h"
#include "gateway/engine/WatchDog.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "platform/Files.h"
#include "tests/gateway/engine/engine_harness.h"
#include "platform/Process.h"

namespace {
using namespace enginetest;
namespace fs = std::filesystem;

// A form whose end leaves a mark on disk, so the parent can see that the
// application's forms were freed before the process ended.
class TMarkedForm : public TForm {
public:
    TMarkedForm(TComponent* owner, std::string mark) : TForm(owner), mark_(std::move(mark)) {}
    ~TMarkedForm() override { static_cast<void>(AppendToFile(mark_, "freed\r\n")); }

private:
    std::string mark_;
};

class TAutoEngine : public THttpCGIEngine {
public:
    explicit TAutoEngine(TComponent* owner) : THttpCGIEngine(owner) {}
    void RunProcessRequest() override {}
};

// In a child: serves one request as a CGI process would, the answer going to
// the file out, and returns 1 should the process outlive its request.
int ServeAsCgiProcess(const std::string& folder, const TExecRequestEvent& handler,
                      TStream* input = nullptr, const std::vector<std::string>& vars = {"REQUEST_METHOD=GET"}) {
    WatchDog.store(nullptr);  // the parent's watchdog thread does not exist here
    setenv("CGI_LOG_DIR", folder.c_str(), 1);
    Application = new TApplication();
    auto* form = new TMarkedForm(Application, folder + "/forms");
    auto* engine = new TAutoEngine(form);
    engine->OnExecRequest = handler;
    auto* list = new TStringList(true);
    for (const auto& line : vars) list->Add(line);
    if (input == nullptr) input = new TScriptedInput({}, -1);
    engine->ProcessRequest(input, new TFileStream(folder + "/out", fmCreate), list);
    return 1;
}

TEST(CgiProcess, EndsWithExitCodeZeroAfterItsAnswer) {
    if (ConsoleBuild) GTEST_SKIP() << "a console process ends at its own end, not after the request";
    TTempFolder tmp;
    const int code = RunForked([&] { return ServeAsCgiProcess(tmp.Path(), [](TObject*) { HttpWrite("done"); }); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(tmp.Path() + "/out"),
              "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\ncontent-length: 6\r\nConnection: Keep-Alive\r\n\r\ndone\r\n");
    EXPECT_EQ(ReadFileBytes(tmp.Path() + "/forms"), "freed\r\n");
}

TEST(CgiProcess, ErrorPageEndsTheProcessWithExitCodeZero) {
    if (ConsoleBuild) GTEST_SKIP() << "a console process ends at its own end, not after the request";
    TTempFolder tmp;
    const int code = RunForked([&] {
        return ServeAsCgiProcess(tmp.Path(), [](TObject*) {
            HttpWrite("discarded");
            throw Exception("disk on fire");
        });
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(tmp.Path() + "/out"),
              "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\n\r\n"
              "<html><body>Unhandled Exception: disk on fire</body></html>\r\n");
    EXPECT_EQ(ReadFileBytes(tmp.Path() + "/forms"), "freed\r\n");
    std::string log;
    for (const auto& entry : fs::directory_iterator(tmp.Path()))
        if (entry.path().extension() == ".Log") log = ReadFileBytes(entry.path().string());
    EXPECT_NE(log.find(" : Unhandled Exception: disk on fire\r\n"), std::string::npos) << log;
}

TEST(WatchDog, EndsAProcessWhoseBodyStalls) {
    TTempFolder tmp;
    const auto start = std::chrono::steady_clock::now();
    const int code = RunForked([&] {
        SetBodyReadTimeoutForTesting(300);
        bool executed = false;
        const int result = ServeAsCgiProcess(tmp.Path(), [&](TObject*) { executed = true; },
                                             new TScriptedInput({"a=1"}, 0),
                                             {"REQUEST_METHOD=POST", "CONTENT_LENGTH=100"});
        return executed ? 2 : result;
    });
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(code, 0);
    EXPECT_LT(elapsed, std::chrono::seconds(8));
    EXPECT_EQ(ReadFileBytes(tmp.Path() + "/out"), "");  // the client gets no answer
}

// The deadline was one value for the whole process: a request thread that
// finished its body read disarmed the deadline of another thread whose read
// had stalled, so that one was never ended. Each thread now has its own.
TEST(WatchDog, ConcurrentBodyReadsOverwroteEachOthersDeadline) {
    TWatchDogThread dog(EngineSettings::WatchDogIntervalMs);  // never started: only its deadlines are looked at
    std::promise<void> armed;
    std::promise<void> release;
    std::thread stalled([&] {
        dog.SetDeadline(Now() - 1000.0 / MSecsPerDay);
        armed.set_value();
        release.get_future().wait();
    });
    armed.get_future().wait();
    std::thread finished([&] {
        dog.SetDeadline(Now() + 30000.0 / MSecsPerDay);
        dog.SetDeadline(0);
    });
    finished.join();
    EXPECT_TRUE(dog.DeadlinePassed(Now()));
    release.set_value();
    stalled.join();
}

// Where no watchdog runs (inside a host server), a client that answers
// "nothing yet" for ever kept the read polling without end.
TEST(ReadContent, StalledStreamWithoutWatchDogEndsAfterTheTimeout) {
    TTestEngine engine;
    TNoWatchDog noDog(200);
    struct Case {
        const char* name;
        std::deque<std::string> pieces;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"stall after data", {"a=1&", "", "b=2"}, {"a=1", "b=2"}},
        {"stall before any data", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> fields;
        engine.OnExecRequest = [&](TObject*) { fields = engine.Fields().Lines(); };
        const auto start = std::chrono::steady_clock::now();
        const std::string out = ServeFrom(engine, {"REQUEST_METHOD=POST", "CONTENT_LENGTH=100"},
                                          new TScriptedInput(c.pieces, 0)).All();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(fields, c.want);
        EXPECT_GE(elapsed, std::chrono::milliseconds(150));
        EXPECT_LT(elapsed, std::chrono::seconds(3));
        EXPECT_EQ(out.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    }
}

TEST(ReadContent, NegativeAnswerBeforeDataIsPassedOn) {
    TTestEngine engine;
    int got = 0;
    engine.AutoReadInput = false;
    engine.OnExecRequest = [&](TObject*) {
        char buffer[8];
        got = engine.ReadContent(buffer, sizeof buffer);
    };
    ServeFrom(engine, {"REQUEST_METHOD=POST"}, new TScriptedInput({}, -1));
    EXPECT_EQ(got, -1);
}

// Runs HttpLog in a child started as <folder>/prog.exe, with CGI_LOG_DIR as
// given (nullptr: unset).
int LogFromProgramIn(const std::string& folder, const char* logDir, int lines = 1, std::size_t width = 10) {
    return RunForked([=] {
        support::SetCommandLine({folder + "/prog.exe"});
        if (logDir) setenv("CGI_LOG_DIR", logDir, 1); else unsetenv("CGI_LOG_DIR");
        for (int i = 0; i < lines; ++i) HttpLog(std::string(width, static_cast<char>('a' + i % 26)));
        return 0;
    });
}

TEST(HttpLog, FileLocation) {
    {
        SCOPED_TRACE("default folder is created beside the program");
        TTempFolder tmp;
        ASSERT_EQ(LogFromProgramIn(tmp.Path(), nullptr), 0);
        const std::string log = ReadFileBytes(tmp.Path() + "/log/prog.Log");
        EXPECT_TRUE(std::regex_match(log, std::regex(R"(\d+/\d+/\d{4} \d+:\d\d:\d\d [AP]M,  \d{1,4} : a{10}\r\n)")))
            << log;
    }
    {
        SCOPED_TRACE("a folder that cannot be made gives way to the program's");
        TTempFolder tmp;
        ASSERT_TRUE(WriteWholeFile(tmp.Path() + "/log", "a file in the way"));
        ASSERT_EQ(LogFromProgramIn(tmp.Path(), nullptr), 0);
        EXPECT_NE(ReadFileBytes(tmp.Path() + "/prog.Log").find(" : aaaaaaaaaa\r\n"), std::string::npos);
    }
    {
        SCOPED_TRACE("a relative CGI_LOG_DIR is beside the program");
        TTempFolder tmp;
        ASSERT_EQ(LogFromProgramIn(tmp.Path(), "gw"), 0);
        EXPECT_NE(ReadFileBytes(tmp.Path() + "/gw/prog.Log").find(" : aaaaaaaaaa\r\n"), std::string::npos);
    }
    {
        SCOPED_TRACE("a rooted CGI_LOG_DIR is used as it stands");
        TTempFolder tmp;
        TTempFolder logs;
        ASSERT_EQ(LogFromProgramIn(tmp.Path(), logs.Path().c_str()), 0);
        EXPECT_NE(ReadFileBytes(logs.Path() + "/prog.Log").find(" : aaaaaaaaaa\r\n"), std::string::npos);
    }
}

// The log is bounded: a line that would take it past 10 MiB first moves it
// to prog.Log.1 and starts it anew.
TEST(HttpLog, FullLogMovesAsideBeforeTheNextLine) {
    TTempFolder tmp;
    ASSERT_EQ(LogFromProgramIn(tmp.Path(), nullptr), 0);
    const std::string log = tmp.Path() + "/log/prog.Log";
    std::filesystem::resize_file(log, LogFileLimit - 5);
    ASSERT_EQ(LogFromProgramIn(tmp.Path(), nullptr, 1, 200), 0);
    EXPECT_EQ(std::filesystem::file_size(log + ".1"), LogFileLimit - 5);
    EXPECT_NE(ReadFileBytes(log).find(" : " + std::string(200, 'a') + "\r\n"), std::string::npos);
    EXPECT_LT(std::filesystem::file_size(log), 300u);
}

TEST(HttpLog, ConcurrentProcessesNeverTearALine) {
    TTempFolder tmp;
    constexpr int Writers = 4;
    constexpr int Lines = 100;
    constexpr std::size_t Width = 5000;
    std::vector<std::thread> writers;
    std::vector<int> codes(Writers, -1);
    for (int w = 0; w < Writers; ++w)
        writers.emplace_back([&, w] { codes[static_cast<std::size_t>(w)] = LogFromProgramIn(tmp.Path(), nullptr, Lines, Width); });
    for (auto& t : writers) t.join();
    for (int code : codes) EXPECT_EQ(code, 0);
    const std::string log = ReadFileBytes(tmp.Path() + "/log/prog.Log");
    const std::regex whole(R"([^\r\n]+,  \d{1,4} : ([a-z])\1{4999})");
    int count = 0;
    for (std::size_t at = 0; at < log.size();) {
        const std::size_t end = log.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_TRUE(std::regex_match(log.substr(at, end - at), whole)) << "line " << count;
        at = end + 2;
        ++count;
    }
    EXPECT_EQ(count, Writers * Lines);
}

TEST(HttpTerminate, InsideAHostProcessReturnsAfterFinishing) {
    TTempFolder tmp;
    const int code = RunForked([&] {
        RunningAsLibrary = true;
        TTestEngine engine;
        auto writes = std::make_shared<TWrites>();
        engine.OnExecRequest = [&](TObject*) {
            HttpWrite("x");
            HttpTerminate();  // sends and finishes the request, and returns
            HttpWrite("after");
        };
        engine.ProcessRequest(new TScriptedInput({}, -1), new TSinkStream(writes), new TStringList());
        return writes->All() == "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\n\r\nx\r\n" ? 0 : 3;
    });
    EXPECT_EQ(code, 0);
}

}  // namespace
