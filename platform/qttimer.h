#pragma once
#include "timer.h"

namespace unplot {

// Timers on QTimer, in the calling thread's event loop.
class QtTimerScheduler final : public TimerScheduler {
public:
    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::milliseconds interval,
                                                      std::function<void()> tick) override;
};

}  // namespace unplot
