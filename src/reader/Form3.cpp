#include "Form3.h"
#include "ui_Form3.h"

#include "BusyWhilePlaying.h"
#include "CallSequences.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"

#include <QCloseEvent>

Form3::Form3(const Environment &environment, bool &stopFlag, QWidget *parent)
    : DesignedWindow(parent)
    , ui(std::make_unique<Ui::Form3>())
    , m_environment(environment)
    , LxLdBz(stopFlag)
{
    ui->setupUi(this);
    ui->MMControl1->setDevice(m_environment.makeWaveDevice());
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer2.setObjectName(QStringLiteral("Timer2"));
    // Each timer acts once: a window reads its poem a single time.
    Timer1.setSingleShot(true);
    Timer2.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, &Form3::play);
    connect(&Timer2, &QTimer::timeout, this, &Form3::finish);
    connect(ui->MMControl1, &WaveDeviceControl::partHeard, this, &Form3::partHeard);
    connect(ui->Command1, &QPushButton::clicked, this, &Form3::askToStop);
    // The one control that works while the poem is being read.
    stayUsableWhilePlaying(ui->Command1);

    finishDesign(10080, 5595);
    Timer1.start(500);
}

Form3::~Form3() = default;

void Form3::setPoemTitle(const QString &storedTitle)
{
    ui->Label1->setText(storedTitle);
}

void Form3::setReading(const PoemShape &shape, bool readAfterMe)
{
    ui->MMControl1->setPoemShape(shape);
    ui->MMControl1->setReadAfterMe(readAfterMe);
}

void Form3::play()
{
    // A recording that is missing or cannot be played is passed over in silence: a child may
    // be alone with the program, and the run goes on with the next poem.
    (void)playInPlaybackWindow(*ui->MMControl1,
                               SoundPath(m_environment.applicationFolder, ui->Label1->text()));
    Timer2.start(500);
}

void Form3::askToStop()
{
    // Heard at once, though the poem is still read to its end: the child sees that the click
    // counted and has no reason to click again.
    LxLdBz = true;
    ui->Command1->setEnabled(false);
    ui->Command1->setText(QStringLiteral("即将停止"));
}

void Form3::finish()
{
    closeDevice(*ui->MMControl1);
    accept();
}

void Form3::closeEvent(QCloseEvent *event)
{
    // Closed by its close box: the device must not stay open behind a window that is gone.
    Timer1.stop();
    Timer2.stop();
    closeDevice(*ui->MMControl1);
    DesignedWindow::closeEvent(event);
}
