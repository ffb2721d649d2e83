#include "FakeClock.h"

#include <QTimer>

class FakeClock::FakeTimer final : public Timer
{
public:
    explicit FakeTimer(FakeClock &clock)
        : m_clock(clock)
    {
    }

    void start(int milliseconds) override
    {
        due = m_clock.m_now + milliseconds;
        if (m_clock.running) {
            QTimer::singleShot(0, this, [this] {
                if (due >= 0)
                    m_clock.advance(due - m_clock.m_now);
            });
        }
    }
    void stop() override { due = -1; }

    qint64 due = -1; // -1 when stopped

private:
    FakeClock &m_clock;
};

TimerFactory FakeClock::factory()
{
    return [this] {
        auto timer = std::make_unique<FakeTimer>(*this);
        m_timers << timer.get();
        return std::unique_ptr<Timer>(std::move(timer));
    };
}

void FakeClock::advance(qint64 milliseconds)
{
    const qint64 until = m_now + milliseconds;
    for (;;) {
        m_timers.removeAll(nullptr);
        FakeTimer *next = nullptr;
        for (FakeTimer *timer : std::as_const(m_timers)) {
            if (timer->due >= 0 && timer->due <= until && (!next || timer->due < next->due))
                next = timer;
        }
        if (!next)
            break;
        m_now = std::max(m_now, next->due);
        next->due = -1;
        Q_EMIT next->timeout();
    }
    m_now = std::max(m_now, until);
}
