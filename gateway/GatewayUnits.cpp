#include "gateway/GatewayUnits.h"

#include "gateway/CGISEng.h"
#include "gateway/CGIWEng.h"
#include "gateway/GenEng.h"
#include "gateway/HttpEng.h"
#include "gateway/ServerMode.h"

// The in-process front end's start-up belongs between the engine core and
// the server mode; the library's load routine runs it.
void StartGatewayUnits() {
    ServerModeStartup();
    CGIWEngStartup();
    CGISEngStartup();
    GenEngStartup();
}
