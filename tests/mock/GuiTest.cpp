#include "GuiTest.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QInputDialog>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

using namespace Qt::StringLiterals;

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

namespace {

// The window whose controls the rows being added describe.
QByteArray lookWindow;

QRect pixels(QRect twips)
{
    const auto px = [](int value) { return qRound(value / 15.0); };
    return {px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())};
}

QString captionOf(const QWidget *control)
{
    const QVariant text = control->property("text"), title = control->property("title");
    return text.isValid()    ? text.toString()
           : title.isValid() ? title.toString()
                             : control->toolTip();
}

QString fontOf(const QWidget *control)
{
    const QFont font = control->font();
    if (font == control->window()->font())
        return {};
    return u"%1 %2%3"_s.arg(font.family())
        .arg(font.pointSizeF())
        .arg(font.bold() ? u" bold"_s : u""_s);
}

// The controls that Tab visits, in order; a control may take the focus in a part of it.
int tabPosition(QWidget *window, const QWidget *control)
{
    const auto holdsControls = [window](const QWidget *widget) {
        const QMetaObject *type = widget->metaObject();
        return widget == window || type == &QWidget::staticMetaObject ||
               type == &QFrame::staticMetaObject || type == &QGroupBox::staticMetaObject;
    };
    QList<const QWidget *> order;
    for (QWidget *part = window->nextInFocusChain(); part != window;
         part = part->nextInFocusChain()) {
        if (!(part->focusPolicy() & Qt::TabFocus) || !part->isVisibleTo(window))
            continue;
        const QWidget *visited = part;
        while (!holdsControls(visited->parentWidget()))
            visited = visited->parentWidget();
        if (order.isEmpty() || order.last() != visited)
            order << visited;
    }
    return int(order.indexOf(control));
}

void verifyWindow(QWidget *window, const QString &title, QRect twips)
{
    const QRect designed = pixels(twips);
    QCOMPARE(window->size(), designed.size());
    QCOMPARE(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    if (twips.x() < 0) {
        const QPoint offCentre =
            window->frameGeometry().center() - window->screen()->geometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 1, "not centred on the screen");
        QVERIFY(flags.testFlags(Qt::FramelessWindowHint | Qt::Tool));
    } else {
        QCOMPARE(window->pos(), designed.topLeft());
        const Qt::WindowFlags titleBar = Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
        QCOMPARE(flags & (Qt::CustomizeWindowHint | titleBar | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowContextHelpButtonHint),
                 Qt::CustomizeWindowHint | titleBar);
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY2(window->isVisible(), "closed by Escape");
    }
    QCOMPARE(window->windowTitle(), title);
    QCOMPARE(tabPosition(window, window->focusWidget()), 0);
    for (const QPushButton *button : window->findChildren<QPushButton *>())
        QVERIFY2(!button->isDefault() && !button->autoDefault(), qPrintable(button->objectName()));
}

} // namespace

void addLookColumns()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("font");
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("state");
}

void addWindowLook(const char *window, const QString &title, QRect twips)
{
    lookWindow = window;
    QTest::newRow(window) << title << twips << QString() << -1 << u"on"_s;
}

void addLook(const char *name, const QString &caption, QRect twips, const QString &font, int tab,
             const QString &state)
{
    QTest::addRow("%s %s", lookWindow.constData(), name)
        << caption << twips << font << tab << state;
}

QString lookedAtWindow()
{
    return QString::fromLatin1(QTest::currentDataTag()).section(u' ', 0, 0);
}

void verifyLook(QWidget *window)
{
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    QFETCH(QString, font);
    QFETCH(int, tab);
    QFETCH(QString, state);
    const QString name = QString::fromLatin1(QTest::currentDataTag()).section(u' ', -1);
    if (name == window->objectName())
        return verifyWindow(window, caption, twips);

    auto *control = window->findChild<QWidget *>(name);
    QVERIFY2(control, "no such control");
    QCOMPARE(captionOf(control), caption);
    const QRect designed = pixels(twips);
    if (state == u"sized"_s) {
        QCOMPARE(control->size(), control->sizeHint());
        const bool right = qobject_cast<QLabel *>(control)->alignment() & Qt::AlignRight;
        QCOMPARE(right ? control->geometry().topRight() : control->pos(),
                 right ? designed.topRight() : designed.topLeft());
    } else {
        QCOMPARE(control->geometry(), designed);
    }
    QCOMPARE(fontOf(control), font);
    QCOMPARE(tabPosition(window, control), tab);
    const QString shown = !control->isVisibleTo(window) ? u"hidden"_s
                          : control->isEnabled()        ? u"on"_s
                                                        : u"off"_s;
    QCOMPARE(shown, state == u"sized"_s ? u"on"_s : state);
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
        if (!box->button(QMessageBox::Yes))
            return box->button(QMessageBox::Ok)->click();
        const QString given = answer();
        if (given == u"Enter"_s)
            QTest::keyClick(box, Qt::Key_Return);
        else
            box->button(given == u"是"_s ? QMessageBox::Yes : QMessageBox::No)->click();
    } else if (dialog && m_onWindow) {
        m_onWindow(dialog);
    }
}
