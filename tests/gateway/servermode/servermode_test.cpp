// The resident server and the hand-off: the request file's bytes, the
// server's files and predicates, and whole hand-offs between forked
// processes (server and client), each wait bounded.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "gateway/frontends/CGIWEng.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/servermode/ServerMode.h"
#include "gateway/servermode/ServerModeRequest.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/Threads.h"
#include "platform/WindowTitle.h"
#include "tests/support/TempFolder.h"

namespace {
struct TempFolder {
    support::TTempFolder Folder{"valsetto-server"};
    const std::string& Path = Folder.Path();
};

// Makes this process the program at folder/prog.cgi with no arguments and
// no request in its environment; the server folder is folder/./temp.
void BecomeProgram(const std::string& folder) {
    std::string program = folder + "/prog.cgi";
    char* argv[] = {program.data(), nullptr};
    InitProcess(1, argv);
    unsetenv("SERVER_SOFTWARE");
    unsetenv("REQUEST_METHOD");
    unsetenv("CGI_VERSION");
    setenv("CGI_LOG_DIR", (folder + "/log").c_str(), 1);
}

std::string Os(const std::string& windowsPath) { return ToOsPath(windowsPath); }

std::vector<std::string> ServerFiles() {
    std::vector<std::string> names;
    TSearchRec rec;
    for (int found = FindFirst(ServerFilePrefix() + "*", faAnyFile, rec); found == 0; found = FindNext(rec))
        names.push_back(rec.Name);
    FindClose(rec);
    return names;
}

std::string FirstServerFile(const std::string& suffix) {
    for (const auto& name : ServerFiles())
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return ServerFolder() + "\\" + name;
    return {};
}

bool WaitUntil(const std::function<bool()>& condition, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 10) {
        if (condition()) return true;
        Sleep(10);
    }
    return condition();
}

pid_t Fork(const std::function<void()>& child) {
    const pid_t pid = fork();
    if (pid == 0) {
        child();
        _exit(0);
    }
    return pid;
}

