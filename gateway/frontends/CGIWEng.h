#pragma once
// The Windows CGI front end. The web server passes the path of a data file
// as the first argument; the data file holds the request's variables in
// sections, names the content file (the raw body) and the output file
// (where the whole CGI output goes). Also the front end of the resident
// server: a process started by hand runs its server loop on this engine.
#include <string>

#include "gateway/frontends/CGIWEngData.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "platform/Object.h"

class TStream;
class TStringList;

// Start-up routine of the Windows CGI unit; call it after
// the role's decision and before the standard CGI unit's start-up. Acts on
// a Windows CGI request and on the console server's request file
// (StartUpRequest): a hand-off client hands its request over here and never
// returns. The unit has no end routine.
void CGIWEngStartup();

// Found with the process's role (ProcessRole.h). The process runs as
// Windows CGI: it is a server launch, or its first
// argument names an existing file and CGI_VERSION contains "WIN" (or is
// empty, but only when the environment carries no request: with
// REQUEST_METHOD set, an empty CGI_VERSION does not count, since a web
// server may pass the client's query words as arguments).
[[nodiscard]] bool IsWinCgi();

class TCGIWinEngine : public THttpCGIEngine {
public:
    explicit TCGIWinEngine(TComponent* owner);

    // Acts only for an engine read from its form (marked loading).
    void Loaded() override;
    // Outside Windows CGI nothing is served: what was handed in is released.
    void RunRequest(TStream* input, TStream* output, TStringList* variables) override;
    // Hands the request to a resident server (starting one when wanted and
    // none runs), becomes the resident server when started by hand or by the
    // server-start command line, or serves the data file's request.
    void RunProcessRequest() override;
};

// Reads the data file at path: variables gain the entries of its CGI, SYSTEM
// and EXTRA_HEADERS sections (and HTTP_ACCEPT); outputName is OUTPUT_FILE;
// input is the content file when CONTENT_FILE names an existing file, else
// the form content built from FORM_LITERAL and FORM_EXTERNAL, else null,
// positioned at its start; output is the output file, cut to what will be
// written. The caller owns input and output. Raises EFileError when the data
// file cannot be read or the output file cannot be created.
void ReadWinCgiDataFile(const std::string& path, std::string& outputName, TStream*& input,
                        TStringList& variables, TStream*& output);
