#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class QWidget;

// Types text as an input method commits it; QTest::keyClicks cannot type Chinese.
void commitText(QWidget *widget, const QString &text);

// Clicks the middle of widget as a user does: the click waits in the window system's queue
// until the event loop takes it, unlike a click sent straight to the widget.
void clickAsUser(QWidget *widget);

// Answers the next dialog of type Dialog from inside its modal loop: call it before the action
// that opens the dialog. Gives up after timeoutMs; deleting the returned timer gives up at once.
template<class Dialog>
QPointer<QTimer> answerNextDialog(std::function<void(Dialog *)> answer, int timeoutMs = 5000)
{
    auto *poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, timeoutMs, waited = 0]() mutable {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (dialog || (waited += poll->interval()) > timeoutMs) {
            poll->stop();
            poll->deleteLater();
        }
        if (dialog)
            answer(dialog);
    });
    poll->start(10);
    return poll;
}

// Dismisses the next message box that opens while it lives, and tells what the box said.
class MessageBoxCatcher final
{
    Q_DISABLE_COPY_MOVE(MessageBoxCatcher)

public:
    MessageBoxCatcher();
    ~MessageBoxCatcher() { delete m_poll.data(); }
    QString text() const { return m_text; }
    QString title() const { return m_title; }
    bool seen() const { return m_seen; }

private:
    bool m_seen = false;
    QString m_text = QStringLiteral("<no message box>");
    QString m_title;
    QPointer<QTimer> m_poll;
};
