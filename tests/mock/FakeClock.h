#pragma once

#include "Timer.h"

#include <QList>
#include <QTimer>

// Test time for the windows' timers. It stands still until the test advances it; once set
// running, it moves on by itself to the next timer whenever the event loop has nothing else to
// do, so that a window waiting for its timers inside its own modal loop goes on at once.
class FakeClock final : public QObject
{
    Q_OBJECT

public:
    FakeClock();

    TimerFactory factory();
    qint64 now() const { return m_now; }
    // Moves time on, firing the timers that fall due on the way, in order.
    void advance(qint64 milliseconds);
    void setRunning(bool running);

private:
    class FakeTimer;
    // Fires the first timer due by then; false when there is none.
    bool fireNext(qint64 until);
    void jumpWhenIdle();

    QList<FakeTimer *> m_started;
    qint64 m_now = 0;
    bool m_running = false;
    QTimer m_idle;
};
