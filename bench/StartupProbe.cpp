// Loaded into the real program (LD_PRELOAD) to time its start-up: it closes the splash as soon
// as it has appeared, as a key press would, and writes "painted ROWS" to the standard output
// once the main window's list has painted itself with every title laid out, then ends the
// program. The benchmark times the process from its start to that line.

#include "PaintWatch.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QKeyEvent>
#include <QListView>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

class StartupProbe final : public QObject
{
    Q_DISABLE_COPY_MOVE(StartupProbe)

public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!watched->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        if (event->type() == QEvent::Paint && widget->window()->objectName() == u"frmSplash"_s &&
            !m_splashClosed) {
            m_splashClosed = true;
            QCoreApplication::postEvent(widget->window(), new QKeyEvent(QEvent::KeyPress, Qt::Key_A,
                                                                        Qt::NoModifier, u"a"_s));
        } else if (event->type() == QEvent::Show && widget->objectName() == u"Form1"_s) {
            auto *list = widget->findChild<QListView *>(u"List1"_s);
            new PaintWatch(
                list->viewport(), [list] { return isLaidOut(list); },
                [list] {
                    std::printf("painted %d\n", list->model()->rowCount());
                    std::fflush(stdout);
                    ::_exit(0);
                });
        }
        return false;
    }

private:
    bool m_splashClosed = false;
};

void installProbe()
{
    QCoreApplication::instance()->installEventFilter(
        new StartupProbe(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
