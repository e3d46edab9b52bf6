#include "gateway/engine/WatchDog.h"

#include "platform/Process.h"
#include "platform/SysUtils.h"

std::atomic<TWatchDogThread*> WatchDog{nullptr};

TWatchDogThread::TWatchDogThread(std::uint32_t pollMs) : TThread(/*createSuspended=*/true), pollMs_(pollMs) {
    FreeOnTerminate = true;
}

void TWatchDogThread::Execute() {
    while (!Terminated()) {
        const TDateTime deadline = Deadline.load();
        if (deadline > 0 && Now() > deadline) HaltProcess(0);
        Sleep(pollMs_);
    }
}
