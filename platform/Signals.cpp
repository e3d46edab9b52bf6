#include "platform/Signals.h"

#include <atomic>
#include <csignal>

namespace {
std::atomic<bool> installed{false};
std::atomic<HWND> applicationWindow{0};

std::uint32_t MessageOf(int signal) {
    switch (signal) {
        case SIGTERM: return WM_CLOSE;
        case SIGINT: return WM_QUIT;
        default: return WM_SYSCOMMAND;
    }
}

extern "C" void OnStopSignal(int signal) {
    PostMessageFromSignal(applicationWindow.load(), MessageOf(signal), 0, 0);
}
}  // namespace

bool InstallStopSignals() {
    if (installed.load()) return true;
    if (!PrepareSignalPosting()) return false;
    applicationWindow.store(ApplicationHandle());
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    installed.store(true);
    return true;
}

void RestoreStopSignals() {
    if (!installed.load()) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    installed.store(false);
}

bool StopMessageWaiting() {
    TMessage message;
    if (!PeekMessage(message, ApplicationHandle(), 0, 1023)) return false;
    return message.Msg == WM_CLOSE || message.Msg == WM_QUIT || message.Msg == WM_SYSCOMMAND;
}
