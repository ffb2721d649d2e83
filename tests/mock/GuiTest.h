#pragma once

#include "Environment.h"
#include "FakeClock.h"
#include "FakeWaveDevice.h"

#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <optional>

// Clicks the middle of widget as a user does: the click waits in the window system's queue
// until the event loop takes it, unlike a click sent straight to the widget.
void clickAsUser(QWidget *widget);

// The base of the window tests: each test function gets a fresh application folder with a
// sound folder, fake wave devices, a clock that stands still, and every message box and input
// box answered, what they said kept for said(); any other modal window is handed to m_onWindow.
class GuiTest : public QObject
{
    Q_OBJECT

protected:
    QString folder() const { return m_environment.applicationFolder; }
    QString temporaryPath(const QString &name) const { return m_temporary->filePath(name); }

    // Checks the next message not yet checked, "title: text" (an input box's: "title: label
    // [default]"): it holds every part of parts, separated by '…'; <app> is the folder.
    void said(const QString &parts);
    // The answer to the next question: 是, 否 or Enter (the button that Enter presses); for
    // an input box the text, null to cancel. By default the next of m_answers, else null (否).
    virtual QString answer();

    Environment m_environment;
    FakeDevices m_devices;
    std::optional<FakeClock> m_clock;
    QStringList m_answers;
    std::function<void(QWidget *)> m_onWindow;

protected Q_SLOTS:
    void init();
    // Fails the test when a message was not checked.
    void cleanup();

private:
    void answerDialogs();

    std::optional<QTemporaryDir> m_temporary;
    QTimer m_answering;
    QStringList m_said;
    qsizetype m_checked = 0;
};
