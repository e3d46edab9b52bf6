#include "platform/Threads.h"

#include <chrono>

TThread::TThread(bool createSuspended) {
    if (!createSuspended) Start();
}

TThread::~TThread() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Freed by its own thread (FreeOnTerminate, or Execute deleting it).
        thread_.detach();
        return;
    }
    Terminate();
    thread_.join();
}

void TThread::Start() {
    std::lock_guard<std::mutex> hold(startLock_);
    if (started_) return;
    started_ = true;
    thread_ = std::thread(&TThread::Run, this);
}

void TThread::Run() {
    { std::lock_guard<std::mutex> wait(startLock_); }
    try {
        Execute();
    } catch (...) {
        // An exception must not leave a thread's function: that ends the
        // process. The thread ends as if Execute had returned.
    }
    finished_.store(true);
    if (FreeOnTerminate) delete this;
}

void TThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Sleep(std::uint32_t milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    // sleep_for resumes after a signal until the whole time has passed.
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
