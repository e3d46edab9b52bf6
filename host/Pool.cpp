#include "host/Pool.h"

#include <fcgiapp.h>
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <exception>

#include "host/Extension.h"
#include "host/Request.h"

namespace {
// Wakes the worker waiting in accept. It is blocked in every worker but
// the one in accept, and only for that call, so it never cuts short a read
// or a write of a request being served.
constexpr int WakeSignal = SIGUSR2;
constexpr auto WakeInterval = std::chrono::milliseconds(50);

sigset_t WakeSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, WakeSignal);
    return set;
}

void Woken(int) {}
}  // namespace

TWorkerPool::~TWorkerPool() {
    // Threads still running at exit are left to the process's end.
    for (auto& thread : threads_)
        if (thread.joinable()) thread.detach();
}

void TWorkerPool::Start(int threads) {
    // No SA_RESTART: the accept the signal lands in fails with EINTR, which
    // FCGI_FAIL_ACCEPT_ON_INTR hands back to the worker.
    struct sigaction action {};
    action.sa_handler = Woken;
    sigemptyset(&action.sa_mask);
    sigaction(WakeSignal, &action, nullptr);
    const sigset_t wake = WakeSet();
    pthread_sigmask(SIG_BLOCK, &wake, nullptr);  // the workers inherit the mask
    std::lock_guard<std::mutex> guard(stateLock_);
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { Work(); });
        ++running_;
    }
}

bool TWorkerPool::Stopping() {
    std::lock_guard<std::mutex> guard(stateLock_);
    return stopping_;
}

// The listening socket is never shut down: that would end the accept of
// every process sharing it. A signal that reaches the worker just before it
// enters accept is spent, so the signal is repeated until every worker ended.
bool TWorkerPool::Stop(std::chrono::milliseconds timeout) {
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        stopping_ = true;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!WaitEnded(WakeInterval)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        for (auto& thread : threads_) pthread_kill(thread.native_handle(), WakeSignal);
    }
    return true;
}

bool TWorkerPool::WaitEnded(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(stateLock_);
    return ended_.wait_for(guard, timeout, [this] { return running_ == 0; });
}

void TWorkerPool::Join() {
    for (auto& thread : threads_)
        if (thread.joinable()) thread.join();
    threads_.clear();
}

int TWorkerPool::Accept(FCGX_Request& request) {
    std::lock_guard<std::mutex> guard(acceptLock_);
    if (Stopping()) return -1;
    const sigset_t wake = WakeSet();
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    const int accepted = FCGX_Accept_r(&request);
    pthread_sigmask(SIG_BLOCK, &wake, nullptr);
    return accepted;
}

void TWorkerPool::Work() {
    FCGX_Request request;
    if (FCGX_InitRequest(&request, listenFd_, FCGI_FAIL_ACCEPT_ON_INTR) == 0) {
        while (Accept(request) >= 0) {
            try {
                ServeRequest(request, extension_, bodyLimit_);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "isapi-fcgi: request failed: %s\n", e.what());
            } catch (...) {
                std::fprintf(stderr, "isapi-fcgi: request failed with an unknown exception\n");
            }
            FCGX_Finish_r(&request);
        }
        FCGX_Free(&request, 0);
    }
    std::lock_guard<std::mutex> guard(stateLock_);
    --running_;
    ended_.notify_all();
}
