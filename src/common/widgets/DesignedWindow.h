#pragma once

#include <QDialog>

// Converts the designed measures (twips, 15 to a pixel at 96 dpi) to pixels.
constexpr int twips(int value)
{
    return (value + 7) / 15;
}

// The base of the program's windows: a modal dialog of fixed size at its designed place, with
// only a close box in its title bar, that closes only the ways its design gives it. Escape does
// not close it, and no button is pressed by Enter behind the user's back.
class DesignedWindow : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DesignedWindow)

protected:
    explicit DesignedWindow(QWidget *parent);

    // Called at the end of a window's constructor, once its controls exist: fixes the size to
    // the client area laid out by the window, places it (in twips) and turns off default buttons.
    void finishDesign(int leftTwips, int topTwips);

    void keyPressEvent(QKeyEvent *event) override;
};
