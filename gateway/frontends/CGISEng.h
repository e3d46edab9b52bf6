#pragma once
// The standard CGI front end. The web server passes the request's variables
// in the environment and the body on standard input, and reads the header
// lines and the body from standard output. A process that finds a resident
// server alive hands its request over at start-up, before any form exists.
#include "gateway/frontends/HttpCGIEngine.h"
#include "platform/Object.h"

class TStream;
class TStringList;

// Start-up routine of the standard CGI unit; call it after CGIWEngStartup()
// and before GenEngStartup(). Acts on a standard CGI request
// (StartUpRequest): a hand-off client hands it over here and never returns;
// the console build prepares it. The unit has no end routine.
void CGISEngStartup();

// Found with the process's role (ProcessRole.h). False inside a host
// server. Otherwise true when SERVER_SOFTWARE is set (one that contains "ZB"
// counts as absent) or the process is a server launch, and CGI_VERSION,
// upper-cased, does not contain "WIN".
[[nodiscard]] bool IsStdCgi();

// A new server-variable list (owned by the caller) holding every string of
// the environment block as it stands, sorted ignoring case; a string equal
// to one already present when case is ignored is dropped.
TStringList* EnvironmentList();

// A request over this process's standard input and output with the
// environment as its variables, when the start-up found them to carry the
// process's request (standard CGI, or a process that is to become the
// resident server); else one without streams.
TCgiRequest StandardCgiRequest();

class TCGIStdEngine : public THttpCGIEngine {
public:
    explicit TCGIStdEngine(TComponent* owner);

    // Acts only for an engine read from its form (marked loading): an
    // engine another component created in code is started by that one.
    void Loaded() override;
    // Starts a resident server and hands the request over when one is wanted
    // and none runs, runs the server loop when started by hand, and else
    // serves the request of the standard streams.
    void RunProcessRequest() override;
};
