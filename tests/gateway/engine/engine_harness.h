#pragma once
// A small front end for driving the engine core from tests: memory streams
// in, the written bytes out, and forked children for what ends a process.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "tests/support/Children.h"
#include "tests/support/Files.h"
#include "tests/support/Streams.h"
#include "tests/support/TempFolder.h"

namespace enginetest {

using support::TScriptedInput;
using support::TSinkStream;
using support::TWrites;

// A CGI front end that does not end the test process after a request.
// Names it was asked for through RawServerVariable are recorded.
class TTestEngine : public THttpCGIEngine {
public:
    TTestEngine() : THttpCGIEngine(nullptr) { CGIAutoTerminate = false; }
    void RunProcessRequest() override {}
    std::string RawServerVariable(const std::string& name) override {
        RawAsked.push_back(name);
        return {};
    }
    std::vector<std::string> RawAsked;
};

// Runs one request with these NAME=value variables and this body (read as
// a stream that ends after it) and returns what reached the client.
TWrites Serve(THttpEngine& engine, const std::vector<std::string>& variables, const std::string& body = "");
TWrites ServeFrom(THttpEngine& engine, const std::vector<std::string>& variables, TStream* input);

using support::ReadFileBytes;
using support::RunForked;
using support::TTempFolder;

// Stops the process's watchdog (a stalled read would otherwise end the test
// process) and restores the body-read timeout when the object goes.
class TNoWatchDog {
public:
    explicit TNoWatchDog(std::uint32_t timeoutMs);
    ~TNoWatchDog();
    TNoWatchDog(const TNoWatchDog&) = delete;
    TNoWatchDog& operator=(const TNoWatchDog&) = delete;
};

}  // namespace enginetest
