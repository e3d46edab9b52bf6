// Whole requests through HttpExtensionProc: what reaches the client, the
// redirect, the variables the application sees, failures inside the
// request, and the engine made the way the program makes it.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "gateway/engine/Limits.h"
#include "gateway/frontends/GatewayUnits.h"
#include "gateway/frontends/GenEng.h"
#include "gateway/frontends/IsapiEng.h"
#include "platform/Forms.h"
#include "tests/gateway/frontends/isapi/fake_host.h"

namespace {
using namespace isapitest;

class IsapiRequest : public ::testing::Test {
protected:
    void SetUp() override {
        UseTestLogFolder();
        engine = std::make_unique<TIsapiEngine>(nullptr);
        connection.Variables = {{"SERVER_SOFTWARE", "Microsoft-IIS/5.0"}, {"REMOTE_ADDR", "127.0.0.1"}};
    }
    ISAPI_DWORD Serve() { return HttpExtensionProc(connection.Prepare()); }

    std::unique_ptr<TIsapiEngine> engine;
    TFakeConnection connection;
};

TEST_F(IsapiRequest, AnswerReachesTheClientLineByLineThenTheBodyInOneWrite) {
    connection.Query = "P";
    engine->SetOnExecRequest([](TObject*) {
        HttpWrite("hello " + HttpFieldValue("P", "absent") + "|" + HttpServerVariable("QUERY_STRING"));
    });
    EXPECT_EQ(Serve(), HSE_STATUS_SUCCESS);
    const std::vector<std::string> want = {
        "HTTP/1.0 200 OK\r\n",      "content-type: text/html\r\n", "content-length: 16\r\n",
        "Connection: Keep-Alive\r\n", "\r\n",                        "hello absent|P\r\n",
    };
    // The field "P" has no value, so the default answers.
    EXPECT_EQ(connection.Writes, want);
    for (ISAPI_DWORD flags : connection.WriteFlags) EXPECT_EQ(flags, 0u);
    EXPECT_TRUE(connection.SupportCalls.empty());
    // Nothing of the request is left on the thread.
    EXPECT_EQ(IsapiThread.Ecb, nullptr);
    EXPECT_EQ(IsapiThread.Stream, nullptr);
    EXPECT_EQ(FetchIsapiVariable("REMOTE_ADDR"), "");
}

TEST_F(IsapiRequest, PostBodyArrivesFromThePreloadAndTheClient) {
    connection.Method = "POST";
    connection.Variables["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    connection.Body = "command=playlistgen&genre=" + std::string(5000, 'j') + "&count=25";
    connection.Preloaded = 48;
    connection.PieceLimit = 700;
    std::string seen;
    engine->SetOnExecRequest([&](TObject*) {
        seen = HttpFieldValue("command") + "/" + std::to_string(HttpFieldValue("genre").size()) + "/" +
               HttpFieldValue("count");
    });
    EXPECT_EQ(Serve(), HSE_STATUS_SUCCESS);
    EXPECT_EQ(seen, "playlistgen/5000/25");
    EXPECT_EQ(connection.Preloaded + connection.BodyServed, connection.Body.size());
}

TEST_F(IsapiRequest, LocationInAnyCaseBecomesTheServersRedirect) {
    const std::string longUrl = "http://example/" + std::string(1100, 'u');
    struct Case {
        const char* header;
        std::string url;
        std::string wantSent;
    };
    const Case cases[] = {
        {"Location", "http://example/next", "http://example/next"},
        {"LOCATION", "/local", "/local"},
        {"lOcAtIoN", "/x?y=1", "/x?y=1"},
        {"Location", longUrl, longUrl.substr(0, IsapiLimits::RedirectBufferSize - 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        TFakeConnection redirect;
        engine->SetOnExecRequest([&](TObject*) {
            THttpEngine* current = CurrentHttpEngine();
            current->AddHeader("X-Before", "1");
            current->AddHeader(c.header, c.url);
            current->AddHeader("X-After", "2");
        });
        EXPECT_EQ(HttpExtensionProc(redirect.Prepare()), HSE_STATUS_SUCCESS);
        ASSERT_EQ(redirect.SupportCalls.size(), 1u);
        EXPECT_EQ(redirect.SupportCalls[0].Request, HSE_REQ_SEND_URL_REDIRECT_RESP);
        EXPECT_EQ(redirect.SupportCalls[0].Text, c.wantSent);
        EXPECT_EQ(redirect.SupportCalls[0].Size, c.wantSent.size());
        // No status line of ours: the application's headers and the blank
        // line go to the client; the location line does not.
        EXPECT_EQ(redirect.Output(), "X-Before: 1\r\nX-After: 2\r\n\r\n");
    }
}

TEST_F(IsapiRequest, HeaderWithAnEmptyValueIsTheBareName) {
    engine->SetOnExecRequest([](TObject*) {
        CurrentHttpEngine()->AddHeader("HTTP/1.0 404 Not Found", "");
        CurrentHttpEngine()->AddHeader("X-Flag", "");
    });
    Serve();
    EXPECT_EQ(connection.Output(), "HTTP/1.0 404 Not Found\r\ncontent-type: text/html\r\nX-Flag\r\n\r\n");
}

TEST_F(IsapiRequest, NameOutsideTheListIsAskedOfTheServer) {
    connection.Variables["HTTPS"] = "off";
    connection.Variables["INSTANCE_ID"] = "1";
    std::string https, unknown;
    engine->SetOnExecRequest([&](TObject*) {
        connection.VariableAsks.clear();
        https = HttpServerVariable("HTTPS");
        unknown = HttpServerVariable("NOT_THERE");
        // An alias answered from the list is not asked again.
        static_cast<void>(HttpServerVariable("IP"));
    });
    Serve();
    EXPECT_EQ(https, "off");
    EXPECT_EQ(unknown, "");
    ASSERT_EQ(connection.VariableAsks.size(), 2u);
    EXPECT_EQ(connection.VariableAsks[0].first, "HTTPS");
    EXPECT_EQ(connection.VariableAsks[1].first, "NOT_THERE");
}

TEST_F(IsapiRequest, HeaderBlockLongerThanTheFirstBufferStillReachesTheApplication) {
    // A server that refuses a value for want of room and names the size it
    // needs: the block is asked for again with room enough.
    const std::string cookie = "id=" + std::string(3000, 'c');
    connection.Variables["ALL_HTTP"] = "HTTP_HOST:localhost\nHTTP_COOKIE:" + cookie + "\n";
    std::string seen;
    engine->SetOnExecRequest([&](TObject*) { seen = HttpServerVariable("HTTP_COOKIE"); });
    Serve();
    EXPECT_EQ(seen, cookie);
}

TEST_F(IsapiRequest, ExceptionInTheHandlerIsAnsweredWithTheErrorPage) {
    engine->SetOnExecRequest([](TObject*) {
        HttpWrite("lost");
        throw Exception("handler broke");
    });
    EXPECT_EQ(Serve(), HSE_STATUS_SUCCESS);
    const std::string output = connection.Output();
    EXPECT_EQ(output.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << output;
    EXPECT_NE(output.find("<html><body>Unhandled Exception: handler broke</body></html>"), std::string::npos);
    EXPECT_EQ(output.find("lost"), std::string::npos);
    EXPECT_NE(GatewayLog().find("Unhandled Exception: handler broke"), std::string::npos);
}

// Only the system's own Exception got the error page; any other throw left
// the request without an answer and failed it. Now every one is answered,
// and the host thread starts the next request clean.
TEST_F(IsapiRequest, ForeignExceptionSkippedTheErrorPage) {
    struct Case {
        const char* name;
        std::function<void()> raise;
        const char* message;
    };
    const Case cases[] = {
        {"standard exception", [] { throw std::runtime_error("outside the family"); }, "outside the family"},
        {"not an exception class", [] { throw 42; }, "Unknown exception"},
        // The in-process header line took CR and LF as they stood.
        {"line break in a header line", [] { CurrentHttpEngine()->SendHeaderLine("X-A", "1\r\nSet-Cookie: s=1"); },
         HeaderLineBreakMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFakeConnection failing;
        engine->SetOnExecRequest([&](TObject*) { c.raise(); });
        EXPECT_EQ(HttpExtensionProc(failing.Prepare()), HSE_STATUS_SUCCESS);
        EXPECT_NE(failing.Output().find("<html><body>Unhandled Exception: " + std::string(c.message)), std::string::npos)
            << failing.Output();
        EXPECT_EQ(failing.Output().find("Set-Cookie"), std::string::npos);
        EXPECT_NE(GatewayLog().find(c.message), std::string::npos);
        EXPECT_EQ(IsapiThread.Ecb, nullptr);
    }
    engine->SetOnExecRequest([](TObject*) { HttpWrite("fine"); });
    EXPECT_EQ(Serve(), HSE_STATUS_SUCCESS);
    EXPECT_NE(connection.Output().find("\r\n\r\nfine\r\n"), std::string::npos);
}

TEST_F(IsapiRequest, ShutdownDuringARequestSendsItAndAllowsTheUnload) {
    ASSERT_EQ(TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_FALSE);
    engine->SetOnExecRequest([](TObject*) {
        HttpWrite("bye");
        CurrentHttpEngine()->Shutdown();
        HttpWrite("after shutdown");
    });
    EXPECT_EQ(Serve(), HSE_STATUS_SUCCESS);
    const std::string output = connection.Output();
    EXPECT_NE(output.find("\r\n\r\nbye\r\n"), std::string::npos) << output;
    EXPECT_EQ(output.find("after shutdown"), std::string::npos);
    EXPECT_EQ(TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_TRUE);
}

TEST_F(IsapiRequest, FailureAfterShutdownWritesNothingMore) {
    // In a debug mode a failure starts the plain-text dump, which sends
    // header lines; after Shutdown has finished the request there is no
    // stream left to send them to.
    engine->SetDebugMode(DebugException);
    engine->SetOnExecRequest([](TObject*) {
        HttpWrite("sent");
        CurrentHttpEngine()->Shutdown();
        throw Exception("after the end");
    });
    EXPECT_EQ(Serve(), HSE_STATUS_SUCCESS);
    const std::string output = connection.Output();
    EXPECT_NE(output.find("\r\n\r\nsent\r\n"), std::string::npos) << output;
    EXPECT_EQ(output.find("text/plain"), std::string::npos) << output;
    EXPECT_NE(GatewayLog().find("Unhandled Exception: after the end"), std::string::npos);
}

// The main form of a program loaded into a host: a general component whose
// constructor makes the in-process engine through the registered hook.
class THostForm : public TForm {
public:
    explicit THostForm(TComponent* owner) : TForm(owner) {
        Engine = new TGeneralHttpEngine(this);
        Engine->ComponentState |= csLoading;
        Engine->SetOnExecRequest([](TObject*) {
            CurrentHttpEngine()->SetAutoContentType("text/plain");
            HttpWrite("from the form");
        });
    }
    TGeneralHttpEngine* Engine = nullptr;
};

TEST(IsapiProgram, TheFormsGeneralComponentMakesTheEngineTheEntryPointsUse) {
    UseTestLogFolder();
    StartGatewayUnits();
    ASSERT_EQ(CreateIsapiEngineHook, &CreateIsapiEngine);
    TApplication application;
    THostForm* form = nullptr;
    application.CreateForm(form);
    auto* isapi = dynamic_cast<TIsapiEngine*>(ConcreteIsapiEngine);
    ASSERT_NE(isapi, nullptr);
    EXPECT_EQ(ActiveIsapiEngine.load(), isapi);
    EXPECT_EQ(isapi->Owner(), form);

    HSE_VERSION_INFO version{};
    EXPECT_EQ(GetExtensionVersion(&version), ISAPI_TRUE);
    TFakeConnection connection;
    EXPECT_EQ(HttpExtensionProc(connection.Prepare()), HSE_STATUS_SUCCESS);
    EXPECT_EQ(connection.Output(),
              "HTTP/1.0 200 OK\r\ncontent-type: text/plain\r\ncontent-length: 15\r\nConnection: Keep-Alive\r\n\r\n"
              "from the form\r\n");
    EXPECT_EQ(TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_FALSE);
    application.FreeForms();
    EXPECT_EQ(ActiveIsapiEngine.load(), nullptr);
}

}  // namespace
