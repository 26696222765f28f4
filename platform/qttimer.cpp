#include "qttimer.h"

#include <QTimer>

namespace unplot {
namespace {

class QtRepeatingTimer final : public RepeatingTimer {
public:
    QtRepeatingTimer(std::chrono::milliseconds interval, std::function<void()> tick) : tick_(std::move(tick))
    {
        timer_.setTimerType(Qt::CoarseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (timer_.isActive())
                tick_();
        });
        timer_.start(interval);
    }
    void invalidate() override { timer_.stop(); }
    bool isValid() const override { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<void()> tick_;
};

}  // namespace

std::unique_ptr<RepeatingTimer> QtTimerScheduler::scheduleRepeating(std::chrono::milliseconds interval,
                                                                    std::function<void()> tick)
{
    return std::make_unique<QtRepeatingTimer>(interval, std::move(tick));
}

}  // namespace unplot
