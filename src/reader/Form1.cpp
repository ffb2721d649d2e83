#include "Form1.h"
#include "ui_Form1.h"

#include "ApplicationInfo.h"
#include "CallSequences.h"
#include "CodePage936.h"
#include "Dialogs.h"
#include "Fonts.h"
#include "Form2.h"
#include "Form3.h"
#include "LibraryFile.h"
#include "NativePath.h"
#include "Phrases.h"
#include "PoemDisplay.h"
#include "RepeatCount.h"
#include "SoundPath.h"
#include "Trim.h"
#include "WaveDeviceControl.h"

#include <QEvent>

namespace {

const QString HelpText = QStringLiteral(
    "1. 双击左边“诗词目录”中的诗名，就能看到这首诗。\n"
    "2. 按“朗读”听这首诗，按“下一首”“上一首”翻看诗词。\n"
    "3. 按“连续朗读”，输入遍数，就能把所有诗词读若干遍；按“停止朗读”读完当前这首后停下。\n"
    "4. 家长可在“系统维护”中录入新诗词并录音，或删除诗词。");

QString playbackFailure(const DeviceError &error, const QString &title, const QString &path)
{
    const QString where = displayPath(path);
    switch (error.kind) {
    case DeviceError::Kind::MissingFile:
        if (path.isEmpty()) // see SoundPath
            return QStringLiteral("《%1》没有录音：这个诗名不能用作录音文件的名字").arg(title);
        return QStringLiteral("没有找到《%1》的录音：%2").arg(title, where);
    case DeviceError::Kind::NoDevice:
        return QStringLiteral("没有可用的放音设备，无法朗读《%1》。请检查音箱或耳机（%2）")
            .arg(title, error.detail);
    default:
        return QStringLiteral("无法播放《%1》的录音：%2（%3）").arg(title, where, error.detail);
    }
}

PoemShape shapeOf(const PoemRecord &poem)
{
    return poemShape(poem.Title(), {poem.Lines(1), poem.Lines(2), poem.Lines(3), poem.Lines(4)});
}

// A library far larger than the program ever writes, made elsewhere, still has its count shown
// whole, in smaller digits.
void showCount(QLabel *counter, const QString &text)
{
    counter->setText(text);
    counter->setFont(fittedFont(songTi(14.25), text, counter->contentsRect().width(), counter));
}

} // namespace

Form1::Form1(const Environment &environment, QWidget *parent)
    : DesignedWindow(parent)
    , m_ui(std::make_unique<Ui::Form1>())
    , m_environment(environment)
    , m_codePage(std::make_shared<const CodePage936>())
    , m_titles(new PoemTitleModel(this))
{
    m_ui->setupUi(this);
    Command1 = {m_ui->Command1_0, m_ui->Command1_1, m_ui->Command1_2, m_ui->Command1_3,
                m_ui->Command1_4};
    Label2 = {m_ui->Label2_0, m_ui->Label2_1};

    QPalette display = m_ui->Label1->palette();
    display.setColor(QPalette::Window, QColor(0, 128, 128));
    display.setColor(QPalette::WindowText, Qt::white);
    m_ui->Label1->setPalette(display);
    m_ui->Label1->setFont(songTi(39.75));
    m_ui->Label4->setFont(songTi(12));
    m_ui->List1->setFont(songTi(12));
    m_ui->Label5->setText(QStringLiteral("版本：") + QString::fromUtf8(ApplicationInfo::Version));
    m_ui->List1->setModel(m_titles);
    m_ui->List1->viewport()->installEventFilter(this);

    m_ui->MMControl1->setDevice(m_environment.makeWaveDevice());
    m_ui->MMControl1->setDeviceType(QStringLiteral("waveaudio"));

    connect(Command1[0], &QPushButton::clicked, this, &Form1::readAloud);
    connect(Command1[1], &QPushButton::clicked, this, &Form1::showNext);
    connect(Command1[2], &QPushButton::clicked, this, &Form1::showPrevious);
    connect(Command1[3], &QPushButton::clicked, this, &Form1::showHelp);
    connect(Command1[4], &QPushButton::clicked, this, &Form1::openMaintenance);
    connect(m_ui->Command2, &QPushButton::clicked, this, &Form1::readContinuously);
    connect(m_ui->MMControl1, &WaveDeviceControl::partHeard, m_ui->Label1,
            &PoemDisplay::setHighlightedPart);

    finishDesign(270, 1425);
    Init_Me();
}

