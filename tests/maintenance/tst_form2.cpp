#include "Form2.h"

#include "FakeWaveDevice.h"
#include "GuiTest.h"
#include "SoundCardDevice.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QAudioDevice>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QMediaDevices>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Fixture bytes are spelled out in code page 936, not produced by the code under test.
const QByteArray JingYeSi("\xBE\xB2\xD2\xB9\xCB\xBC");                   // 静夜思
const QByteArray ChunXiao("\xB4\xBA\xCF\xFE");                           // 春晓
const QByteArray ChuangQian("\xB4\xB2\xC7\xB0\xC3\xF7\xD4\xC2\xB9\xE2"); // 床前明月光
const QByteArray YiShi("\xD2\xC9\xCA\xC7\xB5\xD8\xC9\xCF\xCB\xAA");      // 疑是地上霜
const QByteArray JuTou("\xBE\xD9\xCD\xB7\xCD\xFB\xC3\xF7\xD4\xC2");      // 举头望明月
const QByteArray DiTou("\xB5\xCD\xCD\xB7\xCB\xBC\xB9\xCA\xCF\xE7");      // 低头思故乡

const QStringList PoemLines{u"床前明月光"_s, u"  疑是地上霜"_s, u"举头望明月"_s, u"低头思故乡"_s};

QByteArray padded(const QByteArray &bytes, int width)
{
    return bytes + QByteArray(width - bytes.size(), ' ');
}

QByteArray record(const QByteArray &title, const QByteArray &line1 = {},
                  const QByteArray &line2 = {}, const QByteArray &line3 = {},
                  const QByteArray &line4 = {})
{
    return padded(title, 24) + padded(line1, 16) + padded(line2, 16) + padded(line3, 16) +
           padded(line4, 16);
}

// What PoemLines becomes in the file: lines kept as typed, leading spaces included.
QByteArray typedPoem(const QByteArray &title)
{
    return record(title, ChuangQian, "  " + YiShi, JuTou, DiTou);
}

QString stored(const QString &title)
{
    return title.leftJustified(24);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

template<class T = QPushButton>
T *control(const QWidget &form, const QString &name)
{
    return form.findChild<T *>(name);
}

QStringList items(const Form2 &form)
{
    const QAbstractItemModel *model = control<QListView>(form, u"List1"_s)->model();
    QStringList result;
    for (int row = 0; row < model->rowCount(); ++row)
        result << model->index(row, 0).data().toString();
    return result;
}

void typeInto(QLineEdit *box, const QString &text)
{
    box->selectAll();
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Delete);
    else
        commitText(box, text);
}

void typePoem(const Form2 &form, const QString &title, const QStringList &lines = PoemLines)
{
    typeInto(control<QLineEdit>(form, u"Text1"_s), title);
    for (int k = 0; k < 4; ++k)
        typeInto(control<QLineEdit>(form, u"Text2_%1"_s.arg(k)), lines[k]);
}

// Where a click lands: on list row `row`, or on the empty part of the list for -1.
QPoint pointAt(QListView *list, int row)
{
    if (row < 0)
        return list->viewport()->rect().bottomLeft() + QPoint(5, -5);
    list->scrollTo(list->model()->index(row, 0));
    return list->visualRect(list->model()->index(row, 0)).center();
}

void doubleClick(const Form2 &form, int row)
{
    auto *list = control<QListView>(form, u"List1"_s);
    const QPoint at = pointAt(list, row);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

// Runs action, answering every message box it opens (with `answer` where the box offers it,
// else 确定), and hands back their texts. Unlike a pending catcher nothing outlives the call,
// so a test can also show that no box came.
QStringList messagesDuring(const std::function<void()> &action,
                           QMessageBox::StandardButton answer = QMessageBox::No)
{
    QStringList texts;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&texts, answer] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts << box->windowTitle() + u": "_s + box->text();
            (box->button(answer) ? box->button(answer) : box->button(QMessageBox::Ok))->click();
        }
    });
    poll.start(10);
    action();
    return texts;
}

// A file system of a megabyte of its own, mounted on a folder, that a test fills to the last
// byte: a full disk without filling the machine's. Mounting needs root, as the tests run.
class SmallDisk final
{
    Q_DISABLE_COPY_MOVE(SmallDisk)

public:
    explicit SmallDisk(const QString &folder)
        : m_folder(QFile::encodeName(folder))
    {
        m_mounted = ::mount("kavendo-test", m_folder.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                            "size=1m") == 0;
        if (!m_mounted)
            m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }

    bool isMounted() const { return m_mounted; }
    QString error() const { return m_error; }

