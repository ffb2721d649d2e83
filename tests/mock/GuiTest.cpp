#include "GuiTest.h"

#include <QInputMethodEvent>
#include <QMessageBox>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

void commitText(QWidget *widget, const QString &text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(widget, &event);
}

void clickAsUser(QWidget *widget)
{
    QWindow *window = widget->window()->windowHandle();
    const QPointF local = widget->mapTo(widget->window(), widget->rect().center());
    const QPointF global = window->mapToGlobal(local);
    using Input = QWindowSystemInterface;
    Input::handleMouseEvent<Input::AsynchronousDelivery>(window, local, global, Qt::LeftButton,
                                                         Qt::LeftButton, QEvent::MouseButtonPress);
    Input::handleMouseEvent<Input::AsynchronousDelivery>(
        window, local, global, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
}

MessageBoxCatcher::MessageBoxCatcher()
    : m_poll(answerNextDialog<QMessageBox>([this](QMessageBox *box) {
        m_seen = true;
        m_text = box->text();
        m_title = box->windowTitle();
        box->reject(); // "No" where there is a choice
    }))
{
}
