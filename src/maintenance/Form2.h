#pragma once

#include "DesignedWindow.h"
#include "Environment.h"
#include "LibraryFile.h"
#include "PoemRecord.h"
#include "SharedLibrary.h"
#include "WaveDevice.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLineEdit;
class PoemTitleModel;

namespace Ui {
class Form2;
}

// The maintenance window ("Kavendo——系统维护"): an adult adds a poem and records it, deletes a
// poem with its recording, and returns to the main window, which then reloads the library that
// this window has rewritten. It works on a copy of the library of its own.
class Form2 final : public DesignedWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form2)

public:
    // Init_Me is the main window's reload, called once 返回 has rewritten the library.
    Form2(const Environment &environment, std::function<void()> Init_Me, QWidget *parent = nullptr);
    ~Form2() override;

    void done(int result) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    qint32 PoemCount() const { return qint32(Poems.size() - 1); }

    void loadPoems();
    void checkEntry(int box, const QString &text);
    std::optional<QString> refusalOfEntry() const;
    void addPoem();
    std::optional<DeviceError> arm(const QString &title);
    void disarm();
    void armSelectedPoem();
    void recordingDone(WaveDevice::NotifyCode code);
    void finishTake();
    // Whether the take is now in its file.
    bool saveTake();
    void deletePoem();
    void showHelp();
    void returnToMainWindow();
    // Rewrites the library with this window's copy, without poem `deleted` unless it is 0.
    LibraryError SaveLibrary(qint32 deleted = 0);

    std::unique_ptr<Ui::Form2> m_ui;
    // The four line boxes, Text2_0 … Text2_3.
    std::array<QLineEdit *, 4> Text2{};
    QString m_applicationFolder;
    std::function<void()> Init_Me;

    std::vector<PoemRecord> Poems{1};
    PoemTitleModel *m_titles;
    QString DbPath;
    SharedLibrary m_library;
    // Whether the title box (1) and the line boxes (2 to 5) hold more than spaces; 0 is unused.
    std::array<bool, 6> Filled{};

    // Why the library could not be read; while set, this window never rewrites the file, so an
    // unreadable library is not replaced by the empty copy shown here.
    std::optional<QString> m_loadError;
    bool m_loadErrorShown = false;
    bool m_addedSinceRewrite = false;
    // The recording path MMControl1 is armed for: the poem a take is saved for, and the
    // recording that ▶ plays. Empty while the device is closed.
    QString m_armedPath;
    bool m_handlingDoubleClick = false;
};
