#include "Form2.h"

#include "ui_Form2.h"

#include "CallSequences.h"
#include "CodePage936.h"
#include "Dialogs.h"
#include "Fonts.h"
#include "NativePath.h"
#include "RecordingTrash.h"
#include "SoundPath.h"
#include "Trim.h"

#include <QCloseEvent>
#include <QColor>
#include <QCoreApplication>
#include <QTimer>
#include <QValidator>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// How the list marks a poem that has no recording yet.
const QColor NotRecordedColour(0xb0, 0x3a, 0x2e);

const QString HelpText =
    u"1. 录入新诗词时，一定为4言诗！\n2. 必须在诗词目录中双击选中待删诗词后才能删除！"_s;

// Accepts no more than the library file keeps of a title.
class TitleValidator final : public QValidator
{
public:
    TitleValidator(std::shared_ptr<const CodePage936> codePage, QObject *parent)
        : QValidator(parent)
        , m_codePage(std::move(codePage))
    {
    }

    State validate(QString &input, int & /*position*/) const override
    {
        return titleFits(input, *m_codePage) ? Acceptable : Invalid;
    }

private:
    std::shared_ptr<const CodePage936> m_codePage;
};

QString deviceReason(const DeviceError &error)
{
    QString reason;
    switch (error.kind) {
    case DeviceError::Kind::MissingFile:
        reason = u"找不到录音文件"_s;
        break;
    case DeviceError::Kind::UnreadableFile:
        reason = u"录音文件无法读取"_s;
        break;
    case DeviceError::Kind::NoDevice:
        reason = u"没有可用的录音设备"_s;
        break;
    case DeviceError::Kind::WriteFailed:
        reason = u"无法写入录音文件"_s;
        break;
    case DeviceError::Kind::NotReady:
        reason = u"录音设备还没有准备好"_s;
        break;
    case DeviceError::Kind::NoSound:
        reason = u"没有录到声音"_s;
        break;
    }
    return error.detail.isEmpty() ? reason : u"%1：%2"_s.arg(reason, error.detail);
}

} // namespace

Form2::Form2(const Environment &environment, std::function<void()> reloadMainWindow,
             QWidget *parent)
    : DesignedWindow(parent)
    , m_ui(std::make_unique<Ui::Form2>())
    , m_applicationFolder(environment.applicationFolder)
    , Init_Me(std::move(reloadMainWindow))
    , m_codePage(std::make_shared<const CodePage936>())
    , m_titles(new PoemTitleModel(this))
{
    m_ui->setupUi(this);
    Text2 = {m_ui->Text2_0, m_ui->Text2_1, m_ui->Text2_2, m_ui->Text2_3};

    m_ui->List1->setFont(songTi(12));
    m_titles->setMark(
        [this](const PoemRecord &poem) {
            return locateRecording(SoundPath(m_applicationFolder, poem.Title())).isEmpty();
        },
        {{Qt::ForegroundRole, NotRecordedColour}, {Qt::ToolTipRole, u"还没有录音"_s}});
    m_ui->List1->setModel(m_titles);
    m_ui->List1->viewport()->installEventFilter(this);
    m_ui->List1->installEventFilter(this);
    connect(m_ui->List1->selectionModel(), &QItemSelectionModel::selectionChanged, m_ui->Command2,
            [button = m_ui->Command2] { button->setEnabled(false); });

    m_ui->Text1->setValidator(new TitleValidator(m_codePage, m_ui->Text1));
    for (QLineEdit *box : {m_ui->Text1, Text2[0], Text2[1], Text2[2], Text2[3]}) {
        connect(box, &QLineEdit::textChanged, m_ui->Command1,
                [this] { m_ui->Command1->setEnabled(isFilled(entry())); });
    }

    m_ui->MMControl1->setDevice(environment.makeWaveDevice());
    connect(m_ui->MMControl1, &WaveDeviceControl::Done, this, &Form2::recordingDone);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Form2::addPoem);
    connect(m_ui->Command2, &QPushButton::clicked, this, &Form2::deletePoem);
    connect(m_ui->Command3, &QPushButton::clicked, this, &Form2::showHelp);
    connect(m_ui->Command4, &QPushButton::clicked, this, &Form2::returnToMainWindow);

    loadPoems();
    m_ui->List1->setFocus();
    finishDesign(3315, 2310);
}

Form2::~Form2() = default;

// However the window goes, a take that is running is saved first, and the device is released.
void Form2::done(int result)
{
    finishTake();
    disarm();
    DesignedWindow::done(result);
}

