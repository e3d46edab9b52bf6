// The one place that reads the command line, the environment and the
// resident server's alive file to say what this process is.
#include "gateway/engine/ProcessRole.h"

#include <atomic>
#include <string>

#include "gateway/engine/Helpers.h"
#include "gateway/frontends/CGISEng.h"
#include "gateway/frontends/CGIWEng.h"
#include "gateway/servermode/ServerMode.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"

namespace {
// Which front ends the process's request fits, found with the role. Both
// can: a data file under a server that declares no CGI version; the Windows
// CGI front end then takes the request.
std::atomic<bool> fitsWinCgi{false};
std::atomic<bool> fitsStdCgi{false};

bool RequestInEnvironment() {
    bool found = false;
    GetEnv("REQUEST_METHOD", &found);
    return found;
}

bool WindowsVersionDeclared() { return Pos("WIN", UpperCase(GetEnvVariable("CGI_VERSION"))) != 0; }

bool FitsWinCgi(bool launch) {
    const bool dataFileGiven = ParamCount() >= 1 && FileExists(AddSystemDrive(ParamStr(1)));
    // Arguments of a request may be the client's query words: only a
    // declared Windows CGI server makes them select this front end.
    if (RequestInEnvironment()) return WindowsVersionDeclared() && (launch || dataFileGiven);
    return launch || (dataFileGiven && (GetEnvVariable("CGI_VERSION").empty() || WindowsVersionDeclared()));
}

bool FitsStdCgi(bool launch) {
    return (!GetEnvVariable("SERVER_SOFTWARE").empty() || launch) && !WindowsVersionDeclared();
}

TProcessRole RoleOf(bool launch, bool winCgi, bool stdCgi) {
    if (!launch && !winCgi && !stdCgi) return TProcessRole::None;
    const bool serverAlive = IsServerRunning();
    if (!launch) {
        if (serverAlive) return TProcessRole::HandOffClient;
        return winCgi ? TProcessRole::WindowsCgi : TProcessRole::StandardCgi;
    }
    if (!ConsoleBuild) return TProcessRole::ResidentServer;
    // A console server takes one request file; while another one waits, a
    // second launch has nothing to do.
    return serverAlive ? TProcessRole::None : TProcessRole::ConsoleServer;
}
}  // namespace

TProcessRole DecideProcessRole() {
    TProcessRole role = TProcessRole::Extension;
    bool winCgi = false;
    bool stdCgi = false;
    // Inside a host server the command line and the environment are the
    // host's, never a request of ours.
    if (!RunningAsLibrary) {
        const bool launch = ServerLaunchRequested();
        winCgi = FitsWinCgi(launch);
        stdCgi = FitsStdCgi(launch);
        role = RoleOf(launch, winCgi, stdCgi);
    }
    fitsWinCgi.store(winCgi);
    fitsStdCgi.store(stdCgi);
    SetProcessRole(role);
    return role;
}

bool IsWinCgi() {
    static_cast<void>(ProcessRole());
    return fitsWinCgi.load();
}

bool IsStdCgi() {
    static_cast<void>(ProcessRole());
    return fitsStdCgi.load();
}
