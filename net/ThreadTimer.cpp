#include "net/ThreadTimer.h"

#include "platform/Exception.h"

namespace {
constexpr std::uintptr_t kTimerId = 1;
}

TThreadTimer::TThreadTimer(TComponent* owner)
    : TComponent(owner), window_([this](std::uint32_t msg, WPARAM w, LPARAM l) { return WindowProc(msg, w, l); }) {}

TThreadTimer::~TThreadTimer() {
    enabled_ = false;
    KillTimer(window_.Handle(), kTimerId);
}

void TThreadTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(std::uint32_t value) {
    if (value == interval_) return;
    interval_ = value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent value) {
    onTimer_ = std::move(value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    KillTimer(window_.Handle(), kTimerId);
    if (interval_ != 0 && enabled_ && onTimer_ && !SetTimer(window_.Handle(), kTimerId, interval_))
        throw Exception("No Timer");
}

LRESULT TThreadTimer::WindowProc(std::uint32_t msg, WPARAM wParam, LPARAM) {
    if (msg != WM_TIMER || wParam != kTimerId || !onTimer_) return 0;
    // The handler may change or free the timer's settings: call a copy.
    const TNotifyEvent handler = onTimer_;
    try {
        handler(this);
    } catch (const std::exception& e) {
        HandleApplicationException(e);
    }
    return 0;
}
