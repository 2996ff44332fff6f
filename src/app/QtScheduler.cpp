#include "app/QtScheduler.h"

#include <QTimer>

#include <cmath>

namespace {

class TimerTask final : public Scheduler::Pending {
public:
    TimerTask(double seconds, std::function<void()> block) {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [block = std::move(block)] { block(); });
        m_timer.start(int(std::lround(seconds * 1000)));
    }

private:
    QTimer m_timer; // stopped with the task
};

} // namespace

std::unique_ptr<Scheduler::Pending> QtScheduler::after(double seconds, std::function<void()> block) {
    return std::make_unique<TimerTask>(seconds, std::move(block));
}
