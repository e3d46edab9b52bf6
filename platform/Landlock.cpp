#include "platform/Landlock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {
#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#define SYS_landlock_add_rule 445
#define SYS_landlock_restrict_self 446
#endif

// The kernel's interface (include/uapi/linux/landlock.h), written out so the
// build does not depend on the headers' age.
constexpr std::uint32_t CreateRulesetVersion = 1U << 0;
constexpr int RulePathBeneath = 1;

constexpr std::uint64_t Execute = 1ULL << 0;
constexpr std::uint64_t WriteFile = 1ULL << 1;
constexpr std::uint64_t ReadFile = 1ULL << 2;
constexpr std::uint64_t ReadDir = 1ULL << 3;
constexpr std::uint64_t RemoveDir = 1ULL << 4;
constexpr std::uint64_t RemoveFile = 1ULL << 5;
constexpr std::uint64_t MakeDir = 1ULL << 7;
constexpr std::uint64_t MakeReg = 1ULL << 8;
constexpr std::uint64_t Refer = 1ULL << 13;     // ABI 2
constexpr std::uint64_t Truncate = 1ULL << 14;  // ABI 3
constexpr std::uint64_t IoctlDev = 1ULL << 15;  // ABI 5

// Every file-system right the kernel's ABI version knows: what is handled
// and not granted is refused.
std::uint64_t HandledRights(long abi) {
    std::uint64_t rights = (1ULL << 13) - 1;  // ABI 1: bits 0 to 12
    if (abi >= 2) rights |= Refer;
    if (abi >= 3) rights |= Truncate;
    if (abi >= 5) rights |= IoctlDev;
    return rights;
}

struct TRulesetAttr {
    std::uint64_t HandledAccessFs;
};

struct __attribute__((packed)) TPathBeneathAttr {
    std::uint64_t AllowedAccess;
    std::int32_t ParentFd;
};

// False only when the kernel refused a rule for a path that exists.
bool AddRule(int ruleset, const std::string& path, std::uint64_t rights) {
    const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return true;  // nothing there to grant
    struct stat info {};
    const bool folder = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
    // Rights that only make sense on a folder are refused on a file.
    if (!folder) rights &= Execute | WriteFile | ReadFile | Truncate | IoctlDev;
    TPathBeneathAttr rule{rights, fd};
    const long done = syscall(SYS_landlock_add_rule, ruleset, RulePathBeneath, &rule, 0);
    close(fd);
    return done == 0;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
}  // namespace

TConfineResult ConfineProcess(const TConfinement& rules) {
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, CreateRulesetVersion);
    if (abi < 1) return TConfineResult::Unsupported;
    const std::uint64_t handled = HandledRights(abi);
    const TRulesetAttr attr{handled};
    const long ruleset = syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0);
    if (ruleset < 0) return TConfineResult::Failed;
    const int fd = static_cast<int>(ruleset);
    const std::uint64_t read = ReadFile | ReadDir;
    const std::uint64_t write = read | WriteFile | RemoveDir | RemoveFile | MakeDir | MakeReg | Refer | Truncate;
    bool added = true;
    for (const auto& path : rules.ReadTrees) added = AddRule(fd, path, read & handled) && added;
    for (const auto& path : rules.WriteTrees) added = AddRule(fd, path, write & handled) && added;
    for (const auto& path : rules.ReadFiles) added = AddRule(fd, path, ReadFile) && added;
    for (const auto& path : rules.ReadWriteFiles) added = AddRule(fd, path, ReadFile | WriteFile) && added;
    for (const auto& path : rules.ExecuteFiles) added = AddRule(fd, path, Execute | ReadFile) && added;
    for (const auto& path : rules.RemoveIn) added = AddRule(fd, path, RemoveFile) && added;
    const bool confined = added && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                          syscall(SYS_landlock_restrict_self, fd, 0) == 0;
    close(fd);
    return confined ? TConfineResult::Confined : TConfineResult::Failed;
}

TConfinement ProgramFolderConfinement(const std::string& programFolder, const std::string& logFolder,
                                      const std::string& executable) {
    TConfinement rules;
    rules.WriteTrees.push_back(programFolder);
    if (!logFolder.empty()) rules.WriteTrees.push_back(logFolder);
    // Local time: the C library reads the zone file named by TZ or /etc/localtime.
    rules.ReadTrees.push_back("/usr/share/zoneinfo");
    rules.ReadFiles.push_back("/etc/localtime");
    // The music index writes each genre's page into the site folder's
    // folder of that name, beside the program folder.
    const std::string site = Parent(programFolder);
    if (DIR* folder = opendir(programFolder.c_str())) {
        while (const dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || !IsFolder(programFolder + "/" + name)) continue;
            if (IsFolder(site + "/" + name)) rules.WriteTrees.push_back(site + "/" + name);
        }
        closedir(folder);
    }
    if (!executable.empty()) {
        rules.ExecuteFiles.push_back(executable);
        rules.ReadWriteFiles.push_back("/dev/null");  // the started process's standard streams
    }
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' runtime reads the process's maps and threads at exit.
    rules.ReadTrees.push_back("/proc");
#endif
    return rules;
}
