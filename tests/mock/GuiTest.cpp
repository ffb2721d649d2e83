#include "GuiTest.h"

#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

using namespace Qt::StringLiterals;

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

void GuiTest::init()
{
    m_temporary.emplace();
    QVERIFY(m_temporary->isValid());
    const QString application = m_temporary->filePath(u"app"_s);
    QVERIFY(QDir().mkpath(application + u"/sound"_s));
    // Recordings replaced or deleted go to a trash of the test's own.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_temporary->filePath(u"data"_s)));
    m_devices = {};
    m_clock.emplace();
    m_environment = {application, m_devices.factory(), m_clock->factory()};
    m_answers.clear();
    m_onWindow = nullptr;
    m_said.clear();
    m_checked = 0;
    connect(&m_answering, &QTimer::timeout, this, &GuiTest::answerDialogs, Qt::UniqueConnection);
    m_answering.start(10);
}

void GuiTest::cleanup()
{
    m_answering.stop();
    QCOMPARE(m_said.sliced(m_checked), QStringList());
}

void GuiTest::said(const QString &parts)
{
    QVERIFY2(m_checked < m_said.size(), qPrintable(u"no message: "_s + parts));
    const QString message = m_said[m_checked++];
    for (const QString &part : parts.split(u'…'))
        QVERIFY2(message.contains(QString(part).replace(u"<app>"_s, folder())),
                 qPrintable(message));
}

QString GuiTest::answer()
{
    return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
}

void GuiTest::answerDialogs()
{
    QWidget *dialog = QApplication::activeModalWidget();
    if (auto *input = qobject_cast<QInputDialog *>(dialog)) {
        m_said << u"%1: %2 [%3]"_s.arg(input->windowTitle(), input->labelText(),
                                       input->textValue());
        const QString text = answer();
        input->setTextValue(text);
        text.isNull() ? input->reject() : input->accept();
    } else if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
        m_said << box->windowTitle() + u": "_s + box->text();
        // A message without a question is answered with Enter.
        const QString given = box->button(QMessageBox::Yes) ? answer() : u"Enter"_s;
        if (given == u"Enter"_s)
            QTest::keyClick(box, Qt::Key_Return);
        else
            box->button(given == u"是"_s ? QMessageBox::Yes : QMessageBox::No)->click();
    } else if (dialog && m_onWindow) {
        m_onWindow(dialog);
    }
}
