#include "platform/MessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Loopback.h"

namespace {

using Clock = std::chrono::steady_clock;
using support::PumpUntil;

struct TRecorder {
    std::vector<std::string> Seen;
    THiddenWindow Window{[this](std::uint32_t msg, WPARAM w, LPARAM l) {
        Seen.push_back(std::to_string(msg) + ":" + std::to_string(w) + ":" + std::to_string(l));
        return LRESULT{0};
    }};
};

// Leaves the main queue as it found it: no application window procedure and
// none of its messages waiting.
struct ApplicationWindowGuard {
    ~ApplicationWindowGuard() {
        SetApplicationWindowProc([](std::uint32_t, WPARAM, LPARAM) { return LRESULT{0}; });
        ProcessMessages();
        SetApplicationWindowProc({});
    }
};

}  // namespace

TEST(MessageLoop, DeliversInOrderToTheRightWindow) {
    TRecorder a, b;
    ASSERT_TRUE(PostMessage(a.Window.Handle(), WM_USER + 1, 1, 10));
    ASSERT_TRUE(PostMessage(b.Window.Handle(), WM_USER + 2, 2, 20));
    ASSERT_TRUE(PostMessage(a.Window.Handle(), WM_USER + 3, 3, -30));
    ProcessMessages();
    EXPECT_EQ(a.Seen, (std::vector<std::string>{"1025:1:10", "1027:3:-30"}));
    EXPECT_EQ(b.Seen, (std::vector<std::string>{"1026:2:20"}));
}

TEST(MessageLoop, WindowGoneDropsItsMessagesAndRefusesNewOnes) {
    TRecorder keep;
    HWND gone = 0;
    int calls = 0;
    {
        THiddenWindow w([&](std::uint32_t, WPARAM, LPARAM) { return LRESULT{++calls}; });
        gone = w.Handle();
        ASSERT_TRUE(PostMessage(gone, WM_USER, 0, 0));
        ASSERT_TRUE(PostMessage(keep.Window.Handle(), WM_USER, 0, 0));
    }
    EXPECT_FALSE(PostMessage(gone, WM_USER, 0, 0));
    ProcessMessages();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(keep.Seen.size(), 1u);
}

// A handler that always posts again must not keep one ProcessMessages call
// busy forever: each call delivers what was waiting when it began.
TEST(MessageLoop, RepostingHandlerDoesNotHoldProcessMessages) {
    int calls = 0;
    HWND self = 0;
    THiddenWindow w([&](std::uint32_t, WPARAM, LPARAM) {
        ++calls;
        PostMessage(self, WM_USER, 0, 0);
        return LRESULT{0};
    });
    self = w.Handle();
    PostMessage(self, WM_USER, 0, 0);
    ProcessMessages();
    EXPECT_EQ(calls, 1);
    ProcessMessages();
    EXPECT_EQ(calls, 2);
}

// A handler that waits (pumping the queue itself) gets the following
// messages delivered inside it, each exactly once and in order.
TEST(MessageLoop, NestedProcessMessagesDeliversEachMessageOnce) {
    std::vector<int> order;
    THiddenWindow w([&](std::uint32_t msg, WPARAM, LPARAM) {
        order.push_back(static_cast<int>(msg - WM_USER));
        if (msg == WM_USER) ProcessMessages();
        return LRESULT{0};
    });
    for (int i = 0; i < 4; ++i) PostMessage(w.Handle(), WM_USER + i, 0, 0);
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST(MessageLoop, ApplicationWindowMessagesWaitUntilAProcedureIsSet) {
    ApplicationWindowGuard guard;
    const HWND app = ApplicationHandle();
    ASSERT_TRUE(PostMessage(app, 2000, 0, 0));
    ASSERT_TRUE(PostMessage(app, WM_CLOSE, 7, 0));
    ProcessMessages();
    ProcessMessages();

    struct Case { HWND window; std::uint32_t first, last; bool found; std::uint32_t msg; };
    const Case cases[] = {
        {app, 0, 1023, true, WM_CLOSE},   // the first in range, not the first waiting
        {app, 0, 15, false, 0},
        {0, 0, 0xFFFF, true, 2000},       // any window
        {app + 1000, 0, 0xFFFF, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + ".." + std::to_string(c.last));
        TMessage m;
        ASSERT_EQ(PeekMessage(m, c.window, c.first, c.last), c.found);
        if (c.found) {
            EXPECT_EQ(m.Msg, c.msg);
        }
    }
    TMessage again;
    ASSERT_TRUE(PeekMessage(again, app, 0, 1023));  // looking removed nothing
    EXPECT_EQ(again.WParam, 7u);

    std::vector<std::uint32_t> delivered;
    SetApplicationWindowProc([&](std::uint32_t msg, WPARAM, LPARAM) {
        delivered.push_back(msg);
        return LRESULT{0};
    });
    ProcessMessages();
    EXPECT_EQ(delivered, (std::vector<std::uint32_t>{2000, WM_CLOSE}));
    TMessage none;
    EXPECT_FALSE(PeekMessage(none, app, 0, 0xFFFF));
}

namespace {
void PostCloseFromSignal(int) { PostMessageFromSignal(ApplicationHandle(), WM_CLOSE, 0, 15); }
}  // namespace

TEST(MessageLoop, SignalHandlerPostsThroughTheSelfPipe) {
    ApplicationWindowGuard guard;
    ASSERT_TRUE(PrepareSignalPosting());
    ApplicationHandle();
    struct sigaction action {}, previous{};
    action.sa_handler = PostCloseFromSignal;
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    std::raise(SIGUSR1);
    sigaction(SIGUSR1, &previous, nullptr);

    const auto start = Clock::now();
    WaitMessage(1000);  // the pipe is readable: no waiting
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    TMessage m;
    ASSERT_TRUE(PeekMessage(m, ApplicationHandle(), 0, 1023));
    EXPECT_EQ(m.Msg, WM_CLOSE);
    EXPECT_EQ(m.LParam, 15);
}

TEST(MessageLoop, PostFromAnotherThreadWakesWaitMessage) {
    TRecorder r;
    const HWND target = r.Window.Handle();
    std::thread poster([target] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        PostMessage(target, WM_USER, 5, 0);
    });
    const auto start = Clock::now();
    bool arrived = PumpUntil([&] { return !r.Seen.empty(); }, 2000);
    poster.join();
    ASSERT_TRUE(arrived);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));

    const auto idle = Clock::now();
    WaitMessage(40);  // nothing comes: returns at its bound
    const auto waited = Clock::now() - idle;
    EXPECT_GE(waited, std::chrono::milliseconds(35));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
}

