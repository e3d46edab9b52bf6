#include "gateway/frontends/GatewayUnits.h"

#include "gateway/frontends/CGISEng.h"
#include "gateway/frontends/CGIWEng.h"
#include "gateway/frontends/GenEng.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/IsapiEng.h"
#include "gateway/servermode/ServerMode.h"

// The in-process front end's start-up comes between the engine core and the
// server mode.
void StartGatewayUnits() {
    IsapiEngStartup();
    ServerModeStartup();
    CGIWEngStartup();
    CGISEngStartup();
    GenEngStartup();
}
