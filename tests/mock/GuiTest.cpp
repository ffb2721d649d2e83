#include "GuiTest.h"

#include <QInputMethodEvent>
#include <QMessageBox>

void commitText(QWidget *widget, const QString &text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(widget, &event);
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