// Windows made on another thread belong to that thread's queue.
TEST(MessageLoop, WindowsOfAnotherThreadAreServedByThatThread) {
    std::atomic<HWND> handle{0};
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::thread owner([&] {
        THiddenWindow w([&](std::uint32_t, WPARAM, LPARAM) {
            ++calls;
            return LRESULT{0};
        });
        handle = w.Handle();
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!stop && Clock::now() < deadline) {
            WaitMessage(5);
            ProcessMessages();
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return handle.load() != 0; }));
    PostMessage(handle, WM_USER, 0, 0);
    ProcessMessages();  // the main queue has nothing for it
    const bool delivered = PumpUntil([&] { return calls.load() == 1; });
    stop = true;
    owner.join();
    EXPECT_TRUE(delivered);
}

TEST(MessageLoop, TimerFiresRepeatedlyWithOneMessageWaitingAtMost) {
    int ticks = 0;
    THiddenWindow w([&](std::uint32_t msg, WPARAM id, LPARAM) {
        if (msg == WM_TIMER && id == 9) ++ticks;
        return LRESULT{0};
    });
    EXPECT_FALSE(SetTimer(w.Handle(), 9, 0));
    ASSERT_TRUE(SetTimer(w.Handle(), 9, 10));
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));

    // Not pumped for many intervals: one tick waits, not a backlog.
    const int before = ticks;
    ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    ProcessMessages();
    ProcessMessages();
    EXPECT_LE(ticks - before, 2);

    EXPECT_TRUE(KillTimer(w.Handle(), 9));
    const int killed = ticks;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ProcessMessages();
    EXPECT_EQ(ticks, killed);
    EXPECT_FALSE(KillTimer(w.Handle(), 9));
}

TEST(MessageLoop, WaitMessageWakesForADueTimer) {
    int ticks = 0;
    THiddenWindow w([&](std::uint32_t msg, WPARAM, LPARAM) {
        ticks += msg == WM_TIMER;
        return LRESULT{0};
    });
    ASSERT_TRUE(SetTimer(w.Handle(), 1, 20));
    const auto start = Clock::now();
    WaitMessage(2000);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    ProcessMessages();
    EXPECT_EQ(ticks, 1);
}

TEST(MessageLoop, HandlerExceptionGoesToTheApplicationHandler) {
    std::vector<std::string> caught;
    SetApplicationExceptionHandler([&](const std::exception& e) { caught.push_back(e.what()); });
    int after = 0;
    THiddenWindow w([&](std::uint32_t msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_USER) throw std::runtime_error("boom");
        ++after;
        return 0;
    });
    PostMessage(w.Handle(), WM_USER, 0, 0);
    PostMessage(w.Handle(), WM_USER + 1, 0, 0);
    ProcessMessages();
    SetApplicationExceptionHandler({});
    EXPECT_EQ(caught, (std::vector<std::string>{"boom"}));
    EXPECT_EQ(after, 1);
}

TEST(MessageLoop, RemoveMessagesTakesOnlyTheMatchingOnes) {
    TRecorder r;
    PostMessage(r.Window.Handle(), 1125, 4, 1);
    PostMessage(r.Window.Handle(), 1125, 5, 1);
    PostMessage(r.Window.Handle(), 1126, 4, 1);
    RemoveMessages(r.Window.Handle(), 1125, 4);
    ProcessMessages();
    EXPECT_EQ(r.Seen, (std::vector<std::string>{"1125:5:1", "1126:4:1"}));
}
