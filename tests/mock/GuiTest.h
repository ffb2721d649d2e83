#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class QWidget;

// Types text as an input method commits it; QTest::keyClicks cannot type Chinese.
void commitText(QWidget *widget, const QString &text);

// Answers the next dialog of type Dialog from inside its modal loop: call it before the action
// that opens the dialog. Gives up after timeoutMs; deleting the returned timer gives up at once.
template<class Dialog>
QPointer<QTimer> answerNextDialog(std::function<void(Dialog *)> answer, int timeoutMs = 5000)
{
    auto *poll = new QTimer(qApp);
    auto waited = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, waited, answer, timeoutMs] {
        if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        } else if ((*waited += poll->interval()) > timeoutMs) {
            poll->stop();
            poll->deleteLater();
        }
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
    ~MessageBoxCatcher();
    QString text() const { return m_seen->text; }
    QString title() const { return m_seen->title; }
    bool seen() const { return m_seen->seen; }

private:
    struct Seen
    {
        bool seen = false;
        QString text = QStringLiteral("<no message box>");
        QString title;
    };
    std::shared_ptr<Seen> m_seen = std::make_shared<Seen>();
    QPointer<QTimer> m_poll;
};
