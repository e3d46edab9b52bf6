#include "host/Pool.h"

#include <fcgiapp.h>
#include <sys/socket.h>

#include <cstdio>
#include <exception>

#include "host/Extension.h"
#include "host/Request.h"

TWorkerPool::~TWorkerPool() {
    // Threads still running at exit are left to the process's end.
    for (auto& thread : threads_)
        if (thread.joinable()) thread.detach();
}

void TWorkerPool::Start(int threads) {
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

void TWorkerPool::Stop() {
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        stopping_ = true;
    }
    // Wakes the worker blocked in accept: accept on a shut-down listening
    // socket fails at once.
    shutdown(listenFd_, SHUT_RDWR);
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

void TWorkerPool::Work() {
    FCGX_Request request;
    if (FCGX_InitRequest(&request, listenFd_, FCGI_FAIL_ACCEPT_ON_INTR) == 0) {
        for (;;) {
            int accepted = -1;
            {
                std::lock_guard<std::mutex> guard(acceptLock_);
                if (!Stopping()) accepted = FCGX_Accept_r(&request);
            }
            if (accepted < 0) break;
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
