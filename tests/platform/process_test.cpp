#include "platform/Process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <cstdlib>
#include <thread>

#include "platform/Files.h"
#include "tests/support/Children.h"
#include "tests/support/TempFolder.h"

namespace {
std::string SelfExe() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// InitProcess with a crafted argument list, run in a given current folder.
std::string ExecutableFor(const std::string& argv0, const std::string& folder) {
    support::TCurrentFolder here(folder);
    std::string arg0 = argv0;
    char* argv[] = {arg0.data(), nullptr};
    InitProcess(1, argv);
    return ParamStr(0);
}

// Runs body in a forked child; its exit code (99 when body returns), or -1
// when it did not end within 5 s (it is then killed).
int ExitCodeOf(const std::function<void()>& body) {
    return support::RunForked(
        [&] {
            body();
            return 99;
        },
        5000);
}

std::string Quoted(const std::string& text) {
    std::string out = text;
    out.insert(out.begin(), '"');
    out.push_back('"');
    return out;
}

std::string g_atexitMarker;
void WriteAtexitMarker() { (void)WriteWholeFile(g_atexitMarker, "ran"); }
}  // namespace

TEST(ParamStr, ExecutablePathRules) {
    support::TTempFolder dir;
    const std::string root = dir.Path();
    ASSERT_TRUE(CreateDir(dir / "bin"));
    ASSERT_TRUE(WriteWholeFile(dir / "bin/prog", "#"));
    ASSERT_TRUE(WriteWholeFile(dir / "prog", "#"));
    ASSERT_EQ(symlink((dir / "bin/prog").c_str(), (dir / "link.cgi").c_str()), 0);
    struct Case {
        const char* argv0;
        std::string want;  // OS form
    };
    const Case cases[] = {
        {"bin/prog", root + "/bin/prog"},      // relative with a separator: made absolute
        {"./bin/prog", root + "/bin/prog"},    // "." components dropped
        {"/usr/bin/env", "/usr/bin/env"},      // absolute: as given
        {"prog", root + "/prog"},              // bare name found in the start-up folder
        {"link.cgi", root + "/link.cgi"},      // a link is not resolved
        {"./link.cgi", root + "/link.cgi"},
        {"no-such-program", SelfExe()},        // bare name elsewhere: what the kernel reports
        {"", SelfExe()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv0);
        EXPECT_EQ(ExecutableFor(c.argv0, root), ToWindowsPath(c.want));
    }
}

TEST(ParamStr, ArgumentsAndRange) {
    std::string a0 = "/bin/prog", a1 = "$$START_SERVER", a2 = "X";
    char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
    InitProcess(3, argv);
    EXPECT_EQ(ParamCount(), 2);
    EXPECT_EQ(ParamStr(0), "\\bin\\prog");
    EXPECT_EQ(ParamStr(1), "$$START_SERVER");
    EXPECT_EQ(ParamStr(2), "X");
    EXPECT_EQ(ParamStr(3), "");
    EXPECT_EQ(ParamStr(-1), "");
    InitProcess(0, nullptr);  // as the library's load routine calls it
    EXPECT_EQ(ParamCount(), 0);
    EXPECT_EQ(ParamStr(0), ToWindowsPath(SelfExe()));
    EXPECT_EQ(ModuleFileName(), ParamStr(0)) << "in the executable the module is the program";
}

TEST(Environment, BlockAndSingleVariables) {
    setenv("VALSETTO_TEST_VAR", "a=b c", 1);
    setenv("VALSETTO_TEST_EMPTY", "", 1);
    unsetenv("VALSETTO_TEST_ABSENT");
    int seen = 0;
    for (const auto& entry : EnvironmentStrings()) {
        if (entry == "VALSETTO_TEST_VAR=a=b c") ++seen;
        if (entry == "VALSETTO_TEST_EMPTY=") ++seen;
    }
    EXPECT_EQ(seen, 2);
    bool found = false;
    EXPECT_EQ(GetEnv("VALSETTO_TEST_VAR", &found), "a=b c");
    EXPECT_TRUE(found);
    EXPECT_EQ(GetEnv("VALSETTO_TEST_EMPTY", &found), "");
    EXPECT_TRUE(found);
    EXPECT_EQ(GetEnv("VALSETTO_TEST_ABSENT", &found), "");
    EXPECT_FALSE(found);
    unsetenv("VALSETTO_TEST_VAR");
    unsetenv("VALSETTO_TEST_EMPTY");
}