Form1::~Form1() = default;

void Form1::Init_Me()
{
    LoadedLibrary library = loadLibrary(LibraryFile(m_environment.applicationFolder), m_codePage);
    m_titles->reload(std::move(library.Poems), PoemTitleModel::Shown::AsStored);
    CurrentPoem = PoemCount() != 0 ? 1 : 0;
    ShowCurrentPoem();
    if (library.error)
        Dialogs::information(this, *library.error);
}

void Form1::ShowCurrentPoem()
{
    if (CurrentPoem != 0)
        Command1[0]->setEnabled(true);
    Command1[1]->setEnabled(CurrentPoem < PoemCount());
    Command1[2]->setEnabled(CurrentPoem >= 2);
    if (CurrentPoem == 0) {
        for (int i : {0, 1, 2})
            Command1[i]->setEnabled(false);
    }
    showCount(Label2[0], QStringLiteral("共%1首").arg(PoemCount()));
    showCount(Label2[1], QStringLiteral("第%1首").arg(CurrentPoem));

    QString display;
    if (CurrentPoem != 0) {
        const PoemRecord &poem = Poems()[CurrentPoem];
        display = trimSpaces(poem.Title());
        for (int i = 1; i <= PoemRecord::LineCount; ++i)
            display += QLatin1Char('\n') + trimSpaces(poem.Lines(i));
    }
    m_ui->Label1->setText(display);
}

void Form1::readAloud()
{
    m_ui->Text1->setText(trimSpaces(Poems()[CurrentPoem].Title()));
    const QString title = trimSpaces(m_ui->Text1->text());
    const QString path = SoundPath(m_environment.applicationFolder, title);
    Command1[0]->setEnabled(false);
    m_ui->MMControl1->setPoemShape(shapeOf(Poems()[CurrentPoem]));
    m_ui->MMControl1->setReadAfterMe(m_ui->Command3->isChecked());
    const std::optional<DeviceError> failure = playToEnd(*m_ui->MMControl1, path);
    m_ui->Label1->setHighlightedPart(PoemDisplay::NoPart);
    Command1[0]->setEnabled(true);
    if (failure)
        Dialogs::information(this, playbackFailure(*failure, title, path));
}

void Form1::showNext()
{
    ++CurrentPoem;
    ShowCurrentPoem();
}

void Form1::showPrevious()
{
    --CurrentPoem;
    ShowCurrentPoem();
}

void Form1::showHelp()
{
    Dialogs::information(this, HelpText);
}

void Form1::openMaintenance()
{
    Form2 maintenance(
        m_environment, [this] { Init_Me(); }, this);
    maintenance.exec();
}

void Form1::readContinuously()
{
    const QString typed =
        Dialogs::inputBox(this, QStringLiteral("请输入连续播放次数："), QStringLiteral("1"));
    // The count is read from a field of four characters.
    const QString field = typed.left(4).leftJustified(4, QLatin1Char(' '));
    const std::optional<qint16> repeatCount = RepeatCount(field);
    if (!repeatCount) {
        Dialogs::information(
            this, QStringLiteral("“%1”不是有效的连续播放次数，请输入 1 到 32767 之间的整数。")
                      .arg(trimSpaces(field)));
        return;
    }
    if (*repeatCount == 0)
        return;

    LxLdBz = false;
    for (int pass = 1; pass <= *repeatCount; ++pass) {
        const qint32 poems = PoemCount();
        for (qint32 k = 1; k <= poems; ++k) {
            if (LxLdBz)
                return;
            CurrentPoem = k;
            ShowCurrentPoem();
            Form3 playback(m_environment, LxLdBz, this);
            playback.setPoemTitle(Poems()[k].Title());
            playback.setReading(shapeOf(Poems()[k]), m_ui->Command3->isChecked());
            connect(&playback, &Form3::partHeard, m_ui->Label1, &PoemDisplay::setHighlightedPart);
            playback.exec();
            m_ui->Label1->setHighlightedPart(PoemDisplay::NoPart);
        }
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->List1->viewport() && event->type() == QEvent::MouseButtonDblClick)
        showDoubleClickedPoem();
    return DesignedWindow::eventFilter(watched, event);
}

void Form1::showDoubleClickedPoem()
{
    const QModelIndexList selected = m_ui->List1->selectionModel()->selectedIndexes();
    CurrentPoem = selected.isEmpty() ? 0 : selected.first().row() + 1;
    ShowCurrentPoem();
}
