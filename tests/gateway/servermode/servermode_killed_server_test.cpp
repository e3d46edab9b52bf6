// A resident server that was killed leaves its alive file fresh for up to
// 30 s. A request that arrived then used to be handed to the dead server
// and lost (the client answered nothing); it must be served directly.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "gateway/servermode/ServerMode.h"
#include "gateway/servermode/ServerModeInternal.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/WindowTitle.h"
#include "tests/support/TempFolder.h"

namespace {
std::string Os(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

void MakeFile(const std::string& path, const std::string& content = "") { std::ofstream(path) << content; }

// The id of a process that has ended.
pid_t EndedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

class KilledServer : public testing::Test {
protected:
    void SetUp() override {
        folder_ = support::MakeTempFolder("valsetto-killed");
        ASSERT_FALSE(folder_.empty());
        program_ = folder_ + "/prog.cgi";
        char* argv[] = {program_.data(), nullptr};
        InitProcess(1, argv);
        IsServerProcess.store(false);
        std::filesystem::create_directories(Os(ServerFolder()));
    }
    void TearDown() override {
        InitProcess(0, nullptr);
        support::RemoveFolder(folder_);
    }
    std::string folder_;
    std::string program_;
};
}  // namespace

TEST_F(KilledServer, AFreshAliveFileCountsOnlyWhileItsPublishedProcessLives) {
    const std::string living = std::to_string(getpid());
    const std::string started = std::to_string(ProcessStartTime(getpid()));
    ASSERT_NE(started, "0");
    struct Case {
        const char* what;
        std::string published;  // "" publishes nothing
        bool running;
    };
    const Case cases[] = {
        {"no window published yet (a server starting up)", "", true},
        {"window published by a living process", living + " " + started, true},
        {"window published by a living process, start time not recorded", living, true},
        {"window published by a process that has ended", std::to_string(EndedProcess()) + " " + started, false},
        {"its process id now used by another process", living + " " + std::to_string(std::stoull(started) - 1), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MakeFile(Os(AliveFileName()));
        const std::string window = Os(WindowTitleFile(ServerFolder(), ServerWindowTitle()));
        std::filesystem::remove(window);
        if (!c.published.empty()) MakeFile(window, c.published);
        EXPECT_EQ(IsServerRunning(), c.running);
    }
}
