// The standard CGI front end as a web server sees it: environment and
// standard input in, exit status and standard output out.
#include <gtest/gtest.h>

#include <string>

#include "gateway/frontends/CGISEng.h"
#include "gateway/frontends/GenEng.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/GatewayUnits.h"
#include "platform/Process.h"
#include "platform/StringList.h"
#include "tests/gateway/frontends/frontend_form.h"
#include "tests/gateway/frontends/frontend_harness.h"

namespace {
// What main() does: start the units, then create the form.
void ServeThroughProbeForm() {
    CreateMainForm<TProbeForm>();
    Note("form created");
}

class StdCgiFrontEnd : public ::testing::Test {
protected:
    void SetUp() override { TProbeForm::Configure = nullptr; }
    void TearDown() override { TProbeForm::Configure = nullptr; }
};
}  // namespace

TEST_F(StdCgiFrontEnd, StatusLineFollowsTheServerAndTheProcessEnds) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    struct Case {
        const char* server;
        const char* firstLine;
    };
    const Case cases[] = {
        {"Apache/1.3.9 (Win32)", "Status: 200 OK\r\n"},
        {"Netscape-Enterprise/3.6", "Status: 200 OK\r\n"},
        {"Stronghold/2.4.2", "Status: 200 OK\r\n"},
        {"Microsoft-IIS/4.0", "HTTP/1.0 200 OK\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        const TChildResult r = RunInChild(CgiGet(c.server), ServeThroughProbeForm);
        EXPECT_TRUE(r.Exited);
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_TRUE(StartsWith(r.Output, c.firstLine)) << r.Output;
        EXPECT_TRUE(EndsWith(r.Output, "\r\n\r\nhello\r\n")) << r.Output;
        // The process ended inside the form's creation, right after the request.
        EXPECT_EQ(r.Notes, "handler\n");
    }
}

TEST_F(StdCgiFrontEnd, BodyAndVariablesComeFromTheProcess) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    auto environment = CgiEnvironment("Apache/2.4.62");
    environment.push_back({"REQUEST_METHOD", "POST"});
    environment.push_back({"CONTENT_LENGTH", "19"});
    environment.push_back({"CONTENT_TYPE", "application/x-www-form-urlencoded"});
    environment.push_back({"HTTP_USER_AGENT", "probe/1.0"});
    TProbeForm::Configure = [](TProbeForm& form) {
        form.Engine->SetOnExecRequest([](TObject*) {
            HttpWrite("command " + HttpFieldValue("command", "none"));
            HttpWrite("agent " + HttpServerVariable("HTTP_USER_AGENT"));
        });
    };
    // Bytes past CONTENT_LENGTH are not part of the request.
    const TChildResult r = RunInChild({environment, {}, "command=playlistgen&tail=x"}, ServeThroughProbeForm);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_TRUE(EndsWith(r.Output, "\r\n\r\ncommand playlistgen\r\nagent probe/1.0\r\n")) << r.Output;
}

TEST_F(StdCgiFrontEnd, IsStdCgiReadsServerSoftwareVersionAndLaunch) {
    const TStartCase cases[] = {
        {"server, no CGI_VERSION", {{"SERVER_SOFTWARE", "Apache/1.3.9"}}, {}, "std"},
        {"Windows CGI version", {{"SERVER_SOFTWARE", "Apache/1.3.9"}, {"CGI_VERSION", "CGI/1.3a WIN"}}, {}, "not"},
        {"version compared upper-cased", {{"SERVER_SOFTWARE", "Apache"}, {"CGI_VERSION", "cgi/1.3a win"}}, {}, "not"},
        {"plain CGI version", {{"SERVER_SOFTWARE", "Apache"}, {"CGI_VERSION", "CGI/1.1"}}, {"P"}, "std"},
        {"ZB server with an argument", {{"SERVER_SOFTWARE", "ZB-Server/1.0"}}, {"P"}, "not"},
        {"ZB server, no arguments: started by hand", {{"SERVER_SOFTWARE", "ZB-Server/1.0"}}, {}, "std"},
        {"no server, one argument", {}, {"P"}, "not"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TChildResult r =
            RunInChild({c.environment, c.arguments, ""}, [] { Note(IsStdCgi() ? "std" : "not"); });
        EXPECT_EQ(r.Notes, std::string(c.want) + "\n");
    }
}

TEST_F(StdCgiFrontEnd, EnvironmentListIsSortedAndDropsCaseDuplicates) {
    const TChildRun run{{{"b", "1"}, {"a", "x"}, {"A", "X"}, {"C", ""}}, {"P"}, ""};
    const TChildResult r = RunInChild(run, [] {
        TStringList* list = EnvironmentList();
        for (const std::string& line : list->Lines())
            if (line.rfind("CGI_LOG_DIR=", 0) != 0) Note(line);
        delete list;
    });
    EXPECT_EQ(r.Notes, "a=x\nb=1\nC=\n");
}

TEST_F(StdCgiFrontEnd, AutoTerminateOffLeavesTheProcessWithACompleteAnswer) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    TProbeForm::Configure = [](TProbeForm& form) { form.Engine->SetCGIAutoTerminate(false); };
    const TChildResult r = RunInChild(CgiGet("Apache/1.3.9 (Win32)"), ServeThroughProbeForm);
    EXPECT_EQ(r.ExitCode, BodyReturned);
    EXPECT_EQ(r.Notes, "handler\nform created\n");
    EXPECT_TRUE(StartsWith(r.Output, "Status: 200 OK\r\n")) << r.Output;
    EXPECT_TRUE(EndsWith(r.Output, "\r\n\r\nhello\r\n")) << r.Output;
}

