#include "BusyWhilePlaying.h"

#include <QApplication>
#include <QWidget>

namespace {

const char UsableWhilePlaying[] = "kavendoUsableWhilePlaying";

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

bool isUsable(const QWidget *widget)
{
    for (; widget; widget = widget->parentWidget()) {
        if (widget->property(UsableWhilePlaying).toBool())
            return true;
    }
    return false;
}

} // namespace

BusyWhilePlaying::BusyWhilePlaying()
{
    qApp->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

BusyWhilePlaying::~BusyWhilePlaying()
{
    // A click made just before the sound ended may still wait in the window system's queue;
    // it is thrown away with the rest.
    QCoreApplication::processEvents();
    QApplication::restoreOverrideCursor();
}

bool BusyWhilePlaying::eventFilter(QObject *watched, QEvent *event)
{
    // Input reaches a window first and is then passed on to the widget under the pointer or
    // with the focus; it is judged there.
    if (isUserInput(event->type()) && watched->isWidgetType())
        return !isUsable(static_cast<QWidget *>(watched));
    return false;
}

void stayUsableWhilePlaying(QWidget *widget)
{
    widget->setProperty(UsableWhilePlaying, true);
}
