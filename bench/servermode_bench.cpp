// A CGI program for the resident-server figures (scripts/bench_servermode.sh):
// the gateway alone, with a handler that writes a short page, so the figures
// show the hand-off and not the application. Started by hand it becomes the
// resident server with the ServerMode named by BENCH_SERVER_MODE (1 or 2).
#include <cstdlib>

#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/CGISEng.h"
#include "gateway/frontends/GatewayUnits.h"
#include "gateway/servermode/ServerMode.h"
#include "platform/Process.h"

namespace {
void WritePage(TObject*) {
    HttpWrite("<html><body><p>query=" + HttpServerVariable("QUERY_STRING") + "</p></body></html>");
}
}  // namespace

int main(int argc, char** argv) {
    InitProcess(argc, argv);
    StartGatewayUnits();
    auto* engine = new TCGIStdEngine(nullptr);
    engine->SetOnExecRequest(WritePage);
    if (IsServerLaunch()) {
        const char* mode = std::getenv("BENCH_SERVER_MODE");
        engine->SetServerMode(mode && mode[0] == '2' ? 2 : 1);
    }
    engine->RunProcessRequest();
    return 0;
}
