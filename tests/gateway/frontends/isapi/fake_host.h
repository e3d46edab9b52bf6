#pragma once
// A host server in miniature for the in-process front end: one connection
// with its own extension control block whose callbacks record every write,
// serve the body in scripted pieces, answer variables from a map and record
// the support-function calls. The tests call the entry points directly.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gateway/frontends/IsapiEng.h"

namespace isapitest {

// How GetServerVariable answers a name it knows.
enum class TVariableMode {
    Answer,    // value and NUL when they fit; else FALSE with the size needed
    Refuse,    // FALSE for every name, size untouched
    Truncate,  // as much as fits, TRUE, size = bytes copied (an older server)
    AlwaysFull,  // fills every buffer offered, whatever the value (a faulty server)
    Overstate,   // answers, but reports a size far beyond the buffer
};

struct TSupportCall {
    ISAPI_DWORD Request = 0;
    std::string Text;  // the buffer as a NUL-terminated text
    ISAPI_DWORD Size = 0;
};

class TFakeConnection {
public:
    TFakeConnection();
    TFakeConnection(const TFakeConnection&) = delete;
    TFakeConnection& operator=(const TFakeConnection&) = delete;

    // The request. Null* leave the control block's pointer null.
    std::string Method = "GET";
    std::string Query;
    std::string PathInfo = "/index";
    std::string PathTranslated = "C:\\site\\index";
    bool NullFields = false;
    std::string Body;
    std::size_t Preloaded = 0;           // leading body bytes in lpbData
    std::size_t PieceLimit = 0;          // most bytes one ReadClient hands out (0: as asked)
    std::size_t DisconnectAt = SIZE_MAX; // body offset where the client goes
    std::map<std::string, std::string> Variables;
    TVariableMode VariableMode = TVariableMode::Answer;
    // The count WriteClient leaves (-1: the count asked).
    long WriteReports = -1;

    // What the extension did.
    std::vector<std::string> Writes;
    std::vector<ISAPI_DWORD> WriteFlags;
    std::vector<ISAPI_DWORD> ReadAsks;
    std::vector<TSupportCall> SupportCalls;
    std::vector<std::pair<std::string, ISAPI_DWORD>> VariableAsks;  // name, size offered

    // Fills the control block from the fields above; call after changing them.
    EXTENSION_CONTROL_BLOCK* Prepare();
    std::string Output() const;
    std::size_t BodyServed = 0;  // body bytes handed out by ReadClient so far

private:
    EXTENSION_CONTROL_BLOCK ecb_{};
    std::string method_, query_, pathInfo_, pathTranslated_;
    std::vector<std::uint8_t> preload_;
};

// A filter context whose GetServerVariable answers from a map.
class TFakeFilter {
public:
    TFakeFilter();
    std::map<std::string, std::string> Variables;
    std::vector<std::string> Asked;
    HTTP_FILTER_CONTEXT Context{};
};

// The gateway log of this process, as written so far ("" when none).
std::string GatewayLog();
// Points the gateway log at a fresh folder of its own (once per process).
void UseTestLogFolder();

}  // namespace isapitest
