#pragma once

#include "DesignedWindow.h"
#include "Environment.h"
#include "Phrases.h"
#include "Timer.h"

#include <memory>

namespace Ui {
class Form3;
}

// The playback window of continuous reading: reads one poem aloud about half a second after it
// opens and closes itself about half a second after the recording has ended. Its 停止朗读 asks
// the run to stop after this poem; the recording itself is never cut short.
class Form3 final : public DesignedWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form3)

public:
    // stopFlag is the main window's LxLdBz, which 停止朗读 sets.
    Form3(const Environment &environment, bool &stopFlag, QWidget *parent = nullptr);
    ~Form3() override;

    // The poem to read, by its title as stored.
    void setPoemTitle(const QString &storedTitle);
    // How many characters its title and lines have, and whether to pause after each for the
    // child to say it again (跟读).
    void setReading(const PoemShape &shape, bool readAfterMe);

Q_SIGNALS:
    // The part of the poem being heard: 0 the title, 1 to 4 the lines, -1 none.
    void partHeard(int part);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void play();
    void askToStop();
    void finish();

    std::unique_ptr<Ui::Form3> m_ui;
    QString m_applicationFolder;
    bool &LxLdBz;
    // Start timer: reads the poem.
    std::unique_ptr<Timer> Timer1;
    // Close timer: closes the device and the window.
    std::unique_ptr<Timer> Timer2;
};