// Exit status of the child, or -1 after killing it when it overran.
int Reap(pid_t pid, int milliseconds) {
    int status = 0;
    for (int waited = 0; waited <= milliseconds; waited += 10) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        Sleep(10);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

std::string ReadFile(const std::string& path) {
    std::string bytes;
    return ReadWholeFile(Os(path), bytes) ? bytes : std::string("<absent>");
}

void MakeFile(const std::string& path, const std::string& bytes = "") {
    ASSERT_TRUE(WriteWholeFile(path, bytes)) << path;
}

// The application's side of a request: echoes what it was given; the query
// "slow" takes 1.5 s.
void EchoRequest(TObject*) {
    if (HttpServerVariable("QUERY_STRING") == "slow") Sleep(1500);
    if (HttpServerVariable("QUERY_STRING") == "stuck") Sleep(9000);
    HttpWrite("method=" + HttpServerVariable("REQUEST_METHOD"));
    HttpWrite("query=" + HttpServerVariable("QUERY_STRING"));
    HttpWrite("field=" + HttpFieldValue("name", "(none)"));
}

// Child body: the resident server of folder with the given ServerMode.
void RunResidentServer(const std::string& folder, int serverMode) {
    BecomeProgram(folder);
    ServerModeStartup();
    auto* engine = new TCGIWinEngine(nullptr);
    engine->SetOnExecRequest(EchoRequest);
    engine->SetServerMode(static_cast<unsigned char>(serverMode));
    engine->RunProcessRequest();
}

TStringList* RequestVariables(const std::string& method, const std::string& query, const std::string& body) {
    auto* list = new TStringList(false);
    list->Add("REQUEST_METHOD=" + method);
    list->Add("QUERY_STRING=" + query);
    list->Add("REMOTE_ADDR=10.1.2.3");
    list->Add("SERVER_SOFTWARE=Microsoft-IIS/4.0");
    if (!body.empty()) {
        list->Add("CONTENT_TYPE=application/x-www-form-urlencoded");
        list->Add("CONTENT_LENGTH=" + std::to_string(body.size()));
    }
    return list;
}

TMemoryStream* BodyStream(const std::string& body) {
    auto* stream = new TMemoryStream();
    stream->WriteString(body);
    stream->SetPosition(0);
    return stream;
}

// Child body: a client that hands its request over and writes the answer
// to outputFile.
void RunClient(const std::string& folder, const std::string& method, const std::string& query,
               const std::string& body, const std::string& outputFile) {
    BecomeProgram(folder);
    HandOffRequest(BodyStream(body), new TFileStream(outputFile, fmCreate), RequestVariables(method, query, body));
}

// Child body: the same request served directly, as a CGI process would.
void RunDirect(const std::string& folder, const std::string& method, const std::string& query,
               const std::string& body, const std::string& outputFile) {
    BecomeProgram(folder);
    auto* engine = new TCGIWinEngine(nullptr);
    engine->SetOnExecRequest(EchoRequest);
    auto* list = RequestVariables(method, query, body);
    list->Sorted = true;
    list->Sort();
    engine->ProcessRequest(BodyStream(body), new TFileStream(outputFile, fmCreate), list);
}

void WriteRequestFile(const std::string& id, const std::string& method, const std::string& query) {
    std::unique_ptr<TStringList> list(RequestVariables(method, query, ""));
    MakeFile(Os(ServerFilePrefix() + id + "_REQ"), ComposeRequestHeader(*list));
}

// Puts back the variables and the command line a test changed, so later
// tests in the same process see the process as it was.
class ProcessGuard {
public:
    ProcessGuard() {
        for (const char* name : Names)
            if (const char* value = getenv(name)) saved_.emplace_back(name, value);
    }
    ~ProcessGuard() {
        for (const char* name : Names) unsetenv(name);
        for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
        InitProcess(0, nullptr);
    }
    ProcessGuard(const ProcessGuard&) = delete;
    ProcessGuard& operator=(const ProcessGuard&) = delete;

private:
    static constexpr const char* Names[] = {"SERVER_SOFTWARE", "REQUEST_METHOD", "CGI_VERSION", "CGI_LOG_DIR"};
    std::vector<std::pair<std::string, std::string>> saved_;
};

class ServerModeTest : public testing::Test {
protected:
    void SetUp() override {
        BecomeProgram(dir.Path);
        IsServerProcess.store(false);
        CreateDir(ServerFolder());
    }
    void TearDown() override { IsServerProcess.store(false); }
    ProcessGuard guard;
    TempFolder dir;
};
}  // namespace

TEST(RequestFile, HeaderRoundTripAndBounds) {
    TStringList variables(false);
    variables.Add("REQUEST_METHOD=POST");
    variables.Add("Content_Length=5");
    variables.Add("HTTP_ACCEPT=text/html,image/gif");
    const std::string header = ComposeRequestHeader(variables);
    EXPECT_EQ(header, "REQUEST_METHOD=POST\r\nContent_Length=5\r\nHTTP_ACCEPT=text/html,image/gif\r\n\r\n");
    EXPECT_EQ(RequestContentLength(variables), 5);

    struct Case {
        std::string bytes;
        bool ok;
        std::string header;
        std::string body;
    };
    const std::string padding(509, 'p');  // puts the terminator across the first 512-byte block
    const Case cases[] = {
        {header + "a=b&c", true, "REQUEST_METHOD=POST\r\nContent_Length=5\r\nHTTP_ACCEPT=text/html,image/gif\r\n", "a=b&c"},
        {"X=" + padding + "\r\n\r\nbody", true, "X=" + padding + "\r\n", "body"},
        {"A=1\r\n\r\n", true, "A=1\r\n", ""},
        {"A=1\r\nno terminator", false, "", ""},
        {"\r\n\r\nbody", false, "", ""},  // terminator at the very start: not served
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 30));
        TMemoryStream stream;
        stream.WriteString(c.bytes);
        stream.SetPosition(0);
        std::string got;
        ASSERT_EQ(ReadRequestHeader(stream, got), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(got + "\r\n", c.header);
        std::string rest(static_cast<std::size_t>(stream.Size() - stream.Position()), '\0');
        if (!rest.empty()) {
            ASSERT_EQ(stream.Read(rest.data(), static_cast<int>(rest.size())), static_cast<int>(rest.size()));
        }
        EXPECT_EQ(rest, c.body);
    }
}

