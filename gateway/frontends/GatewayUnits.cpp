#include "gateway/frontends/GatewayUnits.h"

#include "gateway/frontends/CGISEng.h"
#include "gateway/frontends/CGIWEng.h"
#include "gateway/frontends/GenEng.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/ProcessRole.h"
#include "gateway/frontends/IsapiEng.h"
#include "gateway/servermode/ServerMode.h"
#include "gateway/engine/Helpers.h"
#include "platform/Files.h"
#include "platform/Landlock.h"
#include "platform/Process.h"

// The in-process front end's start-up comes between the engine core and the
// server mode. The process's role is decided once, before the front ends act
// on it.
void StartGatewayUnits() {
    IsapiEngStartup();
    ServerModeStartup();
    DecideProcessRole();
    CGIWEngStartup();
    CGISEngStartup();
    GenEngStartup();
}

void ConfineToProgramFolder() {
    const std::string executable = ExecutableFileName();
    const std::string folder = PathFolder(executable);
    std::string logFolder = GetEnvVariable("CGI_LOG_DIR");
    if (!logFolder.empty() && !HasDrive(logFolder)) logFolder = folder + "\\" + logFolder;
    TConfinement rules =
        ProgramFolderConfinement(ToOsPath(folder), logFolder.empty() ? "" : ToOsPath(logFolder), ToOsPath(executable));
    // A Windows CGI server names its data file on the command line; the
    // content, output and external files it names sit in the same spool
    // folder, which the request reads and writes.
    for (int i = 1; i <= ParamCount(); ++i) {
        const std::string argument = ToOsPath(ParamStr(i));
        if (!FileExists(argument)) continue;
        const std::size_t slash = argument.rfind('/');
        rules.WriteTrees.push_back(slash == std::string::npos ? "." : argument.substr(0, slash + 1));
    }
    static_cast<void>(ConfineProcess(rules));
}
