#pragma once
#include <string>

#include "gateway/engine/HttpEng.h"
#include "platform/Forms.h"
#include "platform/Object.h"

class TStream;
class TStringList;

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

    // With an output stream: serve that request now (ownership passes to
    // ProcessRequest). With all three absent: start up as this front end.
    virtual void RunRequest(TStream* input, TStream* output, TStringList* variables) = 0;

    // Runs the saved owner handler first unless the request is to be handed
    // to a resident server, then RunDeferred.
    void OwnerCreateHook(TObject* Sender);
    // The inherited Loaded, then the front end's own start-up.
    void RunDeferred();

    // The owner's OnCreate handler that OwnerCreateHook replaced.
    TNotifyEvent SavedOwnerCreate;

protected:
    // The start-up of a front end read from its form: a request for a
    // resident server that is not running yet goes at once; otherwise the
    // request waits for the owner module's OnCreate, so the application's
    // form is complete when it is served. Without a module, or when Loaded
    // comes again, it is served now: hooking twice would make the hook its
    // own saved handler and the owner's creation would recurse.
    void StartWhenOwnerCreated();

private:
    bool ownerHooked_ = false;
};