    // Writes a file until the disk takes no further byte.
    bool fill()
    {
        const int fd = ::open(filler().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        const QByteArray chunk(64 * 1024, 'x');
        for (qsizetype size = chunk.size(); size > 0; size /= 2) {
            while (::write(fd, chunk.constData(), size_t(size)) > 0) {
            }
        }
        const bool full = errno == ENOSPC;
        return ::close(fd) == 0 && full;
    }
    bool free() const { return ::unlink(filler().constData()) == 0; }

private:
    QByteArray filler() const { return m_folder + "/filler"; }

    QByteArray m_folder;
    bool m_mounted = false;
    QString m_error;
};

} // namespace

class Form2Test final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_temporary;
    QString m_folder;
    std::unique_ptr<FakeDevices> m_devices;
    int m_initMeCalls = 0;
    QByteArray m_libraryAtInitMe;
    bool m_visibleAtInitMe = false;
    const Form2 *m_form = nullptr;

    QString libraryPath() const { return m_folder + u"/Kavendo.dbf"_s; }
    QString soundPath(const QString &title) const
    {
        return m_folder + u"/sound/"_s + title + u".wav"_s;
    }

    // With the fake device unless the test hands over a real one.
    std::unique_ptr<Form2> open(std::function<std::unique_ptr<WaveDevice>()> makeWaveDevice = {})
    {
        Environment environment{m_folder, makeWaveDevice ? makeWaveDevice : m_devices->factory()};
        auto form = std::make_unique<Form2>(environment, [this] {
            ++m_initMeCalls;
            m_libraryAtInitMe = readAll(libraryPath());
            m_visibleAtInitMe = m_form->isVisible();
        });
        m_form = form.get();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qWarning("the maintenance window was not shown");
        return form;
    }

    // Gives the window the poem of PoemLines under `title` and confirms it.
    void addPoem(const Form2 &form, const QString &title)
    {
        typePoem(form, title);
        QVERIFY(control(form, u"Command1"_s)->isEnabled());
        control(form, u"Command1"_s)->click();
    }

