// The program's main sequence. The process confines itself to its folders
// first (where the kernel allows). The gateway units start before any form: a
// request handed to a resident server ends the process there. Creating the
// main form serves the request; with CGIAutoTerminate the process ends inside
// that step.
#include "app/OnlineUnit.h"
#include "gateway/frontends/GatewayUnits.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
    InitProcess(argc, argv);
    ConfineToProgramFolder();
    StartGatewayUnits();
    RunApplication();
    return 0;
}
