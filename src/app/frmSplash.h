#pragma once

#include "Timer.h"

#include <QDialog>

#include <memory>

class QKeyEvent;

namespace Ui {
class frmSplash;
}

// The first window of a run, shown modally by Main before the main window: the program's
// name, maker, platform and version beside the logo. It closes itself after three seconds, on
// a key that types a character, or on a click on its frame, and Main then goes on.
//
// Unlike the program's other windows it has no title bar, draws its own dialog border, and
// lets Escape close it like any other character key.
class frmSplash final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSplash)

public:
    explicit frmSplash(const TimerFactory &makeTimer, QWidget *parent = nullptr);
    ~frmSplash() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void loadSplash();
    void centreOnScreen();
    void closeSplash();
    bool isOnFrameSurface(QPoint framePosition) const;

    std::unique_ptr<Ui::frmSplash> m_ui;
    std::unique_ptr<Timer> Timer1;
    bool m_loaded = false;
    bool m_pressedOnFrame = false;
};
