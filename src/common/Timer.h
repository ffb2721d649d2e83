#pragma once

#include <QObject>

#include <functional>
#include <memory>

// A one-shot timer of a window. Windows take their timers from their Environment, so that a
// test can run them in its own time instead of waiting real seconds.
class Timer : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Timer)

public:
    ~Timer() override;

    // Emits timeout() once, this many milliseconds from now; a timer that runs starts over.
    virtual void start(int milliseconds) = 0;
    virtual void stop() = 0;

Q_SIGNALS:
    void timeout();

protected:
    Timer() = default;
};

using TimerFactory = std::function<std::unique_ptr<Timer>()>;

// A timer of real time.
std::unique_ptr<Timer> makeSystemTimer();