TEST(RequestFile, ContentLengthAndClientId) {
    struct Case {
        const char* line;
        std::int32_t length;
    };
    for (const auto& c : {Case{"CONTENT_LENGTH=3000", 3000}, Case{"content_length= 12 ", 12},
                          Case{"CONTENT_LENGTH=abc", 0}, Case{"CONTENT_LENGTH=-5", 0}, Case{"OTHER=1", 0}}) {
        SCOPED_TRACE(c.line);
        TStringList list(false);
        list.Add(c.line);
        EXPECT_EQ(RequestContentLength(list), c.length);
    }
    TStringList list(false);
    list.Add("REMOTE_ADDRESS=192.168.0.9");
    EXPECT_EQ(ClientAddress(list), "192-168-0-9");  // the Windows CGI spelling
    list.Add("REMOTE_ADDR=10.1.2.3");
    EXPECT_EQ(ClientAddress(list), "10-1-2-3");
    EXPECT_EQ(FormatClientId("10-1-2-3", 0xA3F2), "10-1-2-3_0A3F2");
    EXPECT_EQ(FormatClientId("", 268435454), "_FFFFFFE");
}

TEST_F(ServerModeTest, PurgeFilesSparesFreshFilesAndFolders) {
    const std::string folder = Os(ServerFolder());
    MakeFile(folder + "/other.exe_1-2-3-4_00001_rsp");
    MakeFile(folder + "/prog.cgi_5-6-7-8_00002_REQ");
    MakeFile(folder + "/fresh.cgi_x_cnf");
    ASSERT_TRUE(CreateDir(folder + "/old.dir_x"));
    const TDateTime sixteenMinutesAgo = Now() - 16.0 / 1440;
    for (const char* name : {"/other.exe_1-2-3-4_00001_rsp", "/prog.cgi_5-6-7-8_00002_REQ", "/old.dir_x"})
        ASSERT_TRUE(FileSetDateTime(folder + name, sixteenMinutesAgo));

    PurgeFiles(ServerFolder() + "\\*.*_*", Now() - 1.0 / 96);
    EXPECT_FALSE(FileExists(folder + "/other.exe_1-2-3-4_00001_rsp"));
    EXPECT_FALSE(FileExists(folder + "/prog.cgi_5-6-7-8_00002_REQ"));
    EXPECT_TRUE(FileExists(folder + "/fresh.cgi_x_cnf"));
    EXPECT_TRUE(DirectoryExists(folder + "/old.dir_x"));
}

TEST_F(ServerModeTest, StartServerAndIsServerRunning) {
    EXPECT_FALSE(IsServerRunning());
    const std::string alive = Os(AliveFileName());
    MakeFile(alive);
    EXPECT_TRUE(IsServerRunning());
    ASSERT_TRUE(FileSetDateTime(alive, Now() - 31 * OneSecond));
    EXPECT_FALSE(IsServerRunning());  // not touched for 30 s: dead

    MakeFile(Os(ServerFilePrefix() + "1-2-3-4_00001_REQ"), "A=1\r\n\r\n");
    MakeFile(Os(ServerFilePrefix() + "1-2-3-4_00001_rsp"));
    StartServer();
    EXPECT_TRUE(IsServerProcess.load());
    EXPECT_EQ(ServerFiles(), std::vector<std::string>{"prog.cgi_s"});
    IsServerProcess.store(false);
    EXPECT_TRUE(IsServerRunning());  // the fresh alive file
}

