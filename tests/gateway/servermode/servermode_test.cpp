// The resident server and the hand-off: the request file's bytes, the
// server's files and predicates, and whole hand-offs between forked
// processes (server and client), each wait bounded.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
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
#include "gateway/engine/ProcessRole.h"
#include "gateway/servermode/ServerMode.h"
#include "gateway/servermode/ServerModeInternal.h"
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

// True once the child has ended (it is not reaped here).
bool HasEnded(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
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
// "slow" takes 1.5 s, "stuck" 3 s.
void EchoRequest(TObject*) {
    if (HttpServerVariable("QUERY_STRING") == "slow") Sleep(1500);
    if (HttpServerVariable("QUERY_STRING") == "stuck") Sleep(3000);
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

// Exit status of a client child that served its request itself.
constexpr int ServedHere = 5;

// Serves a request in this process, as a CGI front end does, and ends it
// with exit status code.
[[noreturn]] void ServeHere(TCgiRequest& request, int code) {
    auto* engine = new TCGIWinEngine(nullptr);
    engine->SetOnExecRequest(EchoRequest);
    engine->CGIAutoTerminate = false;
    engine->ProcessRequest(request.Input.release(), request.Output.release(), request.Variables.release());
    _exit(code);
}

// Child body: a client that hands its request over and writes the answer
// to outputFile; a request given back is served here (exit ServedHere), by
// a process that SIGTERM ends again (else exit 6).
void RunClientWith(const std::string& folder, TStream* input, TStringList* variables, const std::string& outputFile) {
    BecomeProgram(folder);
    setenv("REQUEST_METHOD", "GET", 1);  // a CGI process, not one started by hand
    TCgiRequest request{std::unique_ptr<TStream>(input), std::make_unique<TFileStream>(outputFile, fmCreate),
                        std::unique_ptr<TStringList>(variables)};
    HandOffRequest(request);
    struct sigaction onTerm {};
    if (sigaction(SIGTERM, nullptr, &onTerm) != 0 || onTerm.sa_handler != SIG_DFL) _exit(6);
    ServeHere(request, ServedHere);
}

void RunClient(const std::string& folder, const std::string& method, const std::string& query,
               const std::string& body, const std::string& outputFile) {
    RunClientWith(folder, BodyStream(body), RequestVariables(method, query, body), outputFile);
}

// Child body: the same request served directly, as a CGI process would.
void RunDirectWith(const std::string& folder, TStream* input, TStringList* variables, const std::string& outputFile) {
    BecomeProgram(folder);
    variables->Sorted = true;
    variables->Sort();
    TCgiRequest request{std::unique_ptr<TStream>(input), std::make_unique<TFileStream>(outputFile, fmCreate),
                        std::unique_ptr<TStringList>(variables)};
    ServeHere(request, 0);
}

void RunDirect(const std::string& folder, const std::string& method, const std::string& query,
               const std::string& body, const std::string& outputFile) {
    RunDirectWith(folder, BodyStream(body), RequestVariables(method, query, body), outputFile);
}

// The answer a direct run gives (a child of its own).
std::string DirectAnswer(const std::string& folder, const std::string& method, const std::string& query,
                         const std::string& body = "") {
    const std::string output = folder + "/direct-" + std::to_string(std::hash<std::string>{}(method + query + body));
    const pid_t direct = Fork([&] { RunDirect(folder, method, query, body, output); });
    EXPECT_EQ(Reap(direct, 10000), 0);
    return ReadFile(output);
}

bool ServerWindowUp() { return FindWindowTitle(ServerFolder(), "prog.cgi_S") == TWindowState::wsPresent; }

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

TEST(RequestFile, FramingRefusesEntriesThatAreNotOneLine) {
    struct Case {
        std::vector<std::string> entries;
        bool safe;
    };
    const Case cases[] = {
        {{"REQUEST_METHOD=GET", "PATH_INFO=/a b=c"}, true},
        {{"PATH_INFO=/x\nREMOTE_USER=mallory"}, false},
        {{"HTTP_X=a\r\n\r\nb"}, false},
        {{"HTTP_X=a\rb"}, false},
        {{"A=1", ""}, false},  // an empty entry would end the header block
    };
    for (const auto& c : cases) {
        TStringList list(false);
        for (const auto& e : c.entries) list.Add(e);
        EXPECT_EQ(FramesSafely(list), c.safe) << testing::PrintToString(c.entries);
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
    MakeFile(Os(ServerFilePrefix() + "1-2-3-4_00002_cnf"));
    StartServer();
    EXPECT_TRUE(IsServerProcess.load());
    // A request still waiting is served by the new server.
    EXPECT_EQ(ServerFiles(), (std::vector<std::string>{"prog.cgi_1-2-3-4_00001_REQ", "prog.cgi_s"}));
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

// A body that arrives in pieces on a non-blocking input is handed over
// whole; one that ends early is handed over as it came. Either way the
// server answers as a direct run over the same input does.
TEST_F(ServerModeTest, NonBlockingInputIsCopiedToTheEndOfItsData) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    const pid_t server = Fork([&] { RunResidentServer(dir.Path, 1); });
    ASSERT_TRUE(WaitUntil(ServerWindowUp, 3000));
    const std::string body = "name=" + std::string(40, 'b');  // CONTENT_LENGTH 45
    for (const std::string& sent : {body, body.substr(0, 20)}) {
        SCOPED_TRACE(sent.size());
        auto answer = [&](bool handed) {
            int fds[2];
            EXPECT_EQ(pipe(fds), 0);
            fcntl(fds[0], F_SETFL, O_NONBLOCK);
            const std::string output = dir.Path + (handed ? "/nb-handed.out" : "/nb-direct.out");
            const pid_t reader = Fork([&] {
                close(fds[1]);
                auto* input = new THandleStream(fds[0]);
                if (handed)
                    RunClientWith(dir.Path, input, RequestVariables("POST", "nb", body), output);
                else
                    RunDirectWith(dir.Path, input, RequestVariables("POST", "nb", body), output);
            });
            close(fds[0]);
            Sleep(100);  // the reader finds nothing yet
            EXPECT_EQ(write(fds[1], sent.data(), 20), 20);
            Sleep(200);
            if (sent.size() > 20) {
                EXPECT_GT(write(fds[1], sent.data() + 20, sent.size() - 20), 0);
            }
            close(fds[1]);
            EXPECT_EQ(Reap(reader, 5000), 0);
            return ReadFile(output);
        };
        const std::string handed = answer(true);
        EXPECT_NE(handed.find("field=" + sent.substr(5) + "\r\n"), std::string::npos) << handed;
        EXPECT_EQ(handed, answer(false));
    }
    ASSERT_TRUE(DeleteFile(Os(AliveFileName())));
    EXPECT_EQ(Reap(server, 3000), 0);
}

// A request the server cannot or will not take is served by the client
// itself, exactly as a direct run would serve it; the client touches no file
// but its own.
TEST_F(ServerModeTest, GivenBackRequestsAreServedHere) {
    const pid_t dead = Fork([] {});
    ASSERT_EQ(Reap(dead, 2000), 0);
    struct Case {
        const char* what;
        std::string query;
        std::function<void()> before;        // the folder as the client finds it
        std::function<void()> whileWaiting;  // once its request file is there (none: never written)
        const char* logged;
    };
    const Case cases[] = {
        {"a line break in a value (framing)", "x\nREMOTE_USER=mallory", [] {}, nullptr, nullptr},
        {"a header-ending CR LF CR LF in a value", "x\r\n\r\nREMOTE_USER=mallory", [] {}, nullptr, nullptr},
        {"ten requests waiting unclaimed (client limit)", "limit",
         [] {
             for (int i = 0; i < 9; ++i) MakeFile(Os(ServerFilePrefix() + "9-9-9-" + std::to_string(i) + "_00000_REQ"));
         },
         nullptr, "Server mode - Too many clients"},
        {"the server's published process has ended", "dead",
         [&] { MakeFile(Os(WindowTitleFile(ServerFolder(), "prog.cgi_S")), std::to_string(dead)); }, [] {}, nullptr},
        {"the alive file not touched for 40 s", "stale",
         [] { ASSERT_TRUE(FileSetDateTime(Os(AliveFileName()), Now() - 40 * OneSecond)); }, [] {}, nullptr},
        {"the alive file removed before the request was claimed", "stopping", [] {},
         [] { ASSERT_TRUE(DeleteFile(Os(AliveFileName()))); }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PurgeFiles(ServerFilePrefix() + "*", Now() + 1);
        DeleteFile(Os(WindowTitleFile(ServerFolder(), "prog.cgi_S")));
        MakeFile(Os(AliveFileName()));
        MakeFile(Os(ServerFilePrefix() + "9-9-9-9_00000_REQ"));  // another client's
        c.before();
        const std::vector<std::string> before = ServerFiles();
        const std::string output = dir.Path + "/given-back.out";
        const pid_t client = Fork([&] { RunClient(dir.Path, "GET", c.query, "", output); });
        if (c.whileWaiting) {
            ASSERT_TRUE(WaitUntil([&] { return ServerFiles().size() > before.size() || HasEnded(client); }, 3000));
            c.whileWaiting();
        }
        EXPECT_EQ(Reap(client, 3000), ServedHere);
        EXPECT_EQ(ReadFile(output), DirectAnswer(dir.Path, "GET", c.query));
        std::vector<std::string> left = before;
        if (!FileExists(Os(AliveFileName()))) std::erase(left, "prog.cgi_s");
        EXPECT_EQ(ServerFiles(), left);  // its own request taken back, nothing else touched
        if (c.logged) {
            EXPECT_NE(ReadFile(dir.Path + "/log/prog.Log").find(c.logged), std::string::npos);
        }
    }
}

// Ten answers nobody collected no longer lock clients out; a client that
// stops waiting (the web server's SIGTERM) takes its unclaimed request away.
TEST_F(ServerModeTest, OrphanedResponsesDoNotCountAndAStoppedClientRemovesItsRequest) {
    MakeFile(Os(AliveFileName()));
    ASSERT_TRUE(SetWindowTitle(ServerFolder(), "prog.cgi_S"));  // this process plays the living server
    for (int i = 0; i < 10; ++i) MakeFile(Os(ServerFilePrefix() + "9-9-9-" + std::to_string(i) + "_00000_rsp"));
    const std::vector<std::string> before = ServerFiles();
    const pid_t client = Fork([&] { RunClient(dir.Path, "GET", "x", "", dir.Path + "/stopped.out"); });
    ASSERT_TRUE(WaitUntil([] { return !FirstServerFile("_REQ").empty(); }, 3000));
    const std::string request = FirstServerFile("_REQ");
    EXPECT_TRUE(std::regex_search(request, std::regex(R"(\\prog\.cgi_10-1-2-3_[0-9A-F]{5,7}_REQ$)"))) << request;
    EXPECT_EQ(ReadFile(request).substr(0, 20), "REQUEST_METHOD=GET\r\n");
    kill(client, SIGTERM);
    EXPECT_EQ(Reap(client, 2000), 0);
    EXPECT_EQ(ServerFiles(), before);
    EXPECT_EQ(ReadFile(dir.Path + "/stopped.out"), "");
    ClearWindowTitle(ServerFolder(), "prog.cgi_S");
}

// The server's stale purge: its own files whatever the program's name,
// answers nobody collected after the clients' 180 s, other leftovers after
// 15 minutes; never its alive file nor another program's files.
TEST_F(ServerModeTest, StalePurgeTakesTheProgramsOwnLeftovers) {
    for (const char* name : {"prog.cgi", "playlist"}) {
        SCOPED_TRACE(name);
        std::string program = dir.Path + "/" + name;
        char* argv[] = {program.data(), nullptr};
        InitProcess(1, argv);
        struct File {
            std::string suffix;
            double ageSeconds;
            bool kept;
        };
        const File files[] = {{"1_00001_rsp", 170, true},      {"2_00002_rsp", 190, false},
                              {"3_00003_cnf", 14 * 60, true},  {"4_00004_cnf", 16 * 60, false},
                              {"5_00005_REQ", 16 * 60, false}, {"s", 20 * 60, true}};
        const std::string foreign = Os(ServerFolder() + "\\other.exe_6_00006_rsp");
        MakeFile(foreign);
        ASSERT_TRUE(FileSetDateTime(foreign, Now() - 1.0));
        for (const auto& f : files) {
            MakeFile(Os(ServerFilePrefix() + f.suffix));
            ASSERT_TRUE(FileSetDateTime(Os(ServerFilePrefix() + f.suffix), Now() - f.ageSeconds * OneSecond));
        }
        PurgeStaleFiles();
        for (const auto& f : files) EXPECT_EQ(FileExists(Os(ServerFilePrefix() + f.suffix)), f.kept) << f.suffix;
        EXPECT_TRUE(FileExists(foreign));
    }
}

// Requests are claimed oldest first, by one server only: a claim that
// another process made first is given up at once.
TEST_F(ServerModeTest, ClaimsOldestFirstAndOnlyOnce) {
    const struct {
        const char* id;
        double ageSeconds;
    } requests[] = {{"A_00001", 1}, {"B_00002", 3}, {"C_00003", 2}};
    for (const auto& r : requests) {
        WriteRequestFile(r.id, "GET", r.id);
        ASSERT_TRUE(FileSetDateTime(Os(ServerFilePrefix() + r.id + "_REQ"), Now() - r.ageSeconds * OneSecond));
    }
    for (const char* expected : {"B_00002_", "C_00003_", "A_00001_"})
        EXPECT_EQ(ClaimOldestRequest(), ServerFilePrefix() + expected);
    EXPECT_EQ(ClaimOldestRequest(), "");
    EXPECT_TRUE(FileExists(Os(ServerFilePrefix() + "B_00002_cnf")));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(ClaimRequest(ServerFilePrefix() + "B_00002_REQ"));  // taken already
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(40));
}

TEST_F(ServerModeTest, OnlyAProcessStartedByHandWithoutARequestIsALaunch) {
    struct Case {
        std::vector<std::string> arguments;
        const char* serverSoftware;
        const char* requestMethod;
        bool launch;
    };
    const Case cases[] = {
        {{}, nullptr, nullptr, true},
        {{}, "lighttpd/1.4", nullptr, false},
        {{}, "ZB-Server", nullptr, true},  // a "ZB" server counts as none
        {{}, nullptr, "GET", false},       // a web request without SERVER_SOFTWARE
        {{}, "ZB-Server", "GET", false},
        {{" $$START_SERVER ", "X"}, "lighttpd/1.4", nullptr, true},
        {{"$$START_SERVER", "X"}, nullptr, "GET", false},
        {{"$$start_server", "X"}, nullptr, nullptr, false},
        {{"x"}, nullptr, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments) + " " + (c.serverSoftware ? c.serverSoftware : "-") + " " +
                     (c.requestMethod ? c.requestMethod : "-"));
        std::vector<std::string> words = {dir.Path + "/prog.cgi"};
        words.insert(words.end(), c.arguments.begin(), c.arguments.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        InitProcess(static_cast<int>(words.size()), argv.data());
        for (auto [name, value] : {std::pair{"SERVER_SOFTWARE", c.serverSoftware}, {"REQUEST_METHOD", c.requestMethod}}) {
            if (value)
                setenv(name, value, 1);
            else
                unsetenv(name);
        }
        DecideProcessRole();  // as the start-up does
        EXPECT_EQ(IsServerLaunch(), c.launch);
    }
}

// The server is started with its path as one argument, blanks and all, and
// without the request's variables.
TEST_F(ServerModeTest, ServerStartKeepsABlankInTheProgramPath) {
    const std::string folder = dir.Path + "/with blank";
    ASSERT_TRUE(CreateDir(folder));
    MakeFile(folder + "/prog.cgi",
             "#!/bin/sh\n"
             "here=$(dirname \"$0\")\n"
             "{ printf '%s\\n' \"$0\" \"$@\"; echo \"method=${REQUEST_METHOD-unset}\"; } > \"$here/started.tmp\"\n"
             "mv \"$here/started.tmp\" \"$here/started.txt\"\n");
    ASSERT_EQ(chmod((folder + "/prog.cgi").c_str(), 0755), 0);
    BecomeProgram(folder);
    setenv("REQUEST_METHOD", "GET", 1);
    ASSERT_TRUE(StartServerProcess());
    ASSERT_TRUE(WaitUntil([&] { return FileExists(folder + "/started.txt"); }, 3000));
    EXPECT_EQ(ReadFile(folder + "/started.txt"), folder + "/prog.cgi\n$$START_SERVER\nX\nmethod=unset\n");
}

// A second server of the same install never starts: by hand while one
// runs, or at the same moment as another.
TEST_F(ServerModeTest, OneServerPerInstall) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    const pid_t first = Fork([&] { RunResidentServer(dir.Path, 1); });
    ASSERT_TRUE(WaitUntil(ServerWindowUp, 3000));
    const std::string window = ReadFile(Os(WindowTitleFile(ServerFolder(), "prog.cgi_S")));
    const pid_t second = Fork([&] { RunResidentServer(dir.Path, 1); });
    EXPECT_EQ(Reap(second, 3000), 1);
    EXPECT_NE(ReadFile(dir.Path + "/log/prog.Log").find("Server mode - A resident server is already running"),
              std::string::npos);
    EXPECT_EQ(ReadFile(Os(WindowTitleFile(ServerFolder(), "prog.cgi_S"))), window);
    EXPECT_TRUE(FileExists(Os(AliveFileName())));
    ASSERT_TRUE(DeleteFile(Os(AliveFileName())));
    EXPECT_EQ(Reap(first, 3000), 0);

    const pid_t racers[] = {Fork([&] { RunResidentServer(dir.Path, 1); }), Fork([&] { RunResidentServer(dir.Path, 1); })};
    ASSERT_TRUE(WaitUntil(ServerWindowUp, 3000));
    EXPECT_TRUE(WaitUntil([&] { return HasEnded(racers[0]) != HasEnded(racers[1]); }, 3000));
    Sleep(200);
    EXPECT_NE(HasEnded(racers[0]), HasEnded(racers[1]));  // one serves on
    ASSERT_TRUE(DeleteFile(Os(AliveFileName())));
    int refused = 0;
    for (pid_t racer : racers) refused += Reap(racer, 3000) == 1 ? 1 : 0;
    EXPECT_EQ(refused, 1);
    EXPECT_TRUE(ServerFiles().empty());
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

// A server killed while it serves a request: the waiting client notices at
// once, takes its claimed request back and serves it itself.
TEST_F(ServerModeTest, KilledServerLeavesTheWaitingClientBounded) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    const pid_t server = Fork([&] { RunResidentServer(dir.Path, 1); });
    ASSERT_TRUE(WaitUntil(ServerWindowUp, 3000));
    const pid_t client = Fork([&] { RunClient(dir.Path, "GET", "slow", "", dir.Path + "/killed.out"); });
    ASSERT_TRUE(WaitUntil([] { return !FirstServerFile("_cnf").empty(); }, 3000));  // being served
    kill(server, SIGKILL);
    EXPECT_EQ(Reap(server, 2000), 128);
    EXPECT_EQ(Reap(client, 4000), ServedHere);  // noticed the dead server, not the 180 s bound
    EXPECT_EQ(ReadFile(dir.Path + "/killed.out"), DirectAnswer(dir.Path, "GET", "slow"));
    EXPECT_EQ(FirstServerFile("_cnf"), "");
    EXPECT_FALSE(IsServerRunning());  // the next request is served directly
}

TEST_F(ServerModeTest, ConsoleServerAnswersOneConsoleClient) {
    const pid_t server = Fork([&] {
        BecomeProgram(dir.Path);
        ServerModeStartup();  // its end routine removes the alive file (console build)
        auto* engine = new TCGIWinEngine(nullptr);
        engine->SetOnExecRequest(EchoRequest);
        engine->CGIAutoTerminate = false;
        TStream* input = nullptr;
        TStream* output = nullptr;
        TStringList* variables = nullptr;
        WaitForRequestFile(input, output, variables);
        if (!output) _exit(4);
        if (ConsoleBuild) {
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
        setenv("REQUEST_METHOD", "POST", 1);
        TCgiRequest request{std::unique_ptr<TStream>(BodyStream("name=console")),
                            std::make_unique<TFileStream>(dir.Path + "/console.out", fmCreate),
                            std::unique_ptr<TStringList>(RequestVariables("POST", "c", "name=console"))};
        HandOffRequestConsole(request);
        _exit(ServedHere);
    });
    EXPECT_EQ(Reap(server, 5000), 0);
    EXPECT_EQ(Reap(client, 5000), 0);
    const std::string answer = ReadFile(dir.Path + "/console.out");
    EXPECT_NE(answer.find("method=POST\r\nquery=c\r\nfield=console\r\n"), std::string::npos) << answer;
    EXPECT_TRUE(ServerFiles().empty());
    EXPECT_NE(ReadFile(dir.Path + "/log/prog.Log").find(" : c1"), std::string::npos);
}

// The alive file removed while the one request thread is busy: the server
// takes no further request, finishes the running one (its client gets the
// answer) and then ends, its files purged.
TEST_F(ServerModeTest, ServerWhoseAliveFileIsGoneFinishesTheRunningRequest) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    const pid_t server = Fork([&] { RunResidentServer(dir.Path, 1); });
    ASSERT_TRUE(WaitUntil(ServerWindowUp, 3000));
    const pid_t client = Fork([&] { RunClient(dir.Path, "GET", "stuck", "", dir.Path + "/stuck.out"); });
    ASSERT_TRUE(WaitUntil([] { return !FirstServerFile("_cnf").empty(); }, 3000));
    ASSERT_TRUE(DeleteFile(Os(AliveFileName())));
    EXPECT_EQ(Reap(client, 6000), 0);
    EXPECT_EQ(Reap(server, 3000), 0);
    EXPECT_EQ(ReadFile(dir.Path + "/stuck.out"), DirectAnswer(dir.Path, "GET", "stuck"));
    EXPECT_TRUE(ServerFiles().empty());
    EXPECT_EQ(FindWindowTitle(ServerFolder(), "prog.cgi_S"), TWindowState::wsAbsent);
}

namespace {
// Runs count children, at most width at a time, each made by start(i);
// their exit statuses in order (-1 for one that overran the bound).
std::vector<int> RunPool(int count, int width, const std::function<pid_t(int)>& start, int boundMs = 60000) {
    std::vector<int> statuses(static_cast<std::size_t>(count), -1);
    std::vector<std::pair<pid_t, int>> running;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    int next = 0;
    while ((next < count || !running.empty()) && std::chrono::steady_clock::now() < deadline) {
        while (next < count && static_cast<int>(running.size()) < width) {
            running.emplace_back(start(next), next);
            ++next;
        }
        for (auto it = running.begin(); it != running.end();) {
            if (!HasEnded(it->first)) {
                ++it;
                continue;
            }
            statuses[static_cast<std::size_t>(it->second)] = Reap(it->first, 1000);
            it = running.erase(it);
        }
        Sleep(1);
    }
    for (const auto& [pid, index] : running) statuses[static_cast<std::size_t>(index)] = Reap(pid, 0);
    return statuses;
}

std::string BurstQuery(int i) { return "burst" + std::to_string(i); }
}  // namespace

// A burst of hand-offs over 8 concurrent clients, the server left alone or
// stopped in the middle of it (SIGTERM, the alive file's removal, SIGKILL):
// every client gets exactly the answer a direct run gives, whether the
// server or the client itself served it; nothing is lost or mixed.
TEST_F(ServerModeTest, BurstOfHandOffsAnswersEveryClientAsADirectRun) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    struct Case {
        const char* what;
        int serverMode;
        int requests;
        std::function<void(pid_t server)> stop;  // after a third of the requests; none: left alone
    };
    const Case cases[] = {
        {"ServerMode 2, left alone", 2, 200, nullptr},
        {"ServerMode 1, left alone", 1, 60, nullptr},
        {"SIGTERM", 2, 60, [](pid_t server) { kill(server, SIGTERM); }},
        {"alive file removed", 1, 60, [](pid_t) { DeleteFile(Os(AliveFileName())); }},
        {"SIGKILL", 2, 60, [](pid_t server) { kill(server, SIGKILL); }},
    };
    std::vector<std::string> direct;
    const std::vector<int> directStatuses = RunPool(200, 8, [&](int i) {
        return Fork([&, i] { RunDirect(dir.Path, "GET", BurstQuery(i), "", dir.Path + "/d" + std::to_string(i)); });
    });
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(directStatuses[static_cast<std::size_t>(i)], 0);
        direct.push_back(ReadFile(dir.Path + "/d" + std::to_string(i)));
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const pid_t server = Fork([&] { RunResidentServer(dir.Path, c.serverMode); });
        ASSERT_TRUE(WaitUntil(ServerWindowUp, 3000));
        const std::vector<int> statuses = RunPool(c.requests, 8, [&](int i) {
            if (c.stop && i == c.requests / 3) c.stop(server);
            return Fork([&, i] { RunClient(dir.Path, "GET", BurstQuery(i), "", dir.Path + "/h" + std::to_string(i)); });
        });
        int servedHere = 0;
        for (int i = 0; i < c.requests; ++i) {
            const int status = statuses[static_cast<std::size_t>(i)];
            EXPECT_TRUE(status == 0 || status == ServedHere) << i << ": " << status;
            servedHere += status == ServedHere ? 1 : 0;
            EXPECT_EQ(ReadFile(dir.Path + "/h" + std::to_string(i)), direct[static_cast<std::size_t>(i)]) << i;
        }
        if (c.stop) {
            EXPECT_GT(servedHere, 0);  // the later ones found the server gone
        } else {
            EXPECT_EQ(servedHere, 0);
            ASSERT_TRUE(DeleteFile(Os(AliveFileName())));
        }
        const bool killed = std::string(c.what) == "SIGKILL";
        EXPECT_EQ(Reap(server, 35000), killed ? 128 : 0);
        for (const auto& name : ServerFiles())  // a killed server leaves its alive file only
            EXPECT_TRUE(killed && name == "prog.cgi_s") << name;
        PurgeFiles(ServerFilePrefix() + "*", Now() + 1);
        DeleteFile(Os(WindowTitleFile(ServerFolder(), "prog.cgi_S")));
    }
}

