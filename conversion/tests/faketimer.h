#pragma once
// A timer scheduler for controller tests: nothing ticks by itself; a test fires the timer by hand.

#include "timer.h"

#include <memory>
#include <vector>

namespace unplot::test {

class FakeTimerScheduler final : public TimerScheduler {
public:
    struct State {
        std::chrono::milliseconds interval{};
        std::function<void()> tick;
        bool valid = true; // false once invalidated or destroyed
    };

    std::vector<std::shared_ptr<State>> scheduled;

    std::unique_ptr<RepeatingTimer> scheduleRepeating(std::chrono::milliseconds interval,
                                                      std::function<void()> tick) override
    {
        auto state = std::make_shared<State>(State{interval, std::move(tick), true});
        scheduled.push_back(state);
        return std::make_unique<Timer>(state);
    }

    // Fires the latest timer `times` times; an invalidated timer does not tick.
    void fire(int times = 1)
    {
        for (int i = 0; i < times && !scheduled.empty(); ++i) {
            const std::shared_ptr<State> state = scheduled.back();
            if (state->valid)
                state->tick();
        }
    }
    bool running() const { return !scheduled.empty() && scheduled.back()->valid; }

private:
    class Timer final : public RepeatingTimer {
    public:
        explicit Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}
        ~Timer() override { state_->valid = false; }
        Timer(const Timer&) = delete;
        Timer& operator=(const Timer&) = delete;
        void invalidate() override { state_->valid = false; }
        bool isValid() const override { return state_->valid; }

    private:
        std::shared_ptr<State> state_;
    };
};

} // namespace unplot::test