bool Form2::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->List1->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            m_ui->Command2->setEnabled(false);
        } else if (event->type() == QEvent::MouseButtonDblClick && !m_handlingDoubleClick) {
            // The list first selects what was double-clicked (which disarms 删除已存诗词); the
            // double-click then arms it, also on the empty part of the list.
            m_handlingDoubleClick = true;
            QCoreApplication::sendEvent(watched, event);
            m_handlingDoubleClick = false;
            m_ui->Command2->setEnabled(true);
            armSelectedPoem();
            event->accept();
            return true;
        }
    } else if (watched == m_ui->List1 && event->type() == QEvent::KeyPress) {
        m_ui->Command2->setEnabled(false);
    }
    return DesignedWindow::eventFilter(watched, event);
}

void Form2::showEvent(QShowEvent *event)
{
    DesignedWindow::showEvent(event);
    if (m_loadError && !m_loadErrorShown) {
        m_loadErrorShown = true;
        QTimer::singleShot(0, this, [this] {
            Dialogs::information(
                this,
                *m_loadError + u"\n诗词目录暂时是空的，为免覆盖原有的诗词，这次不会保存诗词库。"_s);
        });
    }
}

void Form2::closeEvent(QCloseEvent *event)
{
    finishTake();
    if (m_addedSinceRewrite &&
        !Dialogs::askYesNo(this,
                           u"新录入的诗词还没有存入诗词库，关闭窗口后它们不会被保留。\n"
                           u"要保留它们，请按“否”，再按“返回”。\n仍要关闭吗？"_s,
                           Dialogs::SafeAnswer::No)) {
        event->ignore();
        return;
    }
    DesignedWindow::closeEvent(event);
}

void Form2::loadPoems()
{
    DbPath = LibraryFile(m_applicationFolder);
    LoadedLibrary loaded = m_library.load(DbPath, m_codePage);
    m_loadError = loaded.error;
    m_titles->reload(std::move(loaded.Poems), PoemTitleModel::Shown::Trimmed);

    m_ui->Command1->setEnabled(false);
    m_ui->Command2->setEnabled(false);
}

PoemEntry Form2::entry() const
{
    return {m_ui->Text1->text(),
            {Text2[0]->text(), Text2[1]->text(), Text2[2]->text(), Text2[3]->text()}};
}

void Form2::addPoem()
{
    const PoemEntry typed = entry();
    if (const auto refusal = refusalOfEntry(typed, *m_codePage)) {
        Dialogs::information(this, *refusal);
        return;
    }
    finishTake();

    m_ui->Command1->setEnabled(false);
    m_titles->append(poemOf(typed, m_codePage));
    m_addedSinceRewrite = true;

    const QString title = trimSpaces(typed.title);
    if (const auto armFailure = arm(title)) {
        Dialogs::information(
            this, u"《%1》已录入，但现在无法录音（%2）。"_s.arg(title, deviceReason(*armFailure)));
    }
}

// Readies MMControl1 for recording the poem of this title and listening to its recording,
// once any take that is running has been saved under its own poem.
std::optional<DeviceError> Form2::arm(const QString &title)
{
    finishTake();
    const QString soundPath = SoundPath(m_applicationFolder, title);
    // A title from a library made elsewhere may name no file in the sound folder at all.
    if (!isRecordingPath(soundPath)) {
        disarm();
        return std::nullopt;
    }
    const auto failure = armRecording(*m_ui->MMControl1, soundPath);
    m_armedPath = m_ui->MMControl1->mode() == WaveDevice::Mode::Closed ? QString() : soundPath;
    return failure;
}

void Form2::disarm()
{
    closeDevice(*m_ui->MMControl1);
    m_armedPath.clear();
}

// A double-click on a poem is how a parent records it again, or listens to it; without a sound
// input the control says so itself, so no message interrupts deleting.
void Form2::armSelectedPoem()
{
    const QModelIndexList selected = m_ui->List1->selectionModel()->selectedIndexes();
    if (!selected.isEmpty())
        arm(Poems()[size_t(selected.first().row()) + 1].Title());
}