private Q_SLOTS:
    void init()
    {
        m_temporary = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temporary->isValid());
        m_folder = m_temporary->filePath(u"app"_s);
        QVERIFY(QDir().mkpath(m_folder + u"/sound"_s));
        m_devices = std::make_unique<FakeDevices>();
        m_initMeCalls = 0;
        m_libraryAtInitMe.clear();
        m_visibleAtInitMe = false;
    }

    void loadListsTrimmedTitles_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("missing file") << QByteArray() << QStringList();
        QTest::newRow("three poems") << record("  " + JingYeSi) + record(ChunXiao) + record(" abc ")
                                     << QStringList{u"静夜思"_s, u"春晓"_s, u"abc"_s};
    }

    void loadListsTrimmedTitles()
    {
        QFETCH(QByteArray, library);
        QFETCH(QStringList, listed);
        if (!library.isNull())
            writeAll(libraryPath(), library);
        const auto form = open();
        QCOMPARE(form->windowTitle(), u"Kavendo——系统维护"_s);
        QCOMPARE(items(*form), listed);
        QVERIFY(!control(*form, u"Command1"_s)->isEnabled());
        QVERIFY(!control(*form, u"Command2"_s)->isEnabled());
        QCOMPARE(readAll(libraryPath()), library.isNull() ? QByteArray("") : library);
    }

    // Tab walks from the list through the buttons to the entry boxes, the recorder's two
    // buttons (stop, record) in the recorder's place.
    void tabGoesFromTheListThroughTheButtonsToTheBoxes()
    {
        const auto form = open();
        const QStringList expected{u"List1"_s,    u"Command1"_s, u"stopButton"_s, u"recordButton"_s,
                                   u"Command2"_s, u"Command3"_s, u"Command4"_s,   u"Text1"_s,
                                   u"Text2_0"_s,  u"Text2_1"_s,  u"Text2_2"_s,    u"Text2_3"_s};
        QStringList chain;
        QWidget *widget = control<QWidget>(*form, u"List1"_s);
        do {
            if ((widget->focusPolicy() & Qt::TabFocus) && !widget->isHidden())
                chain << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != control<QWidget>(*form, u"List1"_s));
        QCOMPARE(chain, expected);
    }

    void loadFailureNeverOverwritesTheLibrary_data()
    {
        QTest::addColumn<bool>("loop");
        QTest::newRow("library is a folder") << false;
        QTest::newRow("library is a link to itself") << true;
    }

    // A library that cannot be read must not be replaced by the empty copy the window shows.
    void loadFailureNeverOverwritesTheLibrary()
    {
        QFETCH(bool, loop);
        if (loop)
            QVERIFY(QFile::link(u"Kavendo.dbf"_s, libraryPath()));
        else
            QVERIFY(QDir().mkdir(libraryPath()));

        MessageBoxCatcher loadMessage;
        const auto form = open();
        QTRY_VERIFY(loadMessage.seen());
        QVERIFY2(loadMessage.text().contains(libraryPath()), qPrintable(loadMessage.text()));
        QCOMPARE(items(*form), QStringList());

        addPoem(*form, u"静夜思"_s);
        const QStringList messages =
            messagesDuring([&] { control(*form, u"Command4"_s)->click(); });
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(libraryPath()), qPrintable(messages[0]));
        QVERIFY(form->isVisible());
        QCOMPARE(m_initMeCalls, 0);
        QCOMPARE(QFileInfo(libraryPath()).isSymLink(), loop);
        QCOMPARE(QFileInfo(libraryPath()).isDir(), !loop);
    }

    void entryCheckEnablesConfirm_data()
    {
        QTest::addColumn<int>("box"); // 0 is the title box, 1 to 4 the line boxes
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("title emptied") << 0 << QString() << false;
        QTest::newRow("fourth line emptied") << 4 << QString() << false;
        QTest::newRow("title of spaces") << 0 << u"   "_s << false;
        QTest::newRow("line of spaces") << 2 << u" "_s << false;
        QTest::newRow("line of a tab") << 3 << u"\t"_s << true;
        QTest::newRow("title of a full-width space") << 0 << u"　"_s << true;
        QTest::newRow("line retyped") << 1 << u"春眠不觉晓"_s << true;
    }

    void entryCheckEnablesConfirm()
    {
        QFETCH(int, box);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        const auto form = open();
        const QStringList names{u"Text1"_s, u"Text2_0"_s, u"Text2_1"_s, u"Text2_2"_s, u"Text2_3"_s};
        for (int i = 0; i < 5; ++i) {
            typeInto(control<QLineEdit>(*form, names[i]), u"春晓"_s);
            QCOMPARE(control(*form, u"Command1"_s)->isEnabled(), i == 4);
        }
        typeInto(control<QLineEdit>(*form, names[box]), text);
        QCOMPARE(control(*form, u"Command1"_s)->isEnabled(), enabled);
    }

    void boxesTakeNoMoreThanTheFileHolds_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("line of 8, then a ninth")
            << u"Text2_0"_s << QStringList{u"春眠不觉晓处处闻"_s, u"啼"_s} << u"春眠不觉晓处处闻"_s;
        QTest::newRow("line pasted at 9")
            << u"Text2_3"_s << QStringList{u"abcdefghi"_s} << u"abcdefgh"_s;
        QTest::newRow("title of 12 Chinese, then a 13th")
            << u"Text1"_s << QStringList{u"一二三四五六七八九十甲乙"_s, u"丙"_s}
            << u"一二三四五六七八九十甲乙"_s;
        QTest::newRow("title of 24 ASCII, then a 25th")
            << u"Text1"_s << QStringList{u"abcdefghijklmnopqrstuvwx"_s, u"y"_s}
            << u"abcdefghijklmnopqrstuvwx"_s;
        QTest::newRow("title of 11 Chinese and 2 ASCII, then one more")
            << u"Text1"_s << QStringList{u"一二三四五六七八九十甲"_s, u"ab"_s, u"c"_s}
            << u"一二三四五六七八九十甲ab"_s;
        QTest::newRow("surrounding spaces are not kept, so not counted")
            << u"Text1"_s << QStringList{u"  "_s, u"一二三四五六七八九十甲乙"_s, u" "_s}
            << u"  一二三四五六七八九十甲乙 "_s;
    }

    void boxesTakeNoMoreThanTheFileHolds()
    {
        QFETCH(QString, box);
        QFETCH(QStringList, typed);
        QFETCH(QString, kept);
        const auto form = open();
        auto *edit = control<QLineEdit>(*form, box);
        for (const QString &piece : typed)
            commitText(edit, piece);
        QCOMPARE(edit->text(), kept);
    }

    void addAppendsThePoemAndArmsTheRecorder()
    {
        writeAll(libraryPath(), record(ChunXiao));
        const auto form = open();
        addPoem(*form, u"  静夜思  "_s);
        QCOMPARE(items(*form), (QStringList{u"春晓"_s, stored(u"静夜思"_s)}));
        QVERIFY(!control(*form, u"Command1"_s)->isEnabled());
        QCOMPARE(control<QLineEdit>(*form, u"Text1"_s)->text(), u"  静夜思  "_s);
        QCOMPARE(control<QLineEdit>(*form, u"Text2_1"_s)->text(), u"  疑是地上霜"_s);
        QCOMPARE(m_devices->journal,
                 (QStringList{u"DeviceType=waveaudio"_s, u"FileName="_s + soundPath(u"静夜思"_s),
                              u"Notify=false"_s, u"Command=open"_s, u"Notify=true"_s}));
        QCOMPARE(readAll(libraryPath()), record(ChunXiao));

        // The user starts recording, then confirms a second poem: the take is dropped and the
        // recorder armed for the new title.
        control(*control<WaveDeviceControl>(*form, u"MMControl1"_s), u"recordButton"_s)->click();
        typeInto(control<QLineEdit>(*form, u"Text1"_s), u"春晓"_s);
        m_devices->journal.clear();
        control(*form, u"Command1"_s)->click();
        QCOMPARE(items(*form), (QStringList{u"春晓"_s, stored(u"静夜思"_s), stored(u"春晓"_s)}));
        QCOMPARE(m_devices->journal,
                 (QStringList{u"Command=close"_s, u"DeviceType=waveaudio"_s,
                              u"FileName="_s + soundPath(u"春晓"_s), u"Notify=false"_s,
                              u"Command=open"_s, u"Notify=true"_s}));

        control(*form, u"Command4"_s)->click();
        QCOMPARE(readAll(libraryPath()),
                 record(ChunXiao) + typedPoem(JingYeSi) + typedPoem(ChunXiao));
    }

    void refusesWhatCannotBeStored_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("named");
        QTest::newRow("slash") << u"春/晓"_s << u"春眠不觉晓"_s << u"“/”"_s;
        QTest::newRow("colon") << u"春:晓"_s << u"春眠不觉晓"_s << u"“:”"_s;
        QTest::newRow("dot dot") << u" .. "_s << u"春眠不觉晓"_s << u"“..”"_s;
        QTest::newRow("tab") << u"春\t晓"_s << u"春眠不觉晓"_s << u"U+0009"_s;
        QTest::newRow("emoji in the title") << u"春😀"_s << u"春眠不觉晓"_s << u"“😀”（U+1F600）"_s;
        QTest::newRow("emoji in a line") << u"春晓"_s << u"春眠😀"_s << u"第一句中的“😀”"_s;
    }

    void refusesWhatCannotBeStored()
    {
        QFETCH(QString, title);
        QFETCH(QString, line);
        QFETCH(QString, named);
        const auto form = open();
        typePoem(*form, title, {line, u"处处闻啼鸟"_s, u"夜来风雨声"_s, u"花落知多少"_s});
        const QStringList messages =
            messagesDuring([&] { control(*form, u"Command1"_s)->click(); });
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith(u"Kavendo: "_s) && messages[0].contains(named),
                 qPrintable(messages[0]));
        QCOMPARE(items(*form), QStringList());
        QCOMPARE(m_devices->journal, QStringList());
        control(*form, u"Command4"_s)->click();
        QCOMPARE(readAll(libraryPath()), QByteArray(""));
    }

    void savesTheTakeOnlyWhenStopped_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<qreal>("peak");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<bool>("warned");
        const QStringList saved{u"stop"_s, u"Wait=true"_s, u"Command=save"_s, u"Command=close"_s};
        QTest::newRow("successful (1)") << 1 << 0.5 << QStringList() << false;
        QTest::newRow("superseded (2)") << 2 << 0.5 << QStringList() << false;
        QTest::newRow("failed (8)") << 8 << 0.5 << QStringList() << false;
        QTest::newRow("stopped (4)") << 4 << 0.5 << saved << false;
        QTest::newRow("stopped, almost silent (4)") << 4 << 0.005 << saved << true;
    }

    void savesTheTakeOnlyWhenStopped()
    {
        QFETCH(int, code);
        QFETCH(qreal, peak);
        QFETCH(QStringList, sent);
        QFETCH(bool, warned);
        const auto form = open();
        addPoem(*form, u" 静夜思"_s);
        auto *recorder = control<WaveDeviceControl>(*form, u"MMControl1"_s);
        control(*recorder, u"recordButton"_s)->click();
        FakeWaveDevice *device = m_devices->last();
        device->sendLevel(peak, 1500);
        m_devices->journal.clear();

        const QStringList messages = messagesDuring([&] {
            if (code == 4)
                control(*recorder, u"stopButton"_s)->click();
            else
                device->raiseDone(code);
        });
        QCOMPARE(m_devices->journal, sent);
        QCOMPARE(device->mode() == WaveDevice::Mode::Closed, code == 4);
        QCOMPARE(messages.size(), warned ? 1 : 0);
        if (warned)
            QVERIFY2(messages[0].contains(soundPath(u"静夜思"_s)), qPrintable(messages[0]));
        QCOMPARE(items(*form), QStringList{stored(u"静夜思"_s)});
    }

    void deviceFailuresAreReported_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("said");
        QTest::newRow("cannot arm")
            << u"open"_s << u"《静夜思》已录入，但现在无法录音（没有可用的录音设备：no server）"_s;
        QTest::newRow("cannot save") << u"save"_s << u"无法保存录音："_s;
    }

    void deviceFailuresAreReported()
    {
        QFETCH(QString, failing);
        QFETCH(QString, said);
        m_devices->failures.insert(failing, {DeviceError::Kind::NoDevice, u"no server"_s});
        const auto form = open();
        QStringList messages = messagesDuring([&] { addPoem(*form, u"静夜思"_s); });
        if (failing == u"save"_s) {
            QCOMPARE(messages, QStringList());
            messages = messagesDuring([&] { m_devices->last()->raiseDone(4); });
            said += soundPath(u"静夜思"_s);
        }
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(said), qPrintable(messages[0]));
        QCOMPARE(items(*form), QStringList{stored(u"静夜思"_s)});
        QCOMPARE(m_devices->last()->mode(), WaveDevice::Mode::Closed);

        // A Stop that comes after the device was given up saves nothing.
        m_devices->journal.clear();
        m_devices->last()->raiseDone(4);
        QCOMPARE(m_devices->journal, QStringList());
    }

    void deletesThePoemAndItsRecording_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<int>("row");
        QTest::addColumn<QByteArray>("recording"); // its file name in the sound folder
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QByteArray>("rewritten");
        const QByteArray three = record(JingYeSi) + record(ChunXiao) + record("abc");
        QTest::newRow("the only poem")
            << record(JingYeSi) << 0 << QByteArray("静夜思.wav") << QStringList() << QByteArray("");
        QTest::newRow("first of three, old .WAV name")
            << three << 0 << QByteArray("静夜思.WAV")
            << QStringList{stored(u"春晓"_s), stored(u"abc"_s)} << record(ChunXiao) + record("abc");
        QTest::newRow("second of three, name in code page 936")
            << three << 1 << ChunXiao + ".wav" << QStringList{stored(u"静夜思"_s), stored(u"abc"_s)}
            << record(JingYeSi) + record("abc");
        QTest::newRow("last of three, never recorded")
            << three << 2 << QByteArray() << QStringList{stored(u"静夜思"_s), stored(u"春晓"_s)}
            << record(JingYeSi) + record(ChunXiao);
    }

    void deletesThePoemAndItsRecording()
    {
        QFETCH(QByteArray, library);
        QFETCH(int, row);
        QFETCH(QByteArray, recording);
        QFETCH(QStringList, listed);
        QFETCH(QByteArray, rewritten);
        writeAll(libraryPath(), library);
        const QByteArray sound = QFile::encodeName(m_folder + u"/sound/"_s);
        // By its bytes: a code page 936 name is no UTF-8 and would not survive a QString.
        if (!recording.isEmpty()) {
            std::FILE *file = std::fopen((sound + recording).constData(), "wb");
            QVERIFY(file);
            std::fclose(file);
        }
        writeAll(QFile::decodeName(sound + "other.wav"), "RIFF");
        const auto form = open();

        doubleClick(*form, row);
        QVERIFY(control(*form, u"Command2"_s)->isEnabled());
        const QStringList messages =
            messagesDuring([&] { control(*form, u"Command2"_s)->click(); });
        QCOMPARE(messages, QStringList());
        QCOMPARE(items(*form), listed);
        QCOMPARE(readAll(libraryPath()), rewritten);
        QCOMPARE(QDir(QFile::decodeName(sound)).entryList(QDir::Files),
                 QStringList{u"other.wav"_s});
        QVERIFY(!control(*form, u"Command2"_s)->isEnabled());
        QVERIFY(!control<QListView>(*form, u"List1"_s)->selectionModel()->hasSelection());
    }

    void deleteButtonArmsOnlyAfterADoubleClick_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("armed");
        QTest::newRow("double-click on a poem") << QStringList{u"double 1"_s} << true;
        QTest::newRow("double-click on the empty part") << QStringList{u"double -1"_s} << true;
        QTest::newRow("then a click on another poem")
            << QStringList{u"double 1"_s, u"click 0"_s} << false;
        QTest::newRow("then a click on the same poem")
            << QStringList{u"double 1"_s, u"click 1"_s} << false;
        QTest::newRow("then a key in the list") << QStringList{u"double 1"_s, u"key"_s} << false;
        QTest::newRow("a click, then a double-click elsewhere")
            << QStringList{u"click 0"_s, u"double 2"_s} << true;
        QTest::newRow("a double-click event alone") << QStringList{u"bare 2"_s} << true;
    }

    void deleteButtonArmsOnlyAfterADoubleClick()
    {
        QFETCH(QStringList, steps);
        QFETCH(bool, armed);
        writeAll(libraryPath(), record(JingYeSi) + record(ChunXiao) + record("abc"));
        const auto form = open();
        auto *list = control<QListView>(*form, u"List1"_s);
        for (const QString &step : steps) {
            const int row = step.section(u' ', 1).toInt();
            if (step.startsWith(u"double"_s))
                doubleClick(*form, row);
            else if (step.startsWith(u"bare"_s))
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, pointAt(list, row));
            else if (step.startsWith(u"click"_s))
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, pointAt(list, row));
            else
                QTest::keyClick(list, Qt::Key_Down);
        }
        QCOMPARE(control(*form, u"Command2"_s)->isEnabled(), armed);
    }

    void deleteWithoutSelectionDoesNothing()
    {
        const QByteArray library = record(JingYeSi) + record(ChunXiao);
        writeAll(libraryPath(), library);
        const auto form = open();
        doubleClick(*form, -1);
        QVERIFY(control(*form, u"Command2"_s)->isEnabled());
        const QStringList messages =
            messagesDuring([&] { control(*form, u"Command2"_s)->click(); });
        QCOMPARE(messages, QStringList());
        QCOMPARE(items(*form), (QStringList{u"静夜思"_s, u"春晓"_s}));
        QCOMPARE(readAll(libraryPath()), library);
        QVERIFY(!control(*form, u"Command2"_s)->isEnabled());
    }

    // Poems added and then deleted before 返回 go like any other; a recorder armed for the
    // deleted poem is given up, so a later Stop cannot bring its recording back.
    void deletingAnAddedPoem()
    {
        writeAll(libraryPath(), record(ChunXiao));
        const auto form = open();
        addPoem(*form, u"静夜思"_s);
        typeInto(control<QLineEdit>(*form, u"Text1"_s), u"abc"_s);
        control(*form, u"Command1"_s)->click();

        doubleClick(*form, 1);
        control(*form, u"Command2"_s)->click();
        QCOMPARE(readAll(libraryPath()), record(ChunXiao) + typedPoem("abc"));
        QCOMPARE(m_devices->last()->mode(), WaveDevice::Mode::Open);

        doubleClick(*form, 1);
        m_devices->journal.clear();
        control(*form, u"Command2"_s)->click();
        QCOMPARE(m_devices->journal, QStringList{u"Command=close"_s});
        QCOMPARE(readAll(libraryPath()), record(ChunXiao));

        // Everything added has reached the file: the close box asks nothing.
        const QStringList messages = messagesDuring([&] { form->close(); });
        QCOMPARE(messages, QStringList());
        QVERIFY(!form->isVisible());
    }

    void failedRewriteChangesNothing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QString>("reason");
        for (const auto &[button, name] :
             {std::pair{u"Command2"_s, u"删除"_s}, {u"Command4"_s, u"返回"_s}}) {
            QTest::addRow("%s, library became a folder", qPrintable(name))
                << button << u"library is a folder"_s << u"文件夹"_s;
            QTest::addRow("%s, folder went away", qPrintable(name))
                << button << u"folder is gone"_s << u"不存在"_s;
            QTest::addRow("%s, disk is full", qPrintable(name))
                << button << u"disk is full"_s << u"磁盘已满"_s;
        }
    }

    // A delete or a 返回 that cannot rewrite the library says why and changes nothing: the file,
    // the copy, the list, the recording and the armed recorder are all still there once the disk
    // is back, and no half-written file is left behind.
    void failedRewriteChangesNothing()
    {
        QFETCH(QString, button);
        QFETCH(QString, breakage);
        QFETCH(QString, reason);
        std::optional<SmallDisk> disk;
        if (breakage == u"disk is full"_s) {
            disk.emplace(m_folder);
            if (!disk->isMounted())
                QSKIP(qPrintable(u"cannot mount a small file system for a full disk: "_s +
                                 disk->error()));
            QVERIFY(QDir().mkpath(m_folder + u"/sound"_s));
        }
        const QByteArray library = record(JingYeSi) + record(ChunXiao);
        writeAll(libraryPath(), library);
        writeAll(soundPath(u"静夜思"_s), "RIFF");
        const auto form = open();
        addPoem(*form, u"abc"_s);
        const QString moved = m_temporary->filePath(u"moved"_s);
        if (breakage == u"folder is gone"_s) {
            QVERIFY(QDir().rename(m_folder, moved));
        } else if (breakage == u"library is a folder"_s) {
            QVERIFY(QFile::rename(libraryPath(), moved));
            QVERIFY(QDir().mkdir(libraryPath()));
        } else {
            QVERIFY(disk->fill());
        }

        doubleClick(*form, 0);
        const QStringList messages = messagesDuring([&] { control(*form, button)->click(); });
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(libraryPath()) && messages[0].contains(reason),
                 qPrintable(messages[0]));
        QCOMPARE(items(*form), (QStringList{u"静夜思"_s, u"春晓"_s, stored(u"abc"_s)}));
        QVERIFY(form->isVisible());
        QCOMPARE(m_initMeCalls, 0);
        QCOMPARE(m_devices->last()->mode(), WaveDevice::Mode::Open);

        if (breakage == u"folder is gone"_s) {
            QVERIFY(QDir().rename(moved, m_folder));
        } else if (breakage == u"library is a folder"_s) {
            QVERIFY(QDir().rmdir(libraryPath()));
            QVERIFY(QFile::rename(moved, libraryPath()));
        } else {
            QVERIFY(disk->free());
        }
        QCOMPARE(readAll(libraryPath()), library);
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"Kavendo.dbf"_s});
        QVERIFY(QFile::exists(soundPath(u"静夜思"_s)));
        control(*form, u"Command4"_s)->click();
        QCOMPARE(readAll(libraryPath()), library + typedPoem("abc"));
        QCOMPARE(m_initMeCalls, 1);
    }

    void recordsOnTheSoundCard_data()
    {
        QTest::addColumn<bool>("tone"); // played into the sound card while recording
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<QString>("said"); // in the message after Stop; empty when there is none
        QTest::newRow("a tone") << true << false << QString();
        QTest::newRow("silence") << false << false << u"录音几乎没有声音"_s;
        QTest::newRow("full disk") << true << true << u"磁盘已满"_s;
    }

    // A parent types a poem, confirms it, and records it with the control's own buttons while
    // the sound card hears a tone (or nothing); Stop saves the take at the poem's recording path.
    void recordsOnTheSoundCard()
    {
        QFETCH(bool, tone);
        QFETCH(bool, diskFull);
        QFETCH(QString, said);
        QVERIFY2(!QMediaDevices::defaultAudioInput().isNull(),
                 "no sound input: is the test server running?");
        std::optional<SmallDisk> disk;
        if (diskFull) {
            disk.emplace(m_folder);
            if (!disk->isMounted())
                QSKIP(qPrintable(u"cannot mount a small file system for a full disk: "_s +
                                 disk->error()));
            QVERIFY(disk->fill());
        }
        const QString toneFile = m_temporary->filePath(u"tone.wav"_s);
        QVERIFY(writeTone(QFile::encodeName(toneFile), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100,
                          {0.5}, 44100));
        auto form = open(makeSoundCardDevice);
        addPoem(*form, u"静夜思"_s);
        auto *recorder = control<WaveDeviceControl>(*form, u"MMControl1"_s);
        QTest::mouseClick(control(*recorder, u"recordButton"_s), Qt::LeftButton);
        QCOMPARE(recorder->mode(), WaveDevice::Mode::Recording);
        if (tone) {
            QProcess player;
            player.start(u"paplay"_s, {toneFile});
            QTRY_COMPARE_WITH_TIMEOUT(player.state(), QProcess::NotRunning, 5000);
            QCOMPARE(player.exitCode(), 0);
        } else {
            QTest::qWait(1000);
        }
        const QStringList messages = messagesDuring([&] {
            QTest::mouseClick(control(*recorder, u"stopButton"_s), Qt::LeftButton);
            QTRY_COMPARE(recorder->mode(), WaveDevice::Mode::Closed);
        });

        const QString path = soundPath(u"静夜思"_s);
        QCOMPARE(messages.size(), said.isEmpty() ? 0 : 1);
        if (!said.isEmpty())
            QVERIFY2(messages[0].contains(path) && messages[0].contains(said),
                     qPrintable(messages[0]));
        QCOMPARE(items(*form), QStringList{stored(u"静夜思"_s)});
        if (diskFull) {
            QCOMPARE(QDir(m_folder + u"/sound"_s)
                         .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList());
            QVERIFY(disk->free());
            control(*form, u"Command4"_s)->click();
            QCOMPARE(readAll(libraryPath()), typedPoem(JingYeSi));
        } else {
            const WaveContents saved = readWave(QFile::encodeName(path));
            QCOMPARE(saved.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
            QCOMPARE(saved.info.samplerate, 22050);
            QCOMPARE(saved.info.channels, 1);
            QVERIFY2(saved.info.frames > 22050 * 9 / 10,
                     qPrintable(QString::number(saved.info.frames)));
            const double loudness = rms(saved.samples);
            QVERIFY2(tone ? loudness > 2000 : loudness < 30, qPrintable(QString::number(loudness)));
        }
        form.reset();
        // The device leaves its sound streams to the event loop to delete.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void helpShowsTheTwoRules()
    {
        writeAll(libraryPath(), record(ChunXiao));
        const auto form = open();
        MessageBoxCatcher help;
        control(*form, u"Command3"_s)->click();
        QCOMPARE(help.title(), u"Kavendo"_s);
        QCOMPARE(
            help.text(),
            u"1. 录入新诗词时，一定为4言诗！\n2. 必须在诗词目录中双击选中待删诗词后才能删除！"_s);
        QCOMPARE(items(*form), QStringList{u"春晓"_s});
        QVERIFY(form->isVisible());
        QCOMPARE(readAll(libraryPath()), record(ChunXiao));
    }

    void returnRewritesThenReloadsTheMainWindow_data()
    {
        QTest::addColumn<bool>("add");
        QTest::addColumn<QByteArray>("rewritten");
        // The stray 43 bytes after two records are not a poem; a rewrite drops them.
        QTest::newRow("without changes") << false << record(JingYeSi) + record(ChunXiao);
        QTest::newRow("after an add")
            << true << record(JingYeSi) + record(ChunXiao) + typedPoem(JingYeSi);
    }

    void returnRewritesThenReloadsTheMainWindow()
    {
        QFETCH(bool, add);
        QFETCH(QByteArray, rewritten);
        writeAll(libraryPath(), record(JingYeSi) + record(ChunXiao) + QByteArray(43, 'x'));
        const auto form = open();
        if (add)
            addPoem(*form, u"静夜思"_s);
        control(*form, u"Command4"_s)->click();
        QCOMPARE(m_initMeCalls, 1);
        QCOMPARE(m_libraryAtInitMe, rewritten);
        QVERIFY(m_visibleAtInitMe);
        QVERIFY(!form->isVisible());
        QCOMPARE(form->result(), int(QDialog::Accepted));
        QCOMPARE(readAll(libraryPath()), rewritten);
        if (add)
            QCOMPARE(m_devices->last()->mode(), WaveDevice::Mode::Closed);
    }

    void closeBoxKeepsTheFileAsItWas_data()
    {
        QTest::addColumn<bool>("add");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("nothing added") << false << false << int(QMessageBox::No) << true;
        QTest::newRow("added, answered 是") << true << false << int(QMessageBox::Yes) << true;
        QTest::newRow("added while recording, answered 是")
            << true << true << int(QMessageBox::Yes) << true;
        QTest::newRow("added, answered 否") << true << true << int(QMessageBox::No) << false;
    }

    void closeBoxKeepsTheFileAsItWas()
    {
        QFETCH(bool, add);
        QFETCH(bool, recording);
        QFETCH(int, answer);
        QFETCH(bool, closes);
        writeAll(libraryPath(), record(ChunXiao));
        const auto form = open();
        if (add)
            addPoem(*form, u"静夜思"_s);
        if (recording) {
            auto *recorder = control<WaveDeviceControl>(*form, u"MMControl1"_s);
            control(*recorder, u"recordButton"_s)->click();
        }
        m_devices->journal.clear();

        const QStringList asked =
            messagesDuring([&] { form->close(); }, QMessageBox::StandardButton(answer));
        QCOMPARE(asked.size(), add ? 1 : 0);
        if (add)
            QVERIFY2(asked[0].contains(u"不会被保留"_s), qPrintable(asked[0]));
        QCOMPARE(form->isVisible(), !closes);
        QCOMPARE(readAll(libraryPath()), record(ChunXiao));
        QCOMPARE(m_initMeCalls, 0);
        // Leaving drops an unsaved take and closes the recorder; staying leaves it running.
        QCOMPARE(m_devices->journal,
                 add && closes ? QStringList{u"Command=close"_s} : QStringList());
        QCOMPARE(m_devices->last()->mode() == WaveDevice::Mode::Closed, !add || closes);
    }

    // A school's library may pass 32,767 poems; counting goes on past 16 bits.
    void deletesFromALibraryBeyond16Bits()
    {
        writeAll(libraryPath(), record(ChunXiao).repeated(32767) + record(JingYeSi));
        const auto form = open();
        QCOMPARE(items(*form).size(), 32768);
        QCOMPARE(items(*form).last(), u"静夜思"_s);
        doubleClick(*form, 32767);
        control(*form, u"Command2"_s)->click();
        QCOMPARE(items(*form).size(), 32767);
        QCOMPARE(readAll(libraryPath()), record(ChunXiao).repeated(32767));
    }
};

QTEST_MAIN(Form2Test)
#include "tst_form2.moc"
