#include "GuiTest.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QMessageBox>
#include <QWidget>

void commitText(QWidget *widget, const QString &text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(widget, &event);
}

MessageBoxCatcher::MessageBoxCatcher()
{
    m_poll = answerNextDialog<QMessageBox>([seen = m_seen](QMessageBox *box) {
        seen->seen = true;
        seen->text = box->text();
        seen->title = box->windowTitle();
        box->button(box->standardButtons().testFlag(QMessageBox::Ok) ? QMessageBox::Ok
                                                                     : QMessageBox::No)
            ->click();
    });
}

MessageBoxCatcher::~MessageBoxCatcher()
{
    delete m_poll.data();
}
