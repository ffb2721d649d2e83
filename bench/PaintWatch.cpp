#include "PaintWatch.h"

#include <QEvent>
#include <QListView>

PaintWatch::PaintWatch(QWidget *watched, std::function<bool()> ready, std::function<void()> painted)
    : QObject(watched)
    , m_ready(std::move(ready))
    , m_painted(std::move(painted))
{
    watched->installEventFilter(this);
}

bool PaintWatch::eventFilter(QObject * /*watched*/, QEvent *event)
{
    if (event->type() == QEvent::Paint && !m_seen && m_ready()) {
        m_seen = true;
        // The filter sees the paint before the widget does; the queued call runs once the
        // window's repaint, of which this paint is a part, is over.
        QMetaObject::invokeMethod(this, m_painted, Qt::QueuedConnection);
    }
    return false;
}

bool isLaidOut(QListView *list)
{
    const int rows = list->model()->rowCount();
    return rows == 0 || list->visualRect(list->model()->index(rows - 1, 0)).isValid();
}
