#pragma once
// The one watchdog of the gateway: a thread that ends the process once a
// deadline has passed. The engine arms it while a body read waits for data;
// a hand-off client arms its own while it writes the request file.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

#include "platform/DateTime.h"
#include "platform/Threads.h"

// Each thread's deadline is a date-time looked at every pollMs; once one has
// passed, the process ends with exit code 0. Created suspended; frees itself
// when it ends, so whoever started it leaves it alone after Terminate.
class TWatchDogThread : public TThread {
public:
    explicit TWatchDogThread(std::uint32_t pollMs);
    // The deadline of the calling thread's guarded step; 0 disarms it. Each
    // thread has its own, so concurrent body reads (one thread per request)
    // never move or disarm each other's.
    void SetDeadline(TDateTime deadline);
    // True when the deadline of any thread has passed.
    [[nodiscard]] bool DeadlinePassed(TDateTime now);

protected:
    void Execute() override;

private:
    const std::uint32_t pollMs_;
    std::mutex deadlinesLock_;
    std::map<std::thread::id, TDateTime> deadlines_;
};

// The engine's watchdog over stalled body reads; none inside a host server.
extern std::atomic<TWatchDogThread*> WatchDog;
