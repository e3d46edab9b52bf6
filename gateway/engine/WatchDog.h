#pragma once
// The one watchdog of the gateway: a thread that ends the process once a
// deadline has passed. The engine arms it while a body read waits for data;
// a hand-off client arms its own while it writes the request file.
#include <atomic>
#include <cstdint>

#include "platform/DateTime.h"
#include "platform/Threads.h"

// Deadline is a date-time (0 = disarmed) looked at every pollMs; once it has
// passed, the process ends with exit code 0. Created suspended; frees itself
// when it ends, so whoever started it leaves it alone after Terminate.
class TWatchDogThread : public TThread {
public:
    explicit TWatchDogThread(std::uint32_t pollMs);
    std::atomic<TDateTime> Deadline{0};

protected:
    void Execute() override;

private:
    const std::uint32_t pollMs_;
};

// The engine's watchdog over stalled body reads; none inside a host server.
extern std::atomic<TWatchDogThread*> WatchDog;
