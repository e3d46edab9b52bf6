// The version, unload and filter entry points: what they put into the
// host's structures and what they return, with and without handlers, and
// when a handler raises.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "gateway/frontends/IsapiEng.h"
#include "tests/gateway/frontends/isapi/fake_host.h"

namespace {
using namespace isapitest;

class IsapiEntryPoints : public ::testing::Test {
protected:
    void SetUp() override {
        UseTestLogFolder();
        owner = std::make_unique<TComponent>(nullptr);
        engine = new TIsapiEngine(owner.get());
    }
    std::unique_ptr<TComponent> owner;
    TIsapiEngine* engine = nullptr;  // owned by owner
};

TEST_F(IsapiEntryPoints, WithoutHandlersReportVersionTwoAndAcceptTheLoad) {
    HSE_VERSION_INFO version;
    std::memset(&version, 'z', sizeof(version));
    EXPECT_EQ(GetExtensionVersion(&version), ISAPI_TRUE);
    EXPECT_EQ(version.dwExtensionVersion, 0x00020000u);
    EXPECT_STREQ(version.lpszExtensionDesc, "");

    HTTP_FILTER_VERSION filter;
    std::memset(&filter, 0, sizeof(filter));
    filter.dwFlags = 0xFFFF;
    std::strcpy(filter.lpszFilterDesc, "as the server passed it");
    EXPECT_EQ(GetFilterVersion(&filter), ISAPI_TRUE);
    EXPECT_EQ(filter.dwFilterVersion, 0x00020000u);
    EXPECT_EQ(filter.dwFlags, 0u);
    EXPECT_STREQ(filter.lpszFilterDesc, "as the server passed it");
    EXPECT_EQ(CurrentHttpEngine(), engine);

    TFakeFilter context;
    EXPECT_EQ(HttpFilterProc(&context.Context, SF_NOTIFY_URL_MAP, nullptr),
              static_cast<ISAPI_DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
}

TEST_F(IsapiEntryPoints, ExtensionVersionHandlerSetsWhatTheServerSees) {
    struct Case {
        const char* name;
        std::uint32_t version;
        std::string description;
        bool result;
        bool raise;
        ISAPI_BOOL want;
        std::string wantDescription;
    };
    const std::string longText(300, 'd');
    const Case cases[] = {
        {"accepts with its own text", 0x00050001, "Playlist extension", true, false, ISAPI_TRUE, "Playlist extension"},
        {"refuses the load", 0x00020000, "no", false, false, ISAPI_FALSE, "no"},
        {"raises after changing things", 0x00030000, "partial", true, true, ISAPI_FALSE, "partial"},
        {"a description longer than the field is cut", 0x00020000, longText, true, false, ISAPI_TRUE,
         longText.substr(0, 255)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine->SetOnIsapiExtensionVersion([&](std::uint32_t& version, std::string& description, bool& result) {
            EXPECT_EQ(version, 0x00020000u);
            EXPECT_EQ(description, "");
            EXPECT_TRUE(result);
            version = c.version;
            description = c.description;
            result = c.result;
            if (c.raise) throw Exception("version handler failed");
        });
        HSE_VERSION_INFO version{};
        EXPECT_EQ(GetExtensionVersion(&version), c.want);
        EXPECT_EQ(version.dwExtensionVersion, c.version);
        EXPECT_EQ(std::string(version.lpszExtensionDesc), c.wantDescription);
    }
    EXPECT_NE(GatewayLog().find("version handler failed"), std::string::npos);
}

TEST_F(IsapiEntryPoints, FilterVersionHandlerWorksOnTheStructuresFields) {
    HTTP_FILTER_VERSION filter{};
    filter.dwServerFilterVersion = 0x00060000;
    engine->SetOnIsapiFilterVersion([](std::int32_t& server, std::int32_t& version, std::string& description,
                                       std::int32_t& flags, bool& result) {
        EXPECT_EQ(server, 0x00060000);
        EXPECT_EQ(version, 0x00020000);
        EXPECT_EQ(flags, 0);
        EXPECT_TRUE(result);
        version = 0x00010000;
        flags = static_cast<std::int32_t>(SF_NOTIFY_URL_MAP | SF_NOTIFY_NONSECURE_PORT);
        description = std::string(400, 'f');
    });
    EXPECT_EQ(GetFilterVersion(&filter), ISAPI_TRUE);
    EXPECT_EQ(filter.dwFilterVersion, 0x00010000u);
    EXPECT_EQ(filter.dwFlags, SF_NOTIFY_URL_MAP | SF_NOTIFY_NONSECURE_PORT);
    EXPECT_EQ(std::string(filter.lpszFilterDesc), std::string(256, 'f'));

    engine->SetOnIsapiFilterVersion([](std::int32_t&, std::int32_t&, std::string& description, std::int32_t&,
                                       bool&) {
        description = "never copied";
        throw std::runtime_error("filter version failed");
    });
    std::strcpy(filter.lpszFilterDesc, "kept");
    EXPECT_EQ(GetFilterVersion(&filter), ISAPI_FALSE);
    EXPECT_STREQ(filter.lpszFilterDesc, "kept");
    EXPECT_NE(GatewayLog().find("filter version failed"), std::string::npos);
}

TEST_F(IsapiEntryPoints, FilterProcSeesItsNotificationAndKeepsTheResultItLeaves) {
    TFakeFilter context;
    context.Variables["REMOTE_ADDR"] = "10.0.0.7";
    std::string seenAddress;
    std::int32_t seenKind = 0;
    int raw = 42;
    engine->SetOnIsapiFilterProc([&](THTTP_FILTER_CONTEXT& pfc, std::int32_t kind, void* notification,
                                     std::int32_t& result) {
        EXPECT_EQ(&pfc, &context.Context);
        EXPECT_EQ(notification, &raw);
        EXPECT_EQ(result, SF_STATUS_REQ_NEXT_NOTIFICATION);
        seenKind = IsapiThread.Notification;
        EXPECT_EQ(kind, seenKind);
        // Variables asked of the engine come from the filter context.
        seenAddress = HttpServerVariable("REMOTE_ADDR");
        result = SF_STATUS_REQ_HANDLED_NOTIFICATION;
        if (kind == static_cast<std::int32_t>(SF_NOTIFY_LOG)) throw 7;  // not even an exception class
    });
    EXPECT_EQ(HttpFilterProc(&context.Context, SF_NOTIFY_URL_MAP, &raw),
              static_cast<ISAPI_DWORD>(SF_STATUS_REQ_HANDLED_NOTIFICATION));
    EXPECT_EQ(seenKind, static_cast<std::int32_t>(SF_NOTIFY_URL_MAP));
    EXPECT_EQ(seenAddress, "10.0.0.7");
    // The result as the handler left it when it raised.
    EXPECT_EQ(HttpFilterProc(&context.Context, SF_NOTIFY_LOG, &raw),
              static_cast<ISAPI_DWORD>(SF_STATUS_REQ_HANDLED_NOTIFICATION));
    // The filter context is not left behind for later calls on this thread.
    EXPECT_EQ(IsapiThread.FilterContext, nullptr);
    EXPECT_EQ(FetchIsapiVariable("REMOTE_ADDR"), "");
    EXPECT_NE(GatewayLog().find("Unknown exception"), std::string::npos);
}

TEST_F(IsapiEntryPoints, TerminateAllowsTheUnloadOnlyAfterShutdown) {
    EXPECT_EQ(TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_FALSE);
    EXPECT_EQ(TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_FALSE);
    // Outside a request Shutdown ends nothing, but allows the unload.
    engine->Shutdown();
    EXPECT_EQ(TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_TRUE);
    // A new engine starts out keeping the extension loaded again.
    owner = std::make_unique<TComponent>(nullptr);
    engine = new TIsapiEngine(owner.get());
    EXPECT_EQ(TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_FALSE);
}

TEST_F(IsapiEntryPoints, TerminateRunsTheLastRequestHandlerWithTheOwnerAsSender) {
    TObject* sender = nullptr;
    int calls = 0;
    engine->SetOnLastExecRequest([&](TObject* Sender) {
        sender = Sender;
        ++calls;
    });
    EXPECT_EQ(TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_FALSE);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(sender, owner.get());

    engine->SetOnLastExecRequest([](TObject*) { throw Exception("last request failed"); });
    EXPECT_EQ(TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_TRUE);
    EXPECT_NE(GatewayLog().find("last request failed"), std::string::npos);
}

TEST_F(IsapiEntryPoints, WithoutAnEngineEveryEntryPointFailsCleanly) {
    owner.reset();  // frees the engine
    ASSERT_EQ(ActiveIsapiEngine.load(), nullptr);
    HSE_VERSION_INFO version{};
    EXPECT_EQ(GetExtensionVersion(&version), ISAPI_FALSE);
    EXPECT_EQ(version.dwExtensionVersion, 0x00020000u);
    TFakeConnection connection;
    EXPECT_EQ(HttpExtensionProc(connection.Prepare()), HSE_STATUS_ERROR);
    EXPECT_TRUE(connection.Writes.empty());
    HTTP_FILTER_VERSION filter{};
    EXPECT_EQ(GetFilterVersion(&filter), ISAPI_FALSE);
    TFakeFilter context;
    EXPECT_EQ(HttpFilterProc(&context.Context, SF_NOTIFY_URL_MAP, nullptr),
              static_cast<ISAPI_DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
    EXPECT_EQ(TerminateExtension(HSE_TERM_MUST_UNLOAD), IsapiUnloadAllowed.load() ? ISAPI_TRUE : ISAPI_FALSE);
    EXPECT_EQ(GetExtensionVersion(nullptr), ISAPI_FALSE);
    EXPECT_EQ(GetFilterVersion(nullptr), ISAPI_FALSE);
}

}  // namespace
