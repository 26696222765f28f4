#pragma once
// The repeating timer contract: a scheduled timer calls its tick on the main thread at its interval until it is
// invalidated; an invalidated timer never ticks again.

#include <chrono>
#include <functional>
#include <memory>

namespace unplot {

class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

class TimerScheduler {
public:
    virtual ~TimerScheduler() = default;
    virtual std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::milliseconds interval,
                                                              std::function<void()> tick) = 0;
};

}  // namespace unplot
