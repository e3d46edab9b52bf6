// The selecting component: which front end a process gets, how its settings
// reach that engine, and when the request starts relative to its owner.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "gateway/frontends/CGISEng.h"
#include "gateway/frontends/CGIWEng.h"
#include "gateway/frontends/GenEng.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/GatewayUnits.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "platform/Process.h"
#include "tests/gateway/frontends/frontend_form.h"
#include "tests/gateway/frontends/frontend_harness.h"

namespace {
std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const char* ConcreteKind() {
    if (dynamic_cast<TCGIStdEngine*>(ConcreteCgiEngine)) return "std";
    if (dynamic_cast<TCGIWinEngine*>(ConcreteCgiEngine)) return "win";
    return "none";
}

// Records the order in which its setters are called.
class TRecordingEngine : public THttpCGIEngine {
public:
    using THttpCGIEngine::THttpCGIEngine;
    std::vector<std::string> Calls;
    void RunProcessRequest() override {}
    void SetOnExecRequest(TExecRequestEvent v) override { Record("OnExecRequest", [&] { THttpCGIEngine::SetOnExecRequest(v); }); }
    void SetOnFirstExecRequest(TFirstExecRequestEvent v) override { Record("OnFirstExecRequest", [&] { THttpCGIEngine::SetOnFirstExecRequest(v); }); }
    void SetOnLastExecRequest(TLastExecRequestEvent v) override { Record("OnLastExecRequest", [&] { THttpCGIEngine::SetOnLastExecRequest(v); }); }
    void SetOnRequestError(TRequestErrorEvent v) override { Record("OnRequestError", [&] { THttpCGIEngine::SetOnRequestError(v); }); }
    void SetOnPrepareRequest(TPrepareRequestEvent v) override { Record("OnPrepareRequest", [&] { THttpCGIEngine::SetOnPrepareRequest(v); }); }
    void SetDebugMode(TDebugMode v) override { Record("DebugMode", [&] { THttpCGIEngine::SetDebugMode(v); }); }
    void SetNoCache(bool v) override { Record("NoCache", [&] { THttpCGIEngine::SetNoCache(v); }); }
    void SetAutoContentType(const std::string& v) override { Record("AutoContentType", [&] { THttpCGIEngine::SetAutoContentType(v); }); }
    void SetAutoHttpHeader(bool v) override { Record("AutoHttpHeader", [&] { THttpCGIEngine::SetAutoHttpHeader(v); }); }
    void SetAutoReadInput(bool v) override { Record("AutoReadInput", [&] { THttpCGIEngine::SetAutoReadInput(v); }); }
    void SetAutoReadLimit(std::int32_t v) override { Record("AutoReadLimit", [&] { THttpCGIEngine::SetAutoReadLimit(v); }); }
    void SetServerMode(std::uint8_t v) override { Record("ServerMode", [&] { THttpCGIEngine::SetServerMode(v); }); }
    void SetTempDir(const std::string& v) override { Record("TempDir", [&] { THttpCGIEngine::SetTempDir(v); }); }
    void SetBufferedOutput(bool v) override { Record("BufferedOutput", [&] { THttpCGIEngine::SetBufferedOutput(v); }); }

private:
    template <class F>
    void Record(const char* name, F set) {
        Calls.emplace_back(name);
        set();
    }
};

// Stands in for the in-process front end: an engine that takes the three
// events of the host interface.
class TIsapiProbe : public THttpEngine, public TIsapiEventTarget {
public:
    using THttpEngine::THttpEngine;
    void SendHeaderLine(const std::string&, const std::string&) override {}
    void EndHeaderBlock() override {}
    void SetOnIsapiExtensionVersion(THttpExtensionVersionEvent h) override { ExtensionVersion = std::move(h); }
    void SetOnIsapiFilterProc(THttpFilterProcEvent h) override { FilterProc = std::move(h); }
    void SetOnIsapiFilterVersion(THttpFilterVersionEvent h) override { FilterVersion = std::move(h); }
    THttpExtensionVersionEvent ExtensionVersion;
    THttpFilterProcEvent FilterProc;
    THttpFilterVersionEvent FilterVersion;
};

THttpEngine* CreateIsapiProbe(TComponent* owner) { return new TIsapiProbe(owner); }

class GeneralHttpEngine : public ::testing::Test {
protected:
    void SetUp() override { TProbeForm::Configure = nullptr; TProbeDataModule::Configure = nullptr; }
    void TearDown() override { SetUp(); }
};
}  // namespace