TEST(HaltProcess, EndsAtOnceWithCodeWhileNormalExitRunsEndRoutines) {
    support::TTempFolder dir;
    g_atexitMarker = dir / "marker";
    EXPECT_EQ(ExitCodeOf([] {
                  std::atexit(WriteAtexitMarker);
                  HaltProcess(42);
              }),
              42);
    EXPECT_FALSE(FileExists(g_atexitMarker)) << "end routines must not run";
    EXPECT_EQ(ExitCodeOf([] {
                  std::atexit(WriteAtexitMarker);
                  NormalExit(7);
              }),
              7);
    EXPECT_TRUE(FileExists(g_atexitMarker));
}

TEST(HaltProcess, DoesNotWaitForAThreadHoldingStandardOutput) {
    EXPECT_EQ(ExitCodeOf([] {
                  std::atomic<bool> holding{false};
                  std::thread holder([&] {
                      flockfile(stdout);
                      holding = true;
                      for (;;) pause();
                  });
                  while (!holding) std::this_thread::yield();
                  HaltProcess(3);
              }),
              3);
}

TEST(WinExecHidden, StartsDetachedProgramWithNullStreams) {
    support::TTempFolder dir;
    const std::string script = dir / "probe.sh";
    ASSERT_TRUE(WriteWholeFile(script,
                               "#!/bin/sh\n"
                               "out=\"$1\"\n"
                               "streams=\"$(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) $(readlink /proc/$$/fd/2)\"\n"
                               "{ echo \"$streams\"\n"
                               "  [ \"$(cut -d' ' -f6 /proc/$$/stat)\" = \"$$\" ] && echo leader\n"
                               "  [ -e /proc/$$/fd/$2 ] && echo leaked\n"
                               "  echo \"$3\"; } > \"$out.tmp\"\n"
                               "mv \"$out.tmp\" \"$out\"\n"));
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    int inheritable[2];
    ASSERT_EQ(pipe(inheritable), 0);  // no close-on-exec: the start must close it anyway
    const std::string out = dir / "out";
    const std::string line = ToWindowsPath(script) + " " + out + " " + std::to_string(inheritable[1]) + " \"two words\"";
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(WinExecHidden(line));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << "does not wait for the program";
    EXPECT_EQ(support::WaitForFile(out, 5000), "/dev/null /dev/null /dev/null\nleader\ntwo words\n");
    close(inheritable[0]);
    close(inheritable[1]);
}

TEST(WinExecHidden, ProgramPathWithBlanksQuotedOrNot) {
    support::TTempFolder dir;
    ASSERT_TRUE(CreateDir(dir / "site folder"));
    const std::string script = dir / "site folder/run me.sh";
    ASSERT_TRUE(WriteWholeFile(script, "#!/bin/sh\necho \"$1|$2\" > \"$(dirname \"$0\")/$1.tmp\"\n"
                                       "mv \"$(dirname \"$0\")/$1.tmp\" \"$(dirname \"$0\")/$1\"\n"));
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    struct Case {
        std::string line;
        const char* out;
        const char* want;
    };
    const Case cases[] = {
        {Quoted(ToWindowsPath(script)) + " quoted C:\\x", "quoted", "quoted|C:\\x\n"},
        {ToWindowsPath(script) + " bare $$START_SERVER", "bare", "bare|$$START_SERVER\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_TRUE(WinExecHidden(c.line));
        EXPECT_EQ(support::WaitForFile(dir / "site folder/" + c.out, 5000), c.want) << "arguments stay as given";
    }
}

TEST(WinExecHidden, ReportsProgramThatCannotStart) {
    support::TTempFolder dir;
    EXPECT_FALSE(WinExecHidden(dir / "missing-program arg"));
    EXPECT_FALSE(WinExecHidden(""));
    EXPECT_FALSE(WinExecHidden("   "));
    ASSERT_TRUE(WriteWholeFile(dir / "not-executable", "#!/bin/sh\n"));
    EXPECT_FALSE(WinExecHidden(dir / "not-executable"));
    EXPECT_TRUE(WinExecHidden("true")) << "a bare name is looked up on PATH";
}

TEST(ProcessAlive, LivingAndEndedProcesses) {
    EXPECT_TRUE(ProcessAlive(CurrentProcessId()));
    const pid_t child = support::StartForked([] { return 0; });
    EXPECT_EQ(support::WaitChild(child), 0);
    EXPECT_FALSE(ProcessAlive(child));
    EXPECT_FALSE(ProcessAlive(0));
    EXPECT_FALSE(ProcessAlive(-1));
}
