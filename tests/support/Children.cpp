#include "tests/support/Children.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Process.h"
#include "tests/support/Files.h"

namespace support {

pid_t StartForked(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child != 0) return child;
    int code = 98;
    try {
        code = body();
    } catch (...) {
    }
    _exit(code);
}

int WaitChild(pid_t pid, int timeoutMs) {
    if (pid < 0) return -1;
    int status = 0;
    pid_t done = 0;
    const bool ended = WaitUntil([&] { return (done = waitpid(pid, &status, WNOHANG)) != 0; }, timeoutMs);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunForked(const std::function<int()>& body, int timeoutMs) { return WaitChild(StartForked(body), timeoutMs); }

void BecomeCgiProcess(const TVariables& environment, const std::string& inPath, const std::string& outPath,
                      std::vector<std::string> words) {
    clearenv();
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    RedirectOrExit(inPath, O_RDONLY, 0);
    RedirectOrExit(outPath, O_WRONLY | O_CREAT | O_TRUNC, 1);
    SetCommandLine(std::move(words));
}

void SetCommandLine(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    InitProcess(static_cast<int>(words.size()), argv.data());
}

bool WaitUntil(const std::function<bool()>& condition, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string WaitForFile(const std::string& path, int milliseconds) {
    std::string content = "(no file)";
    WaitUntil(
        [&] {
            std::ifstream in(path, std::ios::binary);
            if (!in) return false;
            std::ostringstream bytes;
            bytes << in.rdbuf();
            content = bytes.str();
            return true;
        },
        milliseconds);
    return content;
}

}  // namespace support
