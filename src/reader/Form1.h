#pragma once

#include "DesignedWindow.h"
#include "Environment.h"
#include "PoemTitleModel.h"

#include <array>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class CodePage936;

namespace Ui {
class Form1;
}

// The main window: the poem list, one poem shown large, next and previous, reading aloud,
// continuous reading and the way into maintenance.
class Form1 final : public DesignedWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form1)

public:
    explicit Form1(const Environment &environment, QWidget *parent = nullptr);
    ~Form1() override;

    // Reloads the library from its file and shows poem 1, or nothing when it is empty.
    void Init_Me();

    // Stop flag of continuous reading: the playback window's 停止朗读 sets it, the reading
    // loop tests it before each poem.
    bool LxLdBz = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // This window's copy of the library: element 0 is never a poem; poem N is element N.
    const std::vector<PoemRecord> &Poems() const { return m_titles->Poems(); }
    qint32 PoemCount() const { return qint32(Poems().size()) - 1; }
    // Brings the buttons, the counters and the display in line with CurrentPoem.
    void ShowCurrentPoem();

    void readAloud();
    void showNext();
    void showPrevious();
    void showHelp();
    void openMaintenance();
    void readContinuously();
    void showDoubleClickedPoem();

    std::unique_ptr<Ui::Form1> m_ui;
    Environment m_environment;
    std::array<QPushButton *, 5> Command1;
    std::array<QLabel *, 2> Label2;
    std::shared_ptr<const CodePage936> m_codePage;
    PoemTitleModel *m_titles;
    // The number of the poem shown, 0 when none.
    qint32 CurrentPoem = 0;
};
