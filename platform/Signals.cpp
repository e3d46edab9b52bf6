#include "platform/Signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
std::atomic<int> firstMessage{0};
std::atomic<bool> installed{false};
int pipeEnds[2] = {-1, -1};

int MessageOf(int signal) {
    switch (signal) {
        case SIGTERM: return WM_CLOSE;
        case SIGINT: return WM_QUIT;
        case SIGHUP: return WM_SYSCOMMAND;
        default: return 0;
    }
}

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    int expected = 0;
    firstMessage.compare_exchange_strong(expected, MessageOf(signal));
    if (pipeEnds[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(pipeEnds[1], &byte, 1);
    }
    errno = saved;
}
}  // namespace

void InstallStopSignals() {
    if (installed.exchange(true)) return;
    if (pipe(pipeEnds) == 0) {
        for (int end : pipeEnds) {
            fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
            fcntl(end, F_SETFD, FD_CLOEXEC);
        }
    } else {
        pipeEnds[0] = pipeEnds[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

int PeekStopMessage() { return firstMessage.load(); }

void ClearStopMessage() {
    firstMessage.store(0);
    if (pipeEnds[0] < 0) return;
    char drain[64];
    while (read(pipeEnds[0], drain, sizeof drain) > 0) {
    }
}

int StopSignalDescriptor() { return pipeEnds[0]; }