TEST_F(ServerModeTest, HandOffAnswersAsADirectRunWould) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    const std::string body = "name=" + std::string(3000 - 5, 'v');  // copied in EngineLimits::ReadPiece blocks
    const pid_t server = Fork([&] { RunResidentServer(dir.Path, 1); });
    ASSERT_TRUE(WaitUntil([] { return FindWindowTitle(ServerFolder(), "prog.cgi_S") == TWindowState::wsPresent; }, 3000));
    EXPECT_TRUE(IsServerRunning());

    const pid_t client = Fork([&] { RunClient(dir.Path, "POST", "q1", body, dir.Path + "/handed.out"); });
    EXPECT_EQ(Reap(client, 10000), 0);
    const pid_t direct = Fork([&] { RunDirect(dir.Path, "POST", "q1", body, dir.Path + "/direct.out"); });
    EXPECT_EQ(Reap(direct, 10000), 0);

    const std::string handed = ReadFile(dir.Path + "/handed.out");
    EXPECT_NE(handed.find("field=" + std::string(2995, 'v')), std::string::npos) << handed.substr(0, 200);
    EXPECT_EQ(handed, ReadFile(dir.Path + "/direct.out"));
    const std::vector<std::string> aliveOnly = {"prog.cgi_s"};  // request and response cleared
    EXPECT_TRUE(WaitUntil([&] { return ServerFiles() == aliveOnly; }, 1000));

    // A Windows CGI process hands its data file's request over at start-up.
    const std::string data = dir.Path + "/request.ini";
    MakeFile(data, "[CGI]\r\nRequest Method=GET\r\nQuery String=name=w+c\r\nRemote Address=127.0.0.1\r\n"
                   "[System]\r\nOutput File=" + ToWindowsPath(dir.Path + "/wincgi.out") + "\r\n");
    MakeFile(dir.Path + "/wincgi.out", std::string(2000, '#'));
    const pid_t winClient = Fork([&] {
        BecomeProgram(dir.Path);
        std::string program = dir.Path + "/prog.cgi";
        std::string argument = data;
        char* argv[] = {program.data(), argument.data(), nullptr};
        InitProcess(2, argv);
        setenv("CGI_VERSION", "CGI/1.3a WIN", 1);
        ServerModeStartup();
        CGIWEngStartup();
        _exit(3);  // not reached: the hand-off ends the process
    });
    EXPECT_EQ(Reap(winClient, 10000), 0);
    const std::string answer = ReadFile(dir.Path + "/wincgi.out");
    EXPECT_NE(answer.find("method=GET\r\nquery=name=w+c\r\nfield=w c\r\n"), std::string::npos) << answer;
    EXPECT_EQ(answer.find('#'), std::string::npos);  // the old output is cut off

    ASSERT_TRUE(DeleteFile(Os(AliveFileName())));  // stops the server within one pass
    EXPECT_EQ(Reap(server, 3000), 0);
    EXPECT_TRUE(ServerFiles().empty());
    EXPECT_EQ(FindWindowTitle(ServerFolder(), "prog.cgi_S"), TWindowState::wsAbsent);
}

TEST_F(ServerModeTest, SlowRequestDoesNotHoldUpTheNextInServerMode2) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    const pid_t server = Fork([&] { RunResidentServer(dir.Path, 2); });
    ASSERT_TRUE(WaitUntil([] { return FindWindowTitle(ServerFolder(), "prog.cgi_S") == TWindowState::wsPresent; }, 3000));
    const pid_t client = Fork([&] { RunClient(dir.Path, "GET", "slow", "", dir.Path + "/slow.out"); });
    ASSERT_TRUE(WaitUntil([] { return !FirstServerFile("_cnf").empty(); }, 3000));  // the slow one is claimed
    WriteRequestFile("B_00002", "GET", "fast");
    const std::string fast = Os(ServerFilePrefix() + "B_00002_rsp");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(fast); }, 1000));
    EXPECT_NE(ReadFile(fast).find("query=fast"), std::string::npos);
    EXPECT_EQ(ReadFile(dir.Path + "/slow.out"), "");  // still being served

    kill(server, SIGTERM);  // a close message: requests in progress are finished first
    EXPECT_EQ(Reap(server, 5000), 0);
    EXPECT_EQ(Reap(client, 2000), 0);
    EXPECT_NE(ReadFile(dir.Path + "/slow.out").find("query=slow"), std::string::npos);
    EXPECT_TRUE(ServerFiles().empty());
}

