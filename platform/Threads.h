#pragma once
// Threads with a terminate flag, critical sections and sleeping.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread {
public:
    // A suspended thread does not run until Start. A thread created running
    // starts inside this constructor, before a derived class has set its
    // members (or even its virtual functions): a class whose Execute needs
    // its own state passes true and calls Start once that state is set.
    explicit TThread(bool createSuspended);
    // A thread still running is told to terminate and waited for; a derived
    // class whose Execute uses its own members does so in its own
    // destructor (Terminate, WaitFor), before those members go.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    void Terminate() { terminated_.store(true); }
    bool Terminated() const { return terminated_.load(); }
    // Waits until Execute has returned. Not for a FreeOnTerminate thread.
    void WaitFor();
    bool Finished() const { return finished_.load(); }

    // A thread that frees itself deletes its object when Execute returns;
    // whoever started it must not touch it afterwards.
    bool FreeOnTerminate = false;
    // A hint only on this platform.
    TThreadPriority Priority = TThreadPriority::tpNormal;

protected:
    virtual void Execute() = 0;

private:
    void Run();
    // Held by Start while thread_ is being set, so that a thread that frees
    // itself cannot be deleted before Start is done with it.
    std::mutex startLock_;
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    bool started_ = false;
};

class TCriticalSection {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

// Sleeps the whole time even when a signal arrives meanwhile; 0 yields.
void Sleep(std::uint32_t milliseconds);
inline std::int32_t InterlockedIncrement(std::atomic<std::int32_t>& value) { return ++value; }
