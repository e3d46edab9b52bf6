// Starting a program without a window: detached in a session of its own,
// standard streams on /dev/null, no other descriptor inherited.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/Process.h"

extern char** environ;

namespace {
// Words split at blanks; a double-quoted stretch keeps its blanks and loses
// its quotes, so a program path with a blank can be started.
std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// As the host does with an unquoted program path that holds blanks: when
// the first word names no executable file, the shortest run of leading
// words that does is the program.
// The program word is made OS form; the arguments stay as given.
void JoinProgramWords(std::vector<std::string>& words) {
    words[0] = ToOsPath(words[0]);
    if (words[0].find('/') == std::string::npos || IsExecutableFile(words[0])) return;
    std::string candidate = words[0];
    for (std::size_t k = 1; k < words.size(); ++k) {
        candidate.push_back(' ');
        candidate.append(ToOsPath(words[k]));
        if (IsExecutableFile(candidate)) {
            words.erase(words.begin() + 1, words.begin() + static_cast<std::ptrdiff_t>(k) + 1);
            words[0] = candidate;
            return;
        }
    }
}

// A bare program name is looked up in the current folder, then on PATH, in
// the parent: the child may only make async-signal-safe calls.
std::string ResolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos || IsExecutableFile(program)) return program;
    const char* path = getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        if (IsExecutableFile(folder + "/" + program)) return folder + "/" + program;
        start = end + 1;
    }
    return program;
}

// Runs in the forked child. The grandchild is the started program: the
// child ends at once, so the program is reparented and never a zombie of ours.
[[noreturn]] void DetachAndExec(const char* program, char* const* argv, int reportEnd, int descriptorLimit) {
    const char failed = 1;
    const pid_t grandchild = fork();
    if (grandchild != 0) {
        if (grandchild < 0) {
            [[maybe_unused]] const ssize_t n = write(reportEnd, &failed, 1);
        }
        _exit(0);
    }
    setsid();
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
    const bool closed = (reportEnd <= 3 || close_range(3, static_cast<unsigned>(reportEnd - 1), 0) == 0) &&
                        close_range(static_cast<unsigned>(reportEnd + 1), ~0U, 0) == 0;
    if (!closed)
        for (int fd = 3; fd < descriptorLimit; ++fd)
            if (fd != reportEnd) close(fd);
    execve(program, argv, environ);
    [[maybe_unused]] const ssize_t n = write(reportEnd, &failed, 1);
    _exit(127);
}
}  // namespace

bool WinExecHidden(const std::string& commandLine) {
    std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.empty()) return false;
    JoinProgramWords(words);
    const std::string program = ResolveProgram(words[0]);
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const long openMax = sysconf(_SC_OPEN_MAX);
    const int descriptorLimit = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        DetachAndExec(program.c_str(), argv.data(), report[1], descriptorLimit);
    }
    close(report[1]);
    if (child < 0) {
        close(report[0]);
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without a byte when exec succeeded (close-on-exec).
    char failed = 0;
    ssize_t n = 0;
    do {
        n = read(report[0], &failed, 1);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    return n == 0;
}