TEST_F(GeneralHttpEngine, SelectsTheFrontEndThatFitsTheProcess) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    const TStartCase cases[] = {
        {"standard CGI", {{"SERVER_SOFTWARE", "Apache/1.3.9"}, {"REQUEST_METHOD", "GET"}}, {}, "std"},
        {"query word as argument", {{"SERVER_SOFTWARE", "Apache/1.3.9"}, {"REQUEST_METHOD", "GET"}}, {"P"}, "std"},
        {"not CGI at all: standard is the default", {}, {"P"}, "std"},
        {"started by hand", {}, {}, "win"},
        {"ZB server counts as none: started by hand", {{"SERVER_SOFTWARE", "ZB-Server/1.0"}}, {}, "win"},
        {"data file argument", {{"SERVER_SOFTWARE", "Website/1.1"}}, {"/proc/self/exe"}, "win"},
        {"data file under a Windows CGI server",
         {{"SERVER_SOFTWARE", "Website/1.1"}, {"REQUEST_METHOD", "GET"}, {"CGI_VERSION", "CGI/1.3a WIN"}},
         {"/proc/self/exe"},
         "win"},
        {"existing file but a plain CGI version", {{"CGI_VERSION", "CGI/1.2"}}, {"/proc/self/exe"}, "std"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TChildResult r = RunInChild({c.environment, c.arguments, ""}, [] {
            StartGatewayUnits();
            TGeneralHttpEngine engine(nullptr);
            Note(ConcreteKind());
        });
        EXPECT_EQ(r.Notes, std::string(c.want) + "\n");
    }
}

TEST_F(GeneralHttpEngine, InsideAHostServerTheInProcessFrontEndIsMadeOrRefused) {
    const TChildResult refused = RunInChild({{}, {}, ""}, [] {
        RunningAsLibrary = true;
        CreateIsapiEngineHook = nullptr;
        try {
            TGeneralHttpEngine engine(nullptr);
            Note("constructed");
        } catch (const Exception& e) {
            Note(e.Message);
        }
    });
    EXPECT_NE(refused.Notes.find("no in-process front end is registered"), std::string::npos) << refused.Notes;

    const TChildResult made = RunInChild({{}, {}, ""}, [] {
        RunningAsLibrary = true;
        CreateIsapiEngineHook = CreateIsapiProbe;
        TComponent owner(nullptr);
        auto* engine = new TGeneralHttpEngine(&owner);
        auto* probe = dynamic_cast<TIsapiProbe*>(ConcreteIsapiEngine);
        Note(probe != nullptr && probe->Owner() == &owner && ConcreteCgiEngine == nullptr ? "isapi" : "wrong");
        engine->SetOnIsapiFilterVersion([](std::int32_t&, std::int32_t&, std::string&, std::int32_t&, bool&) {});
        Note(probe->FilterVersion ? "forwarded" : "kept");
        // Stored values set without their setters: only Loaded passes them on.
        engine->OnExecRequest = [](TObject*) {};
        engine->AutoContentType = "text/plain";
        engine->Loaded();
        Note(probe->OnExecRequest && probe->AutoContentType == "text/plain" ? "copied" : "not copied");
    });
    EXPECT_EQ(made.Notes, "isapi\nforwarded\ncopied\n");
}

