#pragma once
// A form carrying a TGeneralHttpEngine, as the application's main form does:
// the engine is created with its stored values set (marked loading), and
// the form's creation finishes through the application object.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "gateway/frontends/GatewayUnits.h"
#include "gateway/frontends/GenEng.h"
#include "platform/Forms.h"
#include "tests/gateway/frontends/frontend_harness.h"

// The handler every probe form starts with: notes "handler" and writes one
// body line.
void ProbeExecRequest(TObject* Sender);

template <class TBase>
class TProbeModule : public TBase {
public:
    explicit TProbeModule(TComponent* owner) : TBase(owner) {
        Engine = new TGeneralHttpEngine(this);
        Engine->ComponentState |= csLoading;
        Engine->SetOnExecRequest(ProbeExecRequest);
        if (Configure) Configure(*this);
    }
    TGeneralHttpEngine* Engine = nullptr;
    // Sets further stored values; runs inside the constructor.
    static inline std::function<void(TProbeModule&)> Configure;
};

using TProbeForm = TProbeModule<TForm>;
using TProbeDataModule = TProbeModule<TDataModule>;

// The environment of a standard CGI GET request under the given server.
std::vector<std::pair<std::string, std::string>> CgiEnvironment(const std::string& serverSoftware);
// That request as a child run: no arguments, no input.
inline TChildRun CgiGet(const std::string& serverSoftware) { return {CgiEnvironment(serverSoftware), {}, ""}; }

// A program's start-up: the gateway units start, then the application object
// creates the main form (or data module) of the given class.
template <class TMain>
void CreateMainForm() {
    StartGatewayUnits();
    TMain* form = nullptr;
    Application->CreateForm(form);
}