void Form2::recordingDone(WaveDevice::NotifyCode code)
{
    // The take ended with the Stop button or by itself, or the sound input broke it off; the ends
    // of other commands leave the device as it is.
    if (code != WaveDevice::NotifyAborted && code != WaveDevice::NotifyFailure)
        return;
    const std::optional<DeviceError> brokenOff = m_ui->MMControl1->error();
    const QString armedPath = m_armedPath;
    const bool saved = saveTake();
    // A take that breaks off is never dropped without a word: what came before is saved, as ■
    // would have saved it, and the parent learns why the recording stopped.
    if (code == WaveDevice::NotifyFailure && !armedPath.isEmpty()) {
        const QString title = recordingTitle(armedPath);
        Dialogs::information(this,
                             u"录制《%1》时录音设备出了故障（%2），录音中断了。\n%3"_s.arg(
                                 title, brokenOff ? brokenOff->detail : u"录音设备出错"_s,
                                 saved ? u"中断前录下的声音已经保存，请听一听，需要时重新录音。"_s
                                       : u"没有保存下录音，请检查麦克风后重新录音。"_s));
    }
}

// Ends a take that is running as its Stop button would, and saves it. The device's own report
// of the stop comes later and then finds nothing left to save.
void Form2::finishTake()
{
    if (m_ui->MMControl1->mode() == WaveDevice::Mode::Recording)
        m_ui->MMControl1->stop();
    saveTake();
}

// Saves the take under the poem it was recorded for, and stays armed for that poem so that it
// can be listened to or recorded again. A take that cannot be saved is kept for as long as the
// parent wants to try again, for example once a full disk has room.
bool Form2::saveTake()
{
    WaveDeviceControl &control = *m_ui->MMControl1;
    if (m_armedPath.isEmpty() || control.mode() != WaveDevice::Mode::Open || control.Length() == 0)
        return false;
    const qint64 length = control.Length();
    while (const auto failure = saveRecording(control)) {
        if (failure->kind == DeviceError::Kind::NoSound) {
            control.showNoSound();
            return false;
        }
        if (!Dialogs::askYesNo(
                this,
                u"无法保存录音：%1（%2）。\n这段录音还在，排除问题后可以再保存。"
                u"\n再试一次？"_s.arg(displayPath(m_armedPath), deviceReason(*failure)),
                // Giving up drops the take.
                Dialogs::SafeAnswer::Yes)) {
            armRecording(control, m_armedPath);
            return false;
        }
    }
    m_titles->refreshMarks();
    armRecording(control, m_armedPath);
    control.showSaved(length);
    return true;
}

void Form2::deletePoem()
{
    m_ui->Command2->setEnabled(false);
    const QModelIndexList selected = m_ui->List1->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    finishTake();

    const qint32 n = selected.first().row() + 1;
    m_ui->Text3->setText(Poems()[n].Title());
    const QString soundPath = SoundPath(m_applicationFolder, m_ui->Text3->text());

    // The file is rewritten before anything else is touched, so a deletion the disk refuses
    // leaves the poem, the list and the recording as they were.
    if (const auto failure = SaveLibrary(n)) {
        Dialogs::information(this, *failure + u"\n诗词没有删除。"_s);
        return;
    }

    // Poems of the same title share their recording; a title that names no file has none.
    const QString title = trimSpaces(m_ui->Text3->text());
    if (soundPath.isEmpty() ||
        std::any_of(Poems().begin() + 1, Poems().end(),
                    [&](const PoemRecord &poem) { return trimSpaces(poem.Title()) == title; }))
        return;
    if (m_armedPath == soundPath)
        disarm();
    if (const std::optional<QString> failure = deleteRecording(soundPath))
        Dialogs::information(this, u"诗词已删除，但无法删除它的录音：%1"_s.arg(*failure));
}

void Form2::showHelp()
{
    Dialogs::information(this, HelpText);
}

void Form2::returnToMainWindow()
{
    finishTake();
    if (const auto failure = SaveLibrary()) {
        Dialogs::information(this, *failure);
        return;
    }
    if (Init_Me)
        Init_Me();
    accept();
}

LibraryError Form2::SaveLibrary(qint32 deleted)
{
    if (m_loadError)
        return *m_loadError + u"\n诗词库没有读出来，为免覆盖其中的诗词，现在不能保存。"_s;
    SharedLibrary::Rewrite rewrite = m_library.save(Poems(), deleted);
    if (rewrite.error)
        return rewrite.error;
    m_addedSinceRewrite = false;
    if (rewrite.merged) {
        m_titles->reload(std::move(*rewrite.merged), PoemTitleModel::Shown::AsStored);
        Dialogs::information(this,
                             u"诗词库在这个窗口打开以后被别处改动过（也许是另一个 Kavendo）。"
                             u"两边的改动已经合在一起，诗词库现在共 %1 首。"_s.arg(PoemCount()));
    } else if (deleted != 0) {
        m_titles->remove(deleted);
    }
    return std::nullopt;
}
