#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "gateway/engine/HttpEng.h"
#include "platform/Forms.h"
#include "platform/Object.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

class THttpCGIEngine;

// One request's objects as a front end holds them until ProcessRequest takes
// them over.
struct TCgiRequest {
    std::unique_ptr<TStream> Input;
    std::unique_ptr<TStream> Output;
    std::unique_ptr<TStringList> Variables;
};

// Hands the request to the resident server (the console build's way or the
// windowed one). Returns only when this process must serve the request
// itself, with the request given back (its input yields the same body).
void HandOffCgiRequest(TCgiRequest& request);
// The console resident server's one request file (WaitForRequestFile); an
// empty request when the alive file came back after a short absence.
TCgiRequest ConsoleServerRequest();

// Builds a front end's request; sorted says whether its variables are kept
// sorted (a handed-over request keeps them in the order given).
using TRequestBuilder = std::function<TCgiRequest(bool sorted)>;

// A front end's start-up, by the process's role: a hand-off client hands
// its request over and ends, unless the request is given back (it is then
// served as the front end's own, the role changed to match); the console
// build makes the engine
// (which lives as long as the process) and prepares the request it serves,
// or the console server's request file. A windowed process leaves its
// request to the creation of the application's form.
void StartUpRequest(THttpCGIEngine* (*makeEngine)(), const TRequestBuilder& request);
// The role serves its request once the application's form has been created:
// a windowed CGI request, or the resident server.
[[nodiscard]] bool ServedAtFormCreation();

// A request for a resident server that is not running yet: this process
// starts one and hands its request over, so the owner's own start-up is not
// wanted.
[[nodiscard]] bool HandsRequestToNewServer(const THttpEngine& engine);

// The owner's creation event, taken over once so that a front end's request
// is served right after the owner's own creation code.
struct TOwnerCreateHook {
    // The owner's OnCreate handler that the hook replaced.
    TNotifyEvent SavedOwnerCreate;
    bool Hooked = false;

    // Serves now when the request goes to a new resident server, when there
    // is no module to wait for, or when the hook is already in place (hooking
    // twice would make the hook its own saved handler, and the owner's
    // creation would recurse). Otherwise serve runs from the module's
    // OnCreate, after the saved handler unless the request goes to a new
    // resident server by then.
    void ServeWhenOwnerCreated(const THttpEngine& engine, TCustomModule* module, std::function<void()> serve);
};

// The base of the CGI-style front ends: header lines as CGI wants them, and
// the end of the process after the request.
class THttpCGIEngine : public THttpEngine {
public:
    explicit THttpCGIEngine(TComponent* owner);

    // The process ends after its request (unless in a resident server).
    bool CGIAutoTerminate = true;

    bool EndsProcessWithRequest() const override;
    bool TerminateFinishesRequest() const override;

    // A status line ("HTTP/1.x ...") becomes a "Status:" line under servers
    // whose software names NETSCAPE, APACHE or STRONGHOLD.
    void SendHeaderLine(const std::string& name, const std::string& value) override;
    void EndHeaderBlock() override;
    void FinishRequest() override;

    // Serves that request now; ownership of the three objects passes to
    // ProcessRequest.
    virtual void RunRequest(TStream* input, TStream* output, TStringList* variables);
    // This process's own request, as this front end: hand it to a resident
    // server, become the resident server, or serve it.
    virtual void RunProcessRequest() = 0;
    // Console build: serves the request that the start-up prepared in
    // ConsoleRequest, and finishes it while the thread's request state still
    // exists. Windowed build: nothing is prepared, nothing is served.
    void RunConsoleRequest() override;
    std::optional<TCgiRequest> ConsoleRequest;

    // The inherited Loaded, then RunProcessRequest.
    void RunDeferred();

protected:
    // Serves the request; ProcessRequest takes its objects.
    void Serve(TCgiRequest request);
    // The runner of the form-created roles: the resident server runs its
    // loop on this engine; a request that wants a resident server when none
    // runs starts one, waits startDelayMs and hands the request over;
    // otherwise the request is served here.
    void RunAsRole(std::uint32_t startDelayMs, const TRequestBuilder& request);
    // The start-up of a front end read from its form: served once the owner
    // module has been created, so the application's form is complete.
    void StartWhenOwnerCreated();

private:
    TOwnerCreateHook ownerHook_;
};
