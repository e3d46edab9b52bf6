#include "platform/Spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Files.h"

namespace {
std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void DetachAndExec(const char* program, char* const* argv, char* const* envp, int execReport) {
    const char failed = 1;
    const pid_t grandchild = fork();
    if (grandchild < 0) {
        [[maybe_unused]] const ssize_t n = write(execReport, &failed, 1);
        _exit(127);
    }
    if (grandchild > 0) _exit(0);  // the grandchild runs on, reparented, never a zombie
    setsid();
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != execReport) close(fd);
    execve(program, argv, envp);
    [[maybe_unused]] const ssize_t n = write(execReport, &failed, 1);
    _exit(127);
}
}  // namespace

bool SpawnDetached(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    if (arguments.empty()) return false;
    std::vector<std::string> words = arguments;
    words[0] = ToOsPath(words[0]);
    std::vector<std::string> env = environment;
    std::vector<char*> argv = Pointers(words);
    std::vector<char*> envp = Pointers(env);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        close(report[0]);
        DetachAndExec(argv[0], argv.data(), envp.data(), report[1]);
    }
    close(report[1]);
    int status = 0;
    waitpid(child, &status, 0);
    // The pipe closes on a successful exec (close-on-exec) and delivers a
    // byte when exec failed.
    char failed = 0;
    const ssize_t n = read(report[0], &failed, 1);
    close(report[0]);
    return n == 0;
}