TEST_F(StdCgiFrontEnd, WithoutStandardStreamsTheHandlerRunsAndNothingIsWritten) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    // Not standard CGI and not started by hand: start-up opens no streams,
    // yet the selection still makes a standard CGI engine.
    const TChildRun run{{{"PLAYLIST_PROBE", "seen"}}, {"P"}, "ignored"};
    TProbeForm::Configure = [](TProbeForm& form) {
        form.Engine->SetOnExecRequest([](TObject*) {
            Note("handler " + HttpServerVariable("PLAYLIST_PROBE"));
            HttpWrite("lost");
        });
    };
    const TChildResult r = RunInChild(run, ServeThroughProbeForm);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Notes, "handler seen\n");
    EXPECT_EQ(r.Output, "");
}

TEST_F(StdCgiFrontEnd, RunConsoleRequestDoesNothingInTheWindowedBuild) {
    if (ConsoleBuild) GTEST_SKIP() << "console build";
    const TChildResult r = RunInChild(CgiGet("Apache/1.3.9"), [] {
        StartGatewayUnits();
        TCGIStdEngine engine(nullptr);
        engine.SetOnExecRequest([](TObject*) { Note("handler"); });
        engine.RunConsoleRequest();
        Note("returned");
    });
    EXPECT_EQ(r.ExitCode, BodyReturned);
    EXPECT_EQ(r.Notes, "returned\n");
    EXPECT_EQ(r.Output, "");
}

TEST_F(StdCgiFrontEnd, HandedOverRequestUsesItsOwnStreamsAndVariables) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    // The process runs under Apache, the handed-over request came from an
    // IIS environment: its own list decides the status line.
    const TChildResult r = RunInChild(CgiGet("Apache/1.3.9"), [] {
        StartGatewayUnits();
        TCGIStdEngine engine(nullptr);
        engine.CGIAutoTerminate = false;
        engine.SetOnExecRequest([](TObject*) { HttpWrite("served " + HttpServerVariable("QUERY_STRING")); });
        auto* variables = new TStringList(true);
        variables->Add("SERVER_SOFTWARE=Microsoft-IIS/4.0");
        variables->Add("REQUEST_METHOD=GET");
        variables->Add("QUERY_STRING=X");
        engine.RunRequest(new TMemoryStream, new TFileStream(ChildFolder() + "\\response", fmCreate), variables);
        // The streams were freed with the request; a later request of the
        // process gets streams of its own.
        engine.RunRequest(new TMemoryStream, new TFileStream(ChildFolder() + "\\second", fmCreate),
                          new TStringList(true));
        Note("cleared");
    });
    EXPECT_EQ(r.ExitCode, BodyReturned);
    EXPECT_EQ(r.Notes, "cleared\n");
    EXPECT_EQ(r.Output, "");
    std::string response;
    ASSERT_TRUE(ReadWholeFile(r.Folder + "/response", response));
    EXPECT_TRUE(StartsWith(response, "HTTP/1.0 200 OK\r\n")) << response;
    EXPECT_TRUE(EndsWith(response, "\r\n\r\nserved X\r\n")) << response;
}

TEST_F(StdCgiFrontEnd, StandaloneEngineOnAFormServesAfterTheFormsCreation) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    // A TCGIStdEngine placed on a form by itself starts from its own Loaded;
    // one created in code (not marked loading) leaves that to its creator.
    struct TStdForm : TForm {
        explicit TStdForm(TComponent* owner) : TForm(owner) {
            auto* placed = new TCGIStdEngine(this);
            placed->ComponentState |= csLoading;
            placed->SetOnExecRequest([](TObject*) { Note("placed"); });
            auto* made = new TCGIStdEngine(this);
            made->SetOnExecRequest([](TObject*) { Note("made in code"); });
            OnCreate = [](TObject*) { Note("own OnCreate"); };
        }
    };
    const TChildResult r = RunInChild(CgiGet("Apache/1.3.9"), CreateMainForm<TStdForm>);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Notes, "own OnCreate\nplaced\n");
    EXPECT_TRUE(StartsWith(r.Output, "Status: 200 OK\r\n")) << r.Output;
}
