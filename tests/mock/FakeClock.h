#pragma once

#include "Timer.h"

#include <QList>
#include <QPointer>

// Test time for the windows' timers: it stands still until the test advances it.
class FakeClock final : public QObject
{
    Q_OBJECT

public:
    TimerFactory factory();
    qint64 now() const { return m_now; }
    // Moves time on, firing the timers that fall due on the way, in order.
    void advance(qint64 milliseconds);

    // When set, time jumps to a timer as soon as the events waiting when it started have been
    // handled, so that a window waiting for its timers inside its own modal loop goes on at once.
    bool running = false;

private:
    class FakeTimer;
    QList<QPointer<FakeTimer>> m_timers;
    qint64 m_now = 0;
};