TEST_F(GeneralHttpEngine, InACgiProcessIsapiEventsAreOnlyStored) {
    const TChildResult r = RunInChild(CgiGet("Apache/1.3.9"), [] {
        StartGatewayUnits();
        CreateIsapiEngineHook = CreateIsapiProbe;
        TGeneralHttpEngine engine(nullptr);
        engine.SetOnIsapiFilterVersion([](std::int32_t&, std::int32_t&, std::string&, std::int32_t&, bool&) {});
        Note(engine.OnIsapiFilterVersion() && ConcreteIsapiEngine == nullptr ? "stored" : "wrong");
    });
    EXPECT_EQ(r.Notes, "stored\n");
}

TEST_F(GeneralHttpEngine, OwnerNeitherFormNorDataModuleStartsTheRequestFromLoaded) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    struct Case {
        const char* name;
        int owner;  // 0 none, 1 plain component, 2 module of neither kind
    };
    const Case cases[] = {{"no owner", 0}, {"plain component", 1}, {"custom module", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int ownerKind = c.owner;
        const TChildResult r = RunInChild(CgiGet("Apache/1.3.9"), [ownerKind] {
            StartGatewayUnits();
            TComponent plain(nullptr);
            TCustomModule module(nullptr);
            TComponent* owner = ownerKind == 0 ? nullptr : ownerKind == 1 ? &plain : &module;
            auto* engine = new TGeneralHttpEngine(owner);
            engine->SetOnExecRequest(ProbeExecRequest);
            engine->SetCGIAutoTerminate(false);
            Note("loading");
            engine->Loaded();
            Note("loaded");
            if (owner == nullptr) delete engine;
        });
        EXPECT_EQ(r.ExitCode, BodyReturned);
        EXPECT_EQ(r.Notes, "loading\nhandler\nloaded\n");
        EXPECT_TRUE(EndsWith(r.Output, "\r\n\r\nhello\r\n")) << r.Output;
    }
}

TEST_F(GeneralHttpEngine, SecondLoadedServesAtOnceAndDoesNotHookAgain) {
    struct Case {
        const char* name;
        bool ownOnCreate;
        const char* want;
    };
    // Without an own handler a second hook would save the hook itself, and
    // the form's creation would recurse without end.
    const Case cases[] = {
        {"form with its own OnCreate", true, "hooked\nhandler\nsecond\nown OnCreate\nhandler\ncreated\n"},
        {"form without OnCreate", false, "hooked\nhandler\nsecond\nhandler\ncreated\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool own = c.ownOnCreate;
        TProbeForm::Configure = [own](TProbeForm& form) {
            form.Engine->SetCGIAutoTerminate(false);
            if (own) form.OnCreate = [](TObject*) { Note("own OnCreate"); };
        };
        const TChildResult r = RunInChild(CgiGet("Apache/1.3.9"), [] {
            StartGatewayUnits();
            auto* form = new TProbeForm(nullptr);
            form->Engine->Loaded();
            Note("hooked");
            form->Engine->Loaded();
            Note("second");
            form->OnCreate(form);
            Note("created");
            delete form;
        });
        EXPECT_EQ(r.ExitCode, BodyReturned);
        EXPECT_EQ(r.Notes, c.want);
    }
}

TEST_F(GeneralHttpEngine, OwnersOwnOnCreateRunsBeforeTheRequest) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    // The owner's handler also turns CGIAutoTerminate off at run time: the
    // concrete engine follows, and the process outlives its request.
    const auto configure = [](auto& module) {
        module.OnCreate = [&module](TObject*) {
            Note("own OnCreate");
            module.Engine->SetCGIAutoTerminate(false);
        };
    };
    TProbeForm::Configure = configure;
    TProbeDataModule::Configure = configure;
    const TChildRun run = CgiGet("Apache/1.3.9");
    const TChildResult onForm = RunInChild(run, [] {
        CreateMainForm<TProbeForm>();
        Note("created");
    });
    const TChildResult onDataModule = RunInChild(run, [] {
        CreateMainForm<TProbeDataModule>();
        Note("created");
    });
    for (const TChildResult* r : {&onForm, &onDataModule}) {
        EXPECT_EQ(r->ExitCode, BodyReturned);
        EXPECT_EQ(r->Notes, "own OnCreate\nhandler\ncreated\n");
        EXPECT_TRUE(EndsWith(r->Output, "\r\n\r\nhello\r\n")) << r->Output;
    }
}

