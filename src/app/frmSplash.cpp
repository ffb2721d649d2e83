#include "frmSplash.h"
#include "ui_frmSplash.h"

#include "ApplicationImages.h"
#include "ApplicationInfo.h"
#include "Fonts.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <qdrawutil.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int SplashMilliseconds = 3000;

// Keys that type a character close the splash. Enter, Escape, Backspace and Tab type control
// characters of their own, whatever text the platform attaches to them; Delete types nothing
// on a PC keyboard even though X11 reports it as character 127. With Alt held a key chooses a
// menu command rather than typing, though X11 still attaches the letter to it.
bool typesCharacter(const QKeyEvent *event)
{
    if (event->modifiers() & Qt::AltModifier)
        return false;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Backspace:
    case Qt::Key_Tab:
        return true;
    case Qt::Key_Delete:
        return false;
    default:
        return !event->text().isEmpty();
    }
}

// Gives a label the text and makes it just large enough to show all of it. A right-aligned
// label grows to the left, so that its right edge stays where it was laid out.
void setTextSizingLabel(QLabel *label, const QString &text)
{
    const QRect laidOut = label->geometry();
    label->setText(text);
    QRect fitted(laidOut.topLeft(), label->sizeHint());
    if (label->alignment() & Qt::AlignRight)
        fitted.moveRight(laidOut.right());
    label->setGeometry(fitted);
}

} // namespace

// A frameless tool window: no title bar, and no button in the task bar.
frmSplash::frmSplash(const TimerFactory &makeTimer, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint)
    , m_ui(std::make_unique<Ui::frmSplash>())
    , Timer1(makeTimer())
{
    m_ui->setupUi(this);
    // 9-point Song is what Chinese dialogs are usually written in; the three plain labels use it.
    setFont(songTi(9));
    m_ui->lblVersion->setFont(songTi(12, true));
    m_ui->lblPlatform->setFont(songTi(12, true));
    m_ui->lblProductName->setFont(songTi(32.25, true));
    m_ui->lblCompanyProduct->setFont(songTi(18, true));

    // The maker's name is written in one place only, the application information.
    m_ui->lblCompany->setText(QString::fromUtf8(ApplicationInfo::CompanyName));
    m_ui->Picture1->setPixmap(splashLogo());

    connect(Timer1.get(), &Timer::timeout, this, &frmSplash::closeSplash);

    // Key preview: the window judges every key before the control with the focus sees it,
    // and Frame1 must tell clicks on its own surface from clicks that its labels pass up.
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);

    setFixedSize(size());
}

frmSplash::~frmSplash() = default;

void frmSplash::loadSplash()
{
    setTextSizingLabel(m_ui->lblVersion, u"版本 %1.%2.%3"_s.arg(ApplicationInfo::Major)
                                             .arg(ApplicationInfo::Minor)
                                             .arg(ApplicationInfo::Revision));
    setTextSizingLabel(m_ui->lblProductName, QString::fromUtf8(ApplicationInfo::Title));
    setTextSizingLabel(m_ui->lblCompanyProduct, QString::fromUtf8(ApplicationInfo::CompanyName));
    setTextSizingLabel(m_ui->lblPlatform, u"应用于Win98/Win2000等操作系统"_s);
    Timer1->start(SplashMilliseconds);
}

void frmSplash::showEvent(QShowEvent *event)
{
    // The load happens as the window is about to appear, not when it is made, so the three
    // seconds are the three seconds the user sees it.
    if (!m_loaded && !event->spontaneous()) {
        m_loaded = true;
        loadSplash();
        centreOnScreen();
    }
    QDialog::showEvent(event);
}

void frmSplash::centreOnScreen()
{
    QRect placed(QPoint(), size());
    placed.moveCenter(screen()->geometry().center());
    move(placed.topLeft());
}

void frmSplash::closeSplash()
{
    Timer1->stop();
    accept();
}

bool frmSplash::isOnFrameSurface(QPoint framePosition) const
{
    return m_ui->Frame1->rect().contains(framePosition) &&
           m_ui->Frame1->childAt(framePosition) == nullptr;
}

bool frmSplash::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (typesCharacter(static_cast<QKeyEvent *>(event))) {
            closeSplash();
            return true;
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        // A click that a label or the logo ignores reaches Frame1 as well, at the same place;
        // only the frame's uncovered surface counts.
        if (watched == m_ui->Frame1) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() != Qt::LeftButton)
                break;
            const bool onSurface = isOnFrameSurface(mouse->position().toPoint());
            if (event->type() == QEvent::MouseButtonPress) {
                m_pressedOnFrame = onSurface;
            } else if (m_pressedOnFrame && onSurface) {
                m_pressedOnFrame = false;
                closeSplash();
                return true;
            }
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void frmSplash::keyPressEvent(QKeyEvent *event)
{
    // Reached only when no control has the focus; QDialog's own handling of Escape and Enter
    // is not wanted here.
    if (typesCharacter(event))
        closeSplash();
    else
        event->ignore();
}

void frmSplash::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    // Without a title bar the window manager draws no border either; the raised dialog edge
    // around the client area is ours.
    QPainter painter(this);
    qDrawWinPanel(&painter, rect(), palette(), false);
}
