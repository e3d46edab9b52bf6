#include "platform/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "platform/DateTime.h"
#include "tests/support/Children.h"

namespace {
using support::WaitUntil;

class TLoopThread : public TThread {
public:
    TLoopThread() : TThread(true) {}
    ~TLoopThread() override {
        Terminate();
        WaitFor();
    }
    std::atomic<int> Rounds{0};

protected:
    void Execute() override {
        for (int i = 0; i < 100000 && !Terminated(); ++i) {
            ++Rounds;
            Sleep(1);
        }
    }
};

std::atomic<int> g_destroyed{0};
std::atomic<int> g_bareRounds{0};

// No destructor of its own: the base destructor must stop and join it.
class TBareLoopThread : public TThread {
public:
    TBareLoopThread() : TThread(true) {}

protected:
    void Execute() override {
        for (int i = 0; i < 100000 && !Terminated(); ++i) {
            ++g_bareRounds;
            Sleep(1);
        }
    }
};

class TSelfFreeingThread : public TThread {
public:
    explicit TSelfFreeingThread(std::atomic<int>& ran) : TThread(true), ran_(ran) { FreeOnTerminate = true; }
    ~TSelfFreeingThread() override { ++g_destroyed; }

protected:
    void Execute() override { ++ran_; }

private:
    std::atomic<int>& ran_;
};

class TThrowingThread : public TThread {
public:
    TThrowingThread() : TThread(true) {}

protected:
    void Execute() override { throw std::runtime_error("escapes Execute"); }
};

}  // namespace

TEST(TThread, SuspendedWaitsForStartAndStopsOnTerminate) {
    TLoopThread thread;
    Sleep(30);
    EXPECT_EQ(thread.Rounds.load(), 0) << "a suspended thread does not run";
    thread.Start();
    thread.Start();  // a second Start does nothing
    ASSERT_TRUE(WaitUntil([&] { return thread.Rounds.load() > 0; }));
    EXPECT_FALSE(thread.Finished());
    thread.Terminate();
    EXPECT_TRUE(thread.Terminated());
    const std::uint32_t before = GetTickCount();
    thread.WaitFor();
    EXPECT_LT(GetTickCount() - before, 2000u);
    EXPECT_TRUE(thread.Finished());
    thread.WaitFor();  // waiting again returns at once
}

TEST(TThread, DestroyingARunningThreadStopsIt) {
    g_bareRounds = 0;
    auto* thread = new TBareLoopThread;
    thread->Start();
    ASSERT_TRUE(WaitUntil([&] { return g_bareRounds.load() > 0; }));
    const std::uint32_t before = GetTickCount();
    delete thread;  // must neither hang nor end the process
    EXPECT_LT(GetTickCount() - before, 2000u);
    const int rounds = g_bareRounds.load();
    Sleep(20);
    EXPECT_EQ(g_bareRounds.load(), rounds) << "the thread has ended";
}

TEST(TThread, NeverStartedThreadCanBeDestroyed) {
    TLoopThread thread;
    thread.WaitFor();
    EXPECT_FALSE(thread.Finished());
}

TEST(TThread, FreeOnTerminateDeletesItselfEvenWhenExecuteIsInstant) {
    constexpr int count = 200;
    std::atomic<int> ran{0};
    g_destroyed = 0;
    for (int i = 0; i < count; ++i) (new TSelfFreeingThread(ran))->Start();
    EXPECT_TRUE(WaitUntil([&] { return g_destroyed.load() == count; }));
    EXPECT_EQ(ran.load(), count);
}

TEST(TThread, ExceptionInExecuteEndsOnlyTheThread) {
    TThrowingThread thread;
    thread.Start();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
}

TEST(TCriticalSection, SerialisesIncrements) {
    TCriticalSection section;
    long long total = 0;
    std::atomic<std::int32_t> counter{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                section.Enter();
                ++total;
                section.Leave();
                InterlockedIncrement(counter);
            }
        });
    for (auto& w : workers) w.join();
    EXPECT_EQ(total, 80000);
    EXPECT_EQ(counter.load(), 80000);
}