TEST_F(GeneralHttpEngine, CopyEngineSettingsSetsEverySettingInOrder) {
    const TChildResult r = RunInChild(CgiGet("Apache/1.3.9"), [] {
        StartGatewayUnits();
        TGeneralHttpEngine general(nullptr);
        general.SetOnExecRequest([](TObject*) { Note("exec"); });
        general.SetOnRequestError([](TObject*, const Exception&) {});
        general.SetDebugMode(DebugException);
        general.SetNoCache(true);
        general.SetAutoContentType("text/plain");
        general.SetAutoHttpHeader(false);
        general.SetAutoReadInput(false);
        general.SetAutoReadLimit(4096);
        general.AllowedMethods.SetPost(false);
        general.SetServerMode(2);
        general.SetTempDir("Spool");
        general.SetCGIAutoTerminate(false);
        TRecordingEngine target(nullptr);
        general.CopyEngineSettings(&target);
        std::string calls;
        for (const auto& call : target.Calls) calls += call + " ";
        Note(calls);
        const bool copied = target.DebugMode == DebugException && target.NoCache &&
                            target.AutoContentType == "text/plain" && !target.AutoHttpHeader &&
                            !target.AutoReadInput && target.AutoReadLimit == 4096 && target.AllowedMethods.Get &&
                            !target.AllowedMethods.Post && !target.AllowedMethods.Put && target.ServerMode == 2 &&
                            target.TempDir == "Spool" && !target.CGIAutoTerminate && target.OnRequestError &&
                            !target.OnFirstExecRequest;
        Note(copied ? "copied" : "not copied");
        target.OnExecRequest(&target);
    });
    EXPECT_EQ(r.Notes,
              "OnExecRequest OnFirstExecRequest OnLastExecRequest OnRequestError OnPrepareRequest DebugMode NoCache "
              "AutoContentType AutoHttpHeader AutoReadInput AutoReadLimit ServerMode TempDir \ncopied\nexec\n");
}

TEST_F(GeneralHttpEngine, RequestRunsOnTheConcreteEngineAndSettersReachIt) {
    if (ConsoleBuild) GTEST_SKIP() << "the windowed start-up: a console build serves at start-up";
    TProbeForm::Configure = [](TProbeForm& form) {
        form.Engine->SetOnExecRequest([&form](TObject* Sender) {
            const bool concrete = Sender == ConcreteCgiEngine && Sender != form.Engine;
            Note(concrete ? "sender is the concrete engine" : "sender is another engine");
            // Set on the form's component in the middle of the request.
            form.Engine->SetAutoContentType("text/plain");
            HttpWrite("plain");
        });
    };
    const TChildResult r = RunInChild(CgiGet("Apache/1.3.9"), CreateMainForm<TProbeForm>);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Notes, "sender is the concrete engine\n");
    const std::string header = Lower(r.Output.substr(0, r.Output.find("\r\n\r\n")));
    EXPECT_NE(header.find("content-type: text/plain"), std::string::npos) << r.Output;
    EXPECT_EQ(header.find("text/html"), std::string::npos) << r.Output;
}

TEST_F(GeneralHttpEngine, ShutdownOnTheGeneralComponentEndsTheRequestOfTheConcreteOne) {
    TProbeForm::Configure = [](TProbeForm& form) {
        form.Engine->SetCGIAutoTerminate(false);
        form.Engine->SetOnExecRequest([&form](TObject*) {
            HttpWrite("partial");
            form.Engine->Shutdown();
            Note("survived");
        });
    };
    const TChildResult r = RunInChild(CgiGet("Microsoft-IIS/4.0"), CreateMainForm<TProbeForm>);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Notes, "");
    EXPECT_TRUE(EndsWith(r.Output, "\r\n\r\npartial\r\n")) << r.Output;
}
