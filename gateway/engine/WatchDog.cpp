#include "gateway/engine/WatchDog.h"

#include "platform/Process.h"
#include "platform/SysUtils.h"

std::atomic<TWatchDogThread*> WatchDog{nullptr};

TWatchDogThread::TWatchDogThread(std::uint32_t pollMs) : TThread(/*createSuspended=*/true), pollMs_(pollMs) {
    FreeOnTerminate = true;
}

void TWatchDogThread::SetDeadline(TDateTime deadline) {
    std::lock_guard<std::mutex> hold(deadlinesLock_);
    if (deadline > 0)
        deadlines_[std::this_thread::get_id()] = deadline;
    else
        deadlines_.erase(std::this_thread::get_id());
}

bool TWatchDogThread::DeadlinePassed(TDateTime now) {
    std::lock_guard<std::mutex> hold(deadlinesLock_);
    for (const auto& entry : deadlines_)
        if (now > entry.second) return true;
    return false;
}

void TWatchDogThread::Execute() {
    while (!Terminated()) {
        if (DeadlinePassed(Now())) HaltProcess(0);
        Sleep(pollMs_);
    }
}
