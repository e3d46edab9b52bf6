#include "platform/Process.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Files.h"

extern char** environ;

bool RunningAsLibrary = false;

namespace {
struct TProcessInfo {
    std::vector<std::string> Arguments;  // as given, argv[0] included
    std::string StartFolder;             // OS form, no trailing "/"
    std::string ExecutablePath;          // OS form
};

TProcessInfo& Info() {
    static TProcessInfo info;
    return info;
}

std::string CurrentFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

std::string ProcSelfExe() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Drops "." components and repeated separators; ".." stays, since a link on
// the way would give it another meaning than the text suggests.
std::string WithoutDotComponents(const std::string& path) {
    std::string out;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t end = path.find('/', i) == std::string::npos ? path.size() : path.find('/', i);
        const std::string part = path.substr(i, end - i);
        if (!part.empty() && part != ".") out += "/" + part;
        i = end + 1;
    }
    return out.empty() ? "/" : out;
}

std::string Absolute(const std::string& path, const std::string& folder) {
    return WithoutDotComponents(path[0] == '/' ? path : folder + "/" + path);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The path the program was started as: argv[0] when it holds a separator or
// names a file in the start-up folder, else what the kernel reports.
std::string ExecutablePathFrom(const std::string& argv0, const std::string& startFolder) {
    if (argv0.find('/') != std::string::npos) return Absolute(argv0, startFolder);
    if (!argv0.empty() && IsRegularFile(startFolder + "/" + argv0)) return Absolute(argv0, startFolder);
    return ProcSelfExe();
}
}  // namespace

void InitProcess(int argc, char** argv) {
    // A client that went away closes the program's output: a write then
    // fails (the stream ends the response) instead of ending the process
    // in the middle of its file work. A resident server started from here
    // inherits this.
    std::signal(SIGPIPE, SIG_IGN);
    TProcessInfo& info = Info();
    info.Arguments.clear();
    for (int i = 0; i < argc && argv && argv[i]; ++i) info.Arguments.emplace_back(argv[i]);
    info.StartFolder = CurrentFolder();
    info.ExecutablePath = ExecutablePathFrom(info.Arguments.empty() ? std::string() : info.Arguments[0],
                                             info.StartFolder);
}

int ParamCount() {
    const auto n = static_cast<int>(Info().Arguments.size());
    return n > 0 ? n - 1 : 0;
}

std::string ParamStr(int index) {
    const TProcessInfo& info = Info();
    // Read-only after InitProcess, so threads may ask at any time.
    if (index == 0) return ToWindowsPath(info.ExecutablePath.empty() ? ProcSelfExe() : info.ExecutablePath);
    if (index < 0 || index >= static_cast<int>(info.Arguments.size())) return std::string();
    return info.Arguments[static_cast<std::size_t>(index)];
}

// dladdr names the object that holds this code: the shared object when
// the program is loaded as a library, else the executable, whose own name
// is the path it was started as. The anchor has internal linkage, so a host
// that links the same code cannot interpose its own copy.
std::string ModuleFileName() {
    static const char anchor = 0;
    Dl_info found {};
    link_map* module = nullptr;
    const bool known = dladdr1(&anchor, &found, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) != 0;
    if (!known || !module || !module->l_name || module->l_name[0] == '\0' || !found.dli_fname)
        return ParamStr(0);
    std::string folder = Info().StartFolder.empty() ? CurrentFolder() : Info().StartFolder;
    return ToWindowsPath(Absolute(found.dli_fname, folder));
}

std::vector<std::string> EnvironmentStrings() {
    std::vector<std::string> block;
    for (char** entry = environ; entry && *entry; ++entry) block.emplace_back(*entry);
    return block;
}

std::string GetEnv(const std::string& name, bool* found) {
    const char* value = getenv(name.c_str());
    if (found) *found = value != nullptr;
    return value ? std::string(value) : std::string();
}

// Flushes the standard streams only when no other thread holds them: a
// watchdog that ends a stalled process must not wait for that thread.
void HaltProcess(int code) {
    for (FILE* stream : {stdout, stderr}) {
        if (ftrylockfile(stream) != 0) continue;
        fflush_unlocked(stream);
        funlockfile(stream);
    }
    _exit(code);
}

void NormalExit(int code) { std::exit(code); }

namespace {
// The fields of /proc/<pid>/stat from field 3 (the state) on, "" when the
// process cannot be looked at. The command name before them, in
// parentheses, may itself hold blanks and parentheses.
std::string StatFields(int pid) {
    std::string stat;
    if (!ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", stat)) return {};
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 > stat.size() ? std::string() : stat.substr(close + 2);
}
}  // namespace

// A process that has ended but is not yet reaped (a zombie) has ended.
bool ProcessAlive(int pid) {
    if (pid <= 0) return false;
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    const std::string fields = StatFields(pid);
    return fields.empty() || (fields[0] != 'Z' && fields[0] != 'X');
}

unsigned long long ProcessStartTime(int pid) {
    if (pid <= 0) return 0;
    const std::string fields = StatFields(pid);
    // Field 22, the start time, is the 20th from the state on.
    std::size_t at = 0;
    for (int field = 3; field < 22 && at != std::string::npos; ++field) at = fields.find(' ', at + 1);
    return at == std::string::npos ? 0 : std::strtoull(fields.c_str() + at + 1, nullptr, 10);
}

int CurrentProcessId() { return static_cast<int>(getpid()); }