TEST_F(ServerModeTest, ClientLimitCountsFilesBeyondTheAliveFile) {
    for (int further : {10, 9}) {
        SCOPED_TRACE(further);
        PurgeFiles(ServerFilePrefix() + "*", Now() + 1);
        MakeFile(Os(AliveFileName()));
        for (int i = 0; i < further; ++i) MakeFile(Os(ServerFilePrefix() + "9-9-9-" + std::to_string(i) + "_00000_rsp"));
        const std::string output = dir.Path + "/client" + std::to_string(further) + ".out";
        const pid_t client = Fork([&] { RunClient(dir.Path, "GET", "x", "", output); });
        if (further == 10) {
            EXPECT_EQ(Reap(client, 3000), 0);
            EXPECT_EQ(FirstServerFile("_REQ"), "");
            EXPECT_NE(ReadFile(dir.Path + "/log/prog.Log").find("Server mode - Too many clients"), std::string::npos);
        } else {
            ASSERT_TRUE(WaitUntil([] { return !FirstServerFile("_REQ").empty(); }, 3000));
            const std::string request = FirstServerFile("_REQ");
            EXPECT_TRUE(std::regex_search(request, std::regex(R"(\\prog\.cgi_10-1-2-3_[0-9A-F]{5,7}_REQ$)"))) << request;
            EXPECT_EQ(ReadFile(request).substr(0, 20), "REQUEST_METHOD=GET\r\n");
            ASSERT_TRUE(DeleteFile(Os(AliveFileName())));  // the client stops waiting at once
            EXPECT_EQ(Reap(client, 2000), 0);
        }
        EXPECT_EQ(ReadFile(output), "");
    }
}

TEST_F(ServerModeTest, ClientEndsWhenTheServerHasVanished) {
    // A server that died leaves a fresh alive file and its published pid.
    const pid_t dead = Fork([] {});
    ASSERT_EQ(Reap(dead, 2000), 0);
    struct Case {
        const char* what;
        bool deadPid;
        double aliveAgeSeconds;
    };
    for (const auto& c : {Case{"published pid gone", true, 0}, Case{"alive file not touched for 40 s", false, 40}}) {
        SCOPED_TRACE(c.what);
        MakeFile(Os(AliveFileName()));
        ASSERT_TRUE(FileSetDateTime(Os(AliveFileName()), Now() - c.aliveAgeSeconds * OneSecond));
        if (c.deadPid) MakeFile(Os(WindowTitleFile(ServerFolder(), "prog.cgi_S")), std::to_string(dead));
        const pid_t client = Fork([&] { RunClient(dir.Path, "GET", "x", "", dir.Path + "/vanished.out"); });
        EXPECT_EQ(Reap(client, 2000), 0);
        EXPECT_TRUE(ServerFiles().empty());  // everything of the dead server cleared
        EXPECT_EQ(FindWindowTitle(ServerFolder(), "prog.cgi_S"), TWindowState::wsAbsent);
        EXPECT_EQ(ReadFile(dir.Path + "/vanished.out"), "");
    }
}

TEST_F(ServerModeTest, ResponsePublishedAsTheServerStopsIsDelivered) {
    MakeFile(Os(AliveFileName()));
    const pid_t client = Fork([&] { RunClient(dir.Path, "GET", "x", "", dir.Path + "/late.out"); });
    ASSERT_TRUE(WaitUntil([] { return !FirstServerFile("_REQ").empty(); }, 3000));
    const std::string request = FirstServerFile("_REQ");
    const std::string base = request.substr(0, request.size() - 3);
    MakeFile(Os(base + "rsp"), "HTTP/1.0 200 OK\r\n\r\nlast words");
    ASSERT_TRUE(DeleteFile(Os(AliveFileName())));
    EXPECT_EQ(Reap(client, 2000), 0);
    EXPECT_EQ(ReadFile(dir.Path + "/late.out"), "HTTP/1.0 200 OK\r\n\r\nlast words");
    EXPECT_FALSE(FileExists(Os(base + "rsp")));
}

