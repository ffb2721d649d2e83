#pragma once

#include <QApplication>
#include <QString>
#include <QTimer>

#include <functional>

class QWidget;

// Types text as an input method commits it; QTest::keyClicks cannot type Chinese.
void commitText(QWidget *widget, const QString &text);

// Answers the next dialog of type Dialog from inside its modal loop: call it before the action
// that opens the dialog. Gives up after timeoutMs.
template<class Dialog>
void answerNextDialog(std::function<void(Dialog *)> answer, int timeoutMs = 5000)
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
}

// Dismisses the next message box and hands back its text, or "<no message box>" if none came.
class MessageBoxCatcher final
{
public:
    MessageBoxCatcher();
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
};
