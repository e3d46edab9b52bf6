// Several requests at once, as a host's worker threads deliver them: every
// answer holds exactly its own request's query, body and headers, while each
// handler sets the content type on the form's shared component the way the
// application does at the start of every request. Some requests fail, so
// error pages and log lines are made at once too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gateway/frontends/GatewayUnits.h"
#include "gateway/frontends/GenEng.h"
#include "gateway/frontends/IsapiEng.h"
#include "platform/Forms.h"
#include "tests/gateway/frontends/isapi/fake_host.h"

namespace {
using namespace isapitest;

class TEchoForm : public TForm {
public:
    explicit TEchoForm(TComponent* owner) : TForm(owner) {
        Engine = new TGeneralHttpEngine(this);
        Engine->ComponentState |= csLoading;
        Engine->SetOnExecRequest([this](TObject*) { Echo(); });
    }
    void Echo() {
        Engine->SetAutoContentType("text/html");
        Engine->AllowedMethods.SetGet(true);
        if (!HttpFieldValue("fail").empty()) throw Exception("failed " + HttpFieldValue("q"));
        HttpWrite("q=" + HttpFieldValue("q") + ";b=" + HttpFieldValue("b") + ";h=" + HttpServerVariable("HTTP_X_ID") +
                  ";m=" + HttpServerVariable("REQUEST_METHOD"));
    }
    TGeneralHttpEngine* Engine = nullptr;
};

std::string Expected(const std::string& id, bool fails) {
    if (fails)
        return "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\n\r\n<html><body>Unhandled Exception: failed " + id +
               "</body></html>\r\n";
    const std::string body = "q=" + id + ";b=body" + id + ";h=hdr" + id + ";m=POST\r\n";
    return "HTTP/1.0 200 OK\r\ncontent-type: text/html\r\ncontent-length: " + std::to_string(body.size()) +
           "\r\nConnection: Keep-Alive\r\n\r\n" + body;
}

TEST(IsapiConcurrency, EveryAnswerIsExactlyItsOwn) {
    constexpr int Threads = 8;
    constexpr int Requests = 150;
    UseTestLogFolder();
    StartGatewayUnits();
    TApplication application;
    TEchoForm* form = nullptr;
    application.CreateForm(form);
    ASSERT_NE(ActiveIsapiEngine.load(), nullptr);

    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&, t] {
            for (int r = 0; r < Requests; ++r) {
                const std::string id = std::to_string(t) + "-" + std::to_string(r);
                TFakeConnection connection;
                connection.Method = "POST";
                const bool fails = r % 10 == 3;
                connection.Query = "q=" + id + (fails ? "&fail=1" : "");
                connection.Body = "b=body" + id;
                connection.Preloaded = r % 3;  // some bodies partly preloaded
                connection.PieceLimit = 1 + r % 4;
                connection.Variables = {{"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                                        {"ALL_HTTP", "HTTP_X_ID:hdr" + id + "\nHTTP_HOST:localhost\n"}};
                if (HttpExtensionProc(connection.Prepare()) != HSE_STATUS_SUCCESS) ++failed;
                if (connection.Output() != Expected(id, fails)) ++wrong;
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(form->Engine->AutoContentType, "text/html");
    const std::string log = GatewayLog();
    for (const char* id : {"0-3", "7-13", "4-143"}) EXPECT_NE(log.find(std::string("failed ") + id), std::string::npos);
    application.FreeForms();
}

TEST(IsapiConcurrency, ServerModeOneLetsOneHandlerRunAtATime) {
    constexpr int Threads = 4;
    constexpr int Requests = 25;
    UseTestLogFolder();
    TIsapiEngine engine(nullptr);
    engine.SetServerMode(1);
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    engine.SetOnExecRequest([&](TObject*) {
        const int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        HttpWrite(HttpServerVariable("QUERY_STRING"));
        --inside;
    });
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&, t] {
            for (int r = 0; r < Requests; ++r) {
                TFakeConnection connection;
                connection.Query = std::to_string(t * 1000 + r);
                HttpExtensionProc(connection.Prepare());
                const std::string& output = connection.Output();
                if (output.size() < connection.Query.size() + 2 ||
                    output.compare(output.size() - connection.Query.size() - 2, std::string::npos,
                                   connection.Query + "\r\n") != 0)
                    ++wrong;
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
