#include "Form3.h"
#include "ui_Form3.h"

#include "BusyWhilePlaying.h"
#include "CallSequences.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"

#include <QCloseEvent>

namespace {

// The child sees the window for a moment before the poem is heard, and again after it ends.
constexpr int StartDelayMilliseconds = 500;
constexpr int CloseDelayMilliseconds = 500;

} // namespace

Form3::Form3(const Environment &environment, bool &stopFlag, QWidget *parent)
    : DesignedWindow(parent)
    , m_ui(std::make_unique<Ui::Form3>())
    , m_applicationFolder(environment.applicationFolder)
    , LxLdBz(stopFlag)
    , Timer1(environment.makeTimer())
    , Timer2(environment.makeTimer())
{
    m_ui->setupUi(this);
    m_ui->MMControl1->setDevice(environment.makeWaveDevice());
    // Each timer acts once: a window reads its poem a single time.
    connect(Timer1.get(), &Timer::timeout, this, &Form3::play);
    connect(Timer2.get(), &Timer::timeout, this, &Form3::finish);
    connect(m_ui->MMControl1, &WaveDeviceControl::partHeard, this, &Form3::partHeard);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Form3::askToStop);
    // The one control that works while the poem is being read.
    stayUsableWhilePlaying(m_ui->Command1);

    finishDesign(10080, 5595);
    Timer1->start(StartDelayMilliseconds);
}

Form3::~Form3() = default;

void Form3::setPoemTitle(const QString &storedTitle)
{
    m_ui->Label1->setText(storedTitle);
}

void Form3::setReading(const PoemShape &shape, bool readAfterMe)
{
    m_ui->MMControl1->setPoemShape(shape);
    m_ui->MMControl1->setReadAfterMe(readAfterMe);
}

void Form3::play()
{
    // A recording that is missing or cannot be played is passed over in silence: a child may
    // be alone with the program, and the run goes on with the next poem.
    (void)playInPlaybackWindow(*m_ui->MMControl1,
                               SoundPath(m_applicationFolder, m_ui->Label1->text()));
    Timer2->start(CloseDelayMilliseconds);
}

void Form3::askToStop()
{
    // Heard at once, though the poem is still read to its end: the child sees that the click
    // counted and has no reason to click again.
    LxLdBz = true;
    m_ui->Command1->setEnabled(false);
    m_ui->Command1->setText(QStringLiteral("即将停止"));
}

void Form3::finish()
{
    closeDevice(*m_ui->MMControl1);
    accept();
}

void Form3::closeEvent(QCloseEvent *event)
{
    // Closed by its close box: the device must not stay open behind a window that is gone.
    Timer1->stop();
    Timer2->stop();
    closeDevice(*m_ui->MMControl1);
    DesignedWindow::closeEvent(event);
}
