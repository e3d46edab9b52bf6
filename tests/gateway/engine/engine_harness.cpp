#include "tests/gateway/engine/engine_harness.h"

#include "gateway/engine/Limits.h"
#include "gateway/engine/WatchDog.h"
#include "platform/Process.h"

namespace enginetest {

TWrites ServeFrom(THttpEngine& engine, const std::vector<std::string>& variables, TStream* input) {
    auto writes = std::make_shared<TWrites>();
    auto* list = new TStringList(/*sorted=*/true);
    for (const auto& line : variables) list->Add(line);
    engine.ProcessRequest(input, new TSinkStream(writes), list);
    // A console build leaves the finishing to its front end.
    if (ConsoleBuild) engine.FinishRequest();
    return *writes;
}

TWrites Serve(THttpEngine& engine, const std::vector<std::string>& variables, const std::string& body) {
    return ServeFrom(engine, variables, new TScriptedInput({body}, -1));
}

TNoWatchDog::TNoWatchDog(std::uint32_t timeoutMs) {
    if (TWatchDogThread* dog = WatchDog.exchange(nullptr)) dog->Terminate();
    SetBodyReadTimeoutForTesting(timeoutMs);
}

TNoWatchDog::~TNoWatchDog() { SetBodyReadTimeoutForTesting(0); }

}  // namespace enginetest
