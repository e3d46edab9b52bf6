#pragma once
// The standard CGI front end. The web server passes the request's variables
// in the environment and the body on standard input, and reads the header
// lines and the body from standard output. A process that finds a resident
// server alive hands its request over at start-up, before any form exists.
#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "platform/Object.h"

class TStream;
class TStringList;

// Start-up routine of the standard CGI unit; call it after CGIWEngStartup()
// and before GenEngStartup(). Opens the standard streams when the process
// runs as standard CGI or is to become the resident server; a windowed
// process that finds a resident server alive hands its request over here
// and never returns. The unit has no end routine.
void CGISEngStartup();

// False inside a host server. Otherwise true when SERVER_SOFTWARE is set
// (one that contains "ZB" counts as absent) or the process is a server
// launch, and CGI_VERSION, upper-cased, does not contain "WIN".
[[nodiscard]] bool IsStdCgi();

// A new server-variable list (owned by the caller) holding every string of
// the environment block as it stands, sorted ignoring case; a string equal
// to one already present when case is ignored is dropped.
TStringList* EnvironmentList();

// Per-thread values of the unit: streams over standard input and output
// (while a handed-over request is served: its request and response files),
// and in a console build the variables prepared at start-up. ProcessRequest
// takes ownership of whatever it is given.
extern thread_local TStream* StdCgiInput;
extern thread_local TStream* StdCgiOutput;
extern thread_local TStringList* StdCgiVariables;

class TCGIStdEngine : public THttpCGIEngine {
public:
    explicit TCGIStdEngine(TComponent* owner);

    // Acts only for an engine read from its form (marked loading): an
    // engine another component created in code is started by that one.
    void Loaded() override;
    // Console build: serves the request prepared at start-up. Windowed
    // build: nothing.
    void RunConsoleRequest() override;
    // With an output stream: serve that request now (ownership of the three
    // objects passes to ProcessRequest). With none: start up as this front
    // end (late hand-off, resident server, or the ordinary CGI request).
    void RunRequest(TStream* input, TStream* output, TStringList* variables) override;
};