TEST_F(ServerModeTest, KilledServerLeavesTheWaitingClientBounded) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    const pid_t server = Fork([&] { RunResidentServer(dir.Path, 1); });
    ASSERT_TRUE(WaitUntil([] { return FindWindowTitle(ServerFolder(), "prog.cgi_S") == TWindowState::wsPresent; }, 3000));
    const pid_t client = Fork([&] { RunClient(dir.Path, "GET", "slow", "", dir.Path + "/killed.out"); });
    ASSERT_TRUE(WaitUntil([] { return !FirstServerFile("_cnf").empty(); }, 3000));  // being served
    kill(server, SIGKILL);
    EXPECT_EQ(Reap(server, 2000), 128);
    EXPECT_EQ(Reap(client, 2000), 0);  // noticed the vanished server, not the 180 s bound
    EXPECT_EQ(ReadFile(dir.Path + "/killed.out"), "");
    EXPECT_TRUE(ServerFiles().empty());
    EXPECT_FALSE(IsServerRunning());  // the next request is served directly
}

TEST_F(ServerModeTest, ConsoleServerAnswersOneConsoleClient) {
    const pid_t server = Fork([&] {
        BecomeProgram(dir.Path);
        auto* engine = new TCGIWinEngine(nullptr);
        engine->SetOnExecRequest(EchoRequest);
        engine->CGIAutoTerminate = false;
        TStream* input = nullptr;
        TStream* output = nullptr;
        TStringList* variables = nullptr;
        WaitForRequestFile(input, output, variables);
        if (!output) _exit(4);
        if (ConsoleBuild) {
            ServerModeStartup();  // its end routine removes the alive file
            engine->ConsoleRequest = {std::unique_ptr<TStream>(input), std::unique_ptr<TStream>(output),
                                      std::unique_ptr<TStringList>(variables)};
            engine->RunConsoleRequest();
            NormalExit(0);
        }
        engine->ProcessRequest(input, output, variables);
        DeleteFile(Os(AliveFileName()));  // what the console build's end routine does
        _exit(0);
    });
    ASSERT_TRUE(WaitUntil([] { return FileExists(Os(AliveFileName())); }, 3000));
    const pid_t client = Fork([&] {
        BecomeProgram(dir.Path);
        HandOffRequestConsole(BodyStream("name=console"), new TFileStream(dir.Path + "/console.out", fmCreate),
                              RequestVariables("POST", "c", "name=console"));
    });
    EXPECT_EQ(Reap(server, 5000), 0);
    EXPECT_EQ(Reap(client, 5000), 0);
    const std::string answer = ReadFile(dir.Path + "/console.out");
    EXPECT_NE(answer.find("method=POST\r\nquery=c\r\nfield=console\r\n"), std::string::npos) << answer;
    EXPECT_TRUE(ServerFiles().empty());
    EXPECT_NE(ReadFile(dir.Path + "/log/prog.Log").find(" : c1"), std::string::npos);
}

TEST_F(ServerModeTest, TickThreadEndsABusyServerWhoseAliveFileIsGone) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    const pid_t server = Fork([&] { RunResidentServer(dir.Path, 1); });
    ASSERT_TRUE(WaitUntil([] { return FindWindowTitle(ServerFolder(), "prog.cgi_S") == TWindowState::wsPresent; }, 3000));
    WriteRequestFile("A_00001", "GET", "stuck");  // holds the loop for 9 s
    ASSERT_TRUE(WaitUntil([] { return !FirstServerFile("_cnf").empty(); }, 3000));
    ASSERT_TRUE(DeleteFile(Os(AliveFileName())));
    EXPECT_EQ(Reap(server, 6500), 0);  // within the 5 s heartbeat, through the normal program end
    EXPECT_TRUE(ServerFiles().empty());  // the end routine's purge
    EXPECT_EQ(FindWindowTitle(ServerFolder(), "prog.cgi_S"), TWindowState::wsAbsent);
}
