// Confinement in a forked child: after it, the program's own folders, the
// genre-page folders beside it and the log folder work as before, and every
// other file is out of reach (EACCES).
#include "platform/Landlock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "tests/support/Children.h"
#include "tests/support/TempFolder.h"

namespace {
namespace fs = std::filesystem;

// errno of creating a file at path, 0 when it could be made.
int CreateError(const std::string& path) {
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    close(fd);
    return 0;
}

int ReadError(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    close(fd);
    return 0;
}

TEST(ConfineProcess, WritesOutsideTheProgramsFoldersFailWithEacces) {
    support::TTempFolder work;
    const std::string site = work / "site";
    for (const char* folder : {"audiojs/Tango", "audiojs/temp", "Tango", "Other", "logs"})
        fs::create_directories(site + "/" + folder);
    const std::string outside = work / "outside.txt";
    std::FILE* planted = std::fopen((site + "/Other/kept.txt").c_str(), "w");
    ASSERT_NE(planted, nullptr);
    std::fclose(planted);

    const int code = support::RunForked([&] {
        const TConfinement rules = ProgramFolderConfinement(site + "/audiojs", site + "/logs", "");
        const TConfineResult result = ConfineProcess(rules);
        if (result == TConfineResult::Unsupported) return 77;
        if (result != TConfineResult::Confined) return 70;
        struct Check {
            int code;
            std::function<int()> probe;
            int want;
        };
        const Check checks[] = {
            {10, [&] { return CreateError(site + "/audiojs/playlist.opt"); }, 0},
            {11, [&] { return CreateError(site + "/audiojs/temp/request"); }, 0},
            {12, [&] { return fs::create_directory(site + "/audiojs/log") ? 0 : -1; }, 0},
            {13, [&] { return CreateError(site + "/Tango/.index.html.part"); }, 0},
            {14, [&] { return std::rename((site + "/Tango/.index.html.part").c_str(),
                                          (site + "/Tango/index.html").c_str()) == 0 ? 0 : errno; }, 0},
            {15, [&] { return CreateError(site + "/logs/playlist.Log"); }, 0},
            {16, [&] { return ReadError("/etc/localtime"); }, 0},
            {20, [&] { return CreateError(outside); }, EACCES},
            {21, [&] { return CreateError(site + "/Other/new.txt"); }, EACCES},
            {22, [&] { return CreateError(site + "/index.html"); }, EACCES},
            {23, [&] { return ReadError(site + "/Other/kept.txt"); }, EACCES},
            {24, [&] { return ReadError("/etc/hostname"); }, EACCES},
            {25, [&] { return std::remove((site + "/Other/kept.txt").c_str()) == 0 ? 0 : errno; }, EACCES},
        };
        for (const Check& check : checks)
            if (check.probe() != check.want) return check.code;
        return 0;
    });
    ASSERT_GE(code, 0) << "the child did not end by itself";
    if (code == 77) GTEST_SKIP() << "this kernel has no Landlock";
    EXPECT_EQ(code, 0) << "the code names the failed check";
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_TRUE(fs::exists(site + "/Tango/index.html"));
}

}  // namespace
