#include "gateway/GatewayUnits.h"

#include "gateway/CGISEng.h"
#include "gateway/CGIWEng.h"
#include "gateway/GenEng.h"
#include "gateway/HttpEng.h"
#include "gateway/IsapiEng.h"
#include "gateway/ServerMode.h"

// The in-process front end's start-up comes between the engine core and the
// server mode.
void StartGatewayUnits() {
    IsapiEngStartup();
    ServerModeStartup();
    CGIWEngStartup();
    CGISEngStartup();
    GenEngStartup();
}
