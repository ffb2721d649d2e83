#include "DesignedWindow.h"

#include <QKeyEvent>
#include <QPushButton>

DesignedWindow::DesignedWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
}

void DesignedWindow::finishDesign(int leftTwips, int topTwips)
{
    setFixedSize(size());
    move(twips(leftTwips), twips(topTwips));
    for (QPushButton *button : findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

void DesignedWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
