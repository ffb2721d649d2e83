#include "Timer.h"

#include <QTimer>

namespace {

class SystemTimer final : public Timer
{
public:
    SystemTimer()
    {
        m_timer.setSingleShot(true);
        // A coarse timer may fire up to five per cent early; half a second means half a second.
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &Timer::timeout);
    }

    void start(int milliseconds) override { m_timer.start(milliseconds); }
    void stop() override { m_timer.stop(); }

private:
    QTimer m_timer;
};

} // namespace

Timer::~Timer() = default;

std::unique_ptr<Timer> makeSystemTimer()
{
    return std::make_unique<SystemTimer>();
}
