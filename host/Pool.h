#pragma once
// A fixed number of worker threads, each with its own FastCGI request,
// taking turns to accept connections on one listening socket and serving
// each request through the extension. Other host processes may accept on
// the same socket: stopping leaves the socket itself alone.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

struct TExtension;
struct FCGX_Request;

class TWorkerPool {
public:
    TWorkerPool(int listenFd, const TExtension& extension, std::uint32_t bodyLimit)
        : listenFd_(listenFd), extension_(extension), bodyLimit_(bodyLimit) {}
    ~TWorkerPool();
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    void Start(int threads);
    // Stops accepting: a worker finishes the request it serves and ends.
    // Whether every worker has ended within timeout.
    bool Stop(std::chrono::milliseconds timeout);
    // Whether every worker has ended, waiting at most timeout.
    bool WaitEnded(std::chrono::milliseconds timeout);
    // Joins the workers; only after WaitEnded returned true.
    void Join();
    bool Stopping();

private:
    void Work();
    int Accept(FCGX_Request& request);

    int listenFd_;
    const TExtension& extension_;
    std::uint32_t bodyLimit_;
    std::vector<std::thread> threads_;
    std::mutex acceptLock_;  // libfcgi accepts on one thread at a time
    std::mutex stateLock_;
    std::condition_variable ended_;
    int running_ = 0;
    bool stopping_ = false;
};
