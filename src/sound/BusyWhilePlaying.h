#pragma once

#include <QObject>

class QWidget;

// While a recording plays to its end, the program takes no input: the clicks and keys that a
// child makes meanwhile are thrown away, not carried out once the sound has ended. Windows
// still repaint, timers still run, and the pointer shows that the program is busy. Only a
// widget marked with stayUsableWhilePlaying still gets its clicks and keys.
class BusyWhilePlaying final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BusyWhilePlaying)

public:
    BusyWhilePlaying();
    ~BusyWhilePlaying() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Lets widget, and what lies inside it, be used while a recording plays.
void stayUsableWhilePlaying(QWidget *widget);
