#pragma once
// A window timer as a component: OnTimer fires every Interval milliseconds
// while Enabled, through the message queue of the thread that created it.
#include <cstdint>

#include "platform/Forms.h"
#include "platform/MessageLoop.h"

class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* owner);
    ~TThreadTimer() override;

    bool Enabled() const { return enabled_; }
    std::uint32_t Interval() const { return interval_; }
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    // Each setter (re)arms the timer: it runs while Interval is not 0,
    // Enabled is true and OnTimer is assigned. Setting Enabled or Interval to
    // its current value does nothing. Raise Exception "No Timer" when the
    // window timer cannot be set.
    void SetEnabled(bool value);
    void SetInterval(std::uint32_t value);
    void SetOnTimer(TNotifyEvent value);

private:
    void UpdateTimer();
    LRESULT WindowProc(std::uint32_t msg, WPARAM wParam, LPARAM lParam);

    bool enabled_ = true;
    std::uint32_t interval_ = 1000;
    TNotifyEvent onTimer_;
    THiddenWindow window_;
};
