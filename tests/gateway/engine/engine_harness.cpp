#include "tests/gateway/engine/engine_harness.h"

#include "gateway/engine/Limits.h"
#include "gateway/engine/WatchDog.h"
#include "platform/Process.h"

#include <algorithm>
#include <cstring>

namespace enginetest {

std::string TWrites::All() const {
    std::string all;
    for (const auto& piece : Pieces) all += piece;
    return all;
}

int TSinkStream::Write(const void* buffer, int count) {
    writes_->Pieces.emplace_back(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return count;
}

int TScriptedInput::Read(void* buffer, int count) {
    if (answers_.empty()) return tail_;
    std::string& next = answers_.front();
    const int n = std::min<int>(count, static_cast<int>(next.size()));
    std::memcpy(buffer, next.data(), static_cast<std::size_t>(n));
    if (n == static_cast<int>(next.size()))
        answers_.pop_front();
    else
        next.erase(0, static_cast<std::size_t>(n));
    return n;
}

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