// A client killed at any stage of its hand-off holds nobody up: the next
// request is answered by the server in normal time.
TEST_F(ServerModeTest, ClientKilledAtAnyStageHoldsNobodyUp) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed server loop";
    const pid_t server = Fork([&] { RunResidentServer(dir.Path, 1); });
    ASSERT_TRUE(WaitUntil(ServerWindowUp, 3000));
    struct Case {
        const char* what;
        const char* query;
        const char* waitFor;  // the file that shows the stage
        bool holdServer;      // the server held still (SIGSTOP) until the client is gone
    };
    const Case cases[] = {
        {"writing its request (the body not complete)", "writing", "_wrt", false},
        {"its request waiting unclaimed", "pending", "_REQ", true},
        {"its request being served", "slow", "_cnf", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t client = Fork([&] {
            close(fds[1]);
            RunClientWith(dir.Path, new THandleStream(fds[0]), RequestVariables("POST", c.query, "name=12345678"),
                          dir.Path + "/killed.out");
        });
        close(fds[0]);
        if (c.holdServer) kill(server, SIGSTOP);
        const std::string sent = std::string(c.waitFor) == "_wrt" ? "name=" : "name=12345678";
        EXPECT_EQ(write(fds[1], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
        EXPECT_TRUE(WaitUntil([&] { return !FirstServerFile(c.waitFor).empty(); }, 3000));
        kill(client, SIGKILL);
        EXPECT_EQ(Reap(client, 2000), 128);
        close(fds[1]);
        if (c.holdServer) kill(server, SIGCONT);
        const pid_t next = Fork([&] { RunClient(dir.Path, "GET", "next", "", dir.Path + "/next.out"); });
        EXPECT_EQ(Reap(next, 5000), 0);  // answered by the server
        EXPECT_EQ(ReadFile(dir.Path + "/next.out"), DirectAnswer(dir.Path, "GET", "next"));
    }
    ASSERT_TRUE(DeleteFile(Os(AliveFileName())));
    EXPECT_EQ(Reap(server, 5000), 0);
}
