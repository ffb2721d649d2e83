#include "FakeClock.h"

#include <QPointer>

#include <algorithm>
#include <limits>

class FakeClock::FakeTimer final : public Timer
{
public:
    explicit FakeTimer(FakeClock *clock)
        : m_clock(clock)
    {
    }
    ~FakeTimer() override { stop(); }

    void start(int milliseconds) override
    {
        stop();
        due = m_clock->m_now + milliseconds;
        m_clock->m_started.append(this);
        m_clock->jumpWhenIdle();
    }
    void stop() override
    {
        if (m_clock)
            m_clock->m_started.removeOne(this);
    }
    void fire() { Q_EMIT timeout(); }

    qint64 due = 0;

private:
    QPointer<FakeClock> m_clock;
};

FakeClock::FakeClock()
{
    // A timer of no interval fires once the events waiting have been handled.
    m_idle.setSingleShot(true);
    m_idle.setInterval(0);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        fireNext(std::numeric_limits<qint64>::max());
        jumpWhenIdle();
    });
}

TimerFactory FakeClock::factory()
{
    return [this] { return std::make_unique<FakeTimer>(this); };
}

void FakeClock::advance(qint64 milliseconds)
{
    const qint64 until = m_now + milliseconds;
    while (fireNext(until)) {
    }
    m_now = std::max(m_now, until);
}

void FakeClock::setRunning(bool running)
{
    m_running = running;
    jumpWhenIdle();
}

void FakeClock::jumpWhenIdle()
{
    if (m_running && !m_started.isEmpty() && !m_idle.isActive())
        m_idle.start();
}

bool FakeClock::fireNext(qint64 until)
{
    const auto first = std::min_element(m_started.cbegin(), m_started.cend(),
                                        [](auto *a, auto *b) { return a->due < b->due; });
    if (first == m_started.cend() || (*first)->due > until)
        return false;
    FakeTimer *timer = *first;
    m_started.removeOne(timer);
    m_now = std::max(m_now, timer->due);
    timer->fire();
    return true;
}
