#pragma once

#include "DesignedWindow.h"
#include "Environment.h"
#include "LibraryFile.h"
#include "PoemEntry.h"
#include "PoemTitleModel.h"
#include "SharedLibrary.h"
#include "WaveDevice.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CodePage936;
class QLineEdit;

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
    // This window's copy of the library: element 0 is never a poem; poem n is element n.
    const std::vector<PoemRecord> &Poems() const { return m_titles->Poems(); }
    qint32 PoemCount() const { return qint32(Poems().size() - 1); }

    void loadPoems();
    // What the five entry boxes hold.
    PoemEntry entry() const;
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

    std::shared_ptr<const CodePage936> m_codePage;
    PoemTitleModel *m_titles;
    QString DbPath;
    SharedLibrary m_library;

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
