// Waiting for files other processes complete, and telling a living process
// from an ended one: the folder watch wakes a wait at once, a forked child
// posts into a message queue of its own, and an ended but unreaped process
// has ended.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/FileWatch.h"
#include "platform/Files.h"
#include "platform/MessageLoop.h"
#include "platform/Process.h"
#include "tests/support/TempFolder.h"

namespace {
using Clock = std::chrono::steady_clock;

// Milliseconds one WaitForFolderChange took, with change() run 100 ms into
// it on another thread.
long long WaitWith(TFolderWatch& watch, std::uint32_t boundMs, const std::function<void()>& change) {
    std::thread changer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        change();
    });
    const auto started = Clock::now();
    WaitForFolderChange(watch, boundMs);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    changer.join();
    return took;
}
}  // namespace

TEST(FolderWatch, ARenameIntoTheFolderOrARemovalEndsTheWait) {
    support::TTempFolder dir("valsetto-watch");
    TFolderWatch watch(dir.Path());
    ASSERT_TRUE(watch.Active());
    ASSERT_TRUE(WriteWholeFile(dir / "a.tmp", "x"));
    struct Case {
        const char* what;
        std::function<void()> change;
        bool wakes;
    };
    const Case cases[] = {
        {"renamed into place", [&] { RenameFile(dir / "a.tmp", dir / "a_REQ"); }, true},
        {"removed", [&] { DeleteFile(dir / "a_REQ"); }, true},
        {"written in place (no completed file)", [&] { static_cast<void>(WriteWholeFile(dir / "b", "y")); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const long long took = WaitWith(watch, 1500, c.change);
        if (c.wakes)
            EXPECT_LT(took, 1000);  // woken by the change, not by the bound
        else
            EXPECT_GE(took, 1400);
    }
}

TEST(FolderWatch, AFolderThatCannotBeWatchedWaitsItsBound) {
    TFolderWatch watch("/nonexistent-valsetto-folder");
    EXPECT_FALSE(watch.Active());
    const auto started = Clock::now();
    WaitForFolderChange(watch, 100);
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(90));
}

TEST(FolderWatch, FileTimesInUtcSeconds) {
    support::TTempFolder dir("valsetto-watch");
    ASSERT_TRUE(WriteWholeFile(dir / "f", ""));
    double modified = 0;
    ASSERT_TRUE(FileModifiedUtc(dir / "f", modified));
    EXPECT_NEAR(UtcSecondsNow(), modified, 5);
    EXPECT_NEAR(modified, static_cast<double>(time(nullptr)), 5);  // whatever TZ says
    EXPECT_FALSE(FileModifiedUtc(dir / "missing", modified));
}

// A message a forked child posts (as its signal handlers do) stays in the
// child: with the parent's self-pipe it would end up in the parent's queue.
TEST(MessageLoopAfterFork, AChildPostsIntoItsOwnQueue) {
    ASSERT_TRUE(PrepareSignalPosting());
    const pid_t child = fork();
    if (child == 0) _exit(PostMessageFromSignal(ApplicationHandle(), WM_CLOSE, 0, 0) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    TMessage message;
    EXPECT_FALSE(PeekMessage(message, ApplicationHandle(), WM_CLOSE, WM_CLOSE));
}

TEST(ProcessIdentity, AnEndedUnreapedProcessHasEnded) {
    const unsigned long long started = ProcessStartTime(CurrentProcessId());
    EXPECT_NE(started, 0u);
    EXPECT_EQ(ProcessStartTime(CurrentProcessId()), started);
    const pid_t child = fork();
    if (child == 0) _exit(0);
    for (int waited = 0; waited < 200 && ProcessAlive(child); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(ProcessAlive(child));  // a zombie until reaped below
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(ProcessStartTime(child), 0u);
}
