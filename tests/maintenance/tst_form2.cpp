#include "Form2.h"

#include "FakeWaveDevice.h"
#include "GuiTest.h"
#include "LibraryFixture.h"
#include "SoundCardDevice.h"
#include "WaveDeviceControl.h"
#include "WaveFixture.h"

#include <QAccessible>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/mount.h>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

namespace {

const QStringList PoemLines{u"床前明月光"_s, u"  疑是地上霜"_s, u"举头望明月"_s, u"低头思故乡"_s};
const QStringList Captions{u"录入确认"_s, u"删除"_s, u"帮助"_s, u"返回"_s};
const QByteArray LinkToItself("<a link to itself>");

} // namespace

class Form2Test final : public QObject
{
    Q_OBJECT

private:
    std::optional<QTemporaryDir> m_temporary;
    QString m_folder;
    FakeDevices m_devices;
    std::function<std::unique_ptr<WaveDevice>()> m_makeDevice;
    // A file system of a megabyte of its own on the application folder, to be filled to the
    // last byte: a full disk without filling the machine's. Mounting needs root, as tests run.
    bool m_smallDisk = false;
    std::unique_ptr<Form2> m_form;
    QByteArray m_library;        // the library file as the session found it
    QList<QByteArray> m_reloads; // the library file as the main window reloaded it
    qsizetype m_toldSoFar = 0;
    // Every message box is answered (with m_answer where it offers that) and written down.
    QTimer m_answering;
    QStringList m_said;
    qsizetype m_heardSoFar = 0;
    QMessageBox::StandardButton m_answer = QMessageBox::No;

    QString libraryPath() const { return m_folder + u"/Kavendo.dbf"_s; }
    QLineEdit *box(const QString &k) const // 0 is the title box, 1 to 4 the line boxes
    {
        return m_form->findChild<QLineEdit *>(k == u"0"_s ? u"Text1"_s
                                                          : u"Text2_%1"_s.arg(k.toInt() - 1));
    }
    QPushButton *button(const QString &name, const QWidget *in = nullptr) const
    {
        return (in ? in : m_form.get())->findChild<QPushButton *>(name);
    }

    // Steps that act: "add TITLE" (with PoemLines), "fill" (春晓 in all five boxes), "type K TEXT"
    // and "more K TEXT" into box K (0 the title, 1 to 4 the lines), a button's caption, "record"
    // and "stop" on the recorder, "double/click/bare ROW" (bare: a double-click event alone) or
    // "key" in the list, "close" answered 是 or 否; from the fake device "level PEAK", "done CODE",
    // "fail COMMAND"; "play LOUDNESS" into the sound card; on disk "recording[936] NAME" (named
    // in UTF-8 or code page 936), "break library/folder/disk" and "mend".
    // Steps that check: "said A…B" (the next message box; <app> is the application folder),
    // "list A|B~" (~: padded as stored), "buttons 10" (录入确认, 删除已存诗词), "box K TEXT",
    // "told …" (the device's files and commands since the last look), "window shown/closed/
    // reloaded" (closed after the main window reloaded the file as it is), "sound/folder FILES",
    // "file A|B+" (the library holds these poems; +: with PoemLines), "unchanged" (the library
    // file), "heard a tone/silence" (in the recording).
    void run(const QString &step)
    {
        const QString verb = step.section(u' ', 0, 0), arg = step.mid(verb.size() + 1);
        const QString k = arg.left(1), text = arg.mid(2);
        auto *list = m_form->findChild<QListView *>();
        auto *recorder = m_form->findChild<WaveDeviceControl *>();
        const QString moved = m_temporary->filePath(u"moved"_s);
        const QString broken = arg == u"folder"_s ? m_folder : libraryPath();
        if (const qsizetype i = Captions.indexOf(step); i >= 0) {
            button(u"Command%1"_s.arg(i + 1))->click();
        } else if (verb == u"add"_s) {
            for (int i = 0; i < 5; ++i)
                run(u"type %1 %2"_s.arg(i).arg(i == 0 ? arg : PoemLines[i - 1]));
            run(u"录入确认"_s);
        } else if (verb == u"fill"_s) {
            for (int i = 0; i < 5; ++i)
                run(u"type %1 春晓"_s.arg(i));
        } else if (verb == u"type"_s) {
            box(k)->selectAll();
            text.isEmpty() ? QTest::keyClick(box(k), Qt::Key_Delete) : commitText(box(k), text);
        } else if (verb == u"more"_s) {
            commitText(box(k), text);
        } else if (verb == u"record"_s || verb == u"stop"_s) {
            button(verb + u"Button"_s, recorder)->click();
            if (verb == u"stop"_s) // the take is saved, or not, once the device has closed
                QTRY_COMPARE(recorder->mode(), WaveDevice::Mode::Closed);
        } else if (verb == u"level"_s) {
            m_devices.last()->sendLevel(arg.toDouble(), 1500);
        } else if (verb == u"done"_s) {
            m_devices.last()->raiseDone(arg.toInt());
        } else if (verb == u"fail"_s) {
            m_devices.last()->failures.insert(arg, {DeviceError::Kind::NoDevice, u"no server"_s});
        } else if (verb == u"play"_s) { // a second of a tone
            const QString tone = m_temporary->filePath(u"tone.wav"_s);
            QVERIFY(writeTone(QFile::encodeName(tone), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100,
                              {arg.toDouble()}, 44100));
            QProcess player;
            player.start(u"paplay"_s, {tone});
            QTRY_COMPARE_WITH_TIMEOUT(player.state(), QProcess::NotRunning, 5000);
            QCOMPARE(player.exitCode(), 0);
        } else if (verb == u"double"_s || verb == u"click"_s || verb == u"bare"_s) {
            const QModelIndex row = list->model()->index(arg.toInt(), 0);
            list->scrollTo(row);
            const QPoint at = row.isValid() ? list->visualRect(row).center()
                                            : list->viewport()->rect().bottomLeft() + QPoint(5, -5);
            if (verb != u"bare"_s)
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            if (verb != u"click"_s)
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        } else if (verb == u"key"_s) {
            QTest::keyClick(list, Qt::Key_Down);
        } else if (verb == u"close"_s) {
            m_answer = arg == u"是"_s ? QMessageBox::Yes : QMessageBox::No;
            m_form->close();
        } else if (verb == u"recording"_s || verb == u"recording936"_s) {
            // By its bytes: a code page 936 name is no UTF-8 and would not survive a QString.
            const QByteArray name = verb == u"recording"_s ? arg.toUtf8() : gbk(arg);
            const QByteArray path = QFile::encodeName(m_folder + u"/sound/"_s) + name;
            std::fclose(std::fopen(path.constData(), "wb"));
        } else if (step == u"break disk"_s) {
            QFile filler(m_folder + u"/filler"_s);
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'x')) > 0) {
            }
            QCOMPARE(filler.error(), QFileDevice::ResourceError); // no space left
        } else if (verb == u"break"_s) {
            QVERIFY(QDir().rename(broken, moved));
            QVERIFY(arg == u"folder"_s || QDir().mkdir(libraryPath()));
        } else if (verb == u"mend"_s) {
            QVERIFY(m_smallDisk ? QFile::remove(m_folder + u"/filler"_s)
                                : (arg == u"folder"_s || QDir().rmdir(libraryPath())) &&
                                      QDir().rename(moved, broken));
        } else if (verb == u"said"_s) {
            QVERIFY2(m_heardSoFar < m_said.size(), "no message box");
            for (const QString &part : arg.split(u'…'))
                QVERIFY2(m_said[m_heardSoFar].contains(QString(part).replace(u"<app>"_s, m_folder)),
                         qPrintable(m_said[m_heardSoFar]));
            ++m_heardSoFar;
        } else if (verb == u"list"_s) {
            QStringList items;
            for (int i = 0; i < list->model()->rowCount(); ++i) {
                const QString item = list->model()->index(i, 0).data().toString();
                items << (item.size() == 24 ? item.trimmed() + u'~' : item);
            }
            QCOMPARE(items.join(u'|'), arg);
        } else if (verb == u"buttons"_s) {
            QCOMPARE(u"%1%2"_s.arg(int(button(u"Command1"_s)->isEnabled()))
                         .arg(int(button(u"Command2"_s)->isEnabled())),
                     arg);
        } else if (verb == u"box"_s) {
            QCOMPARE(box(k)->text(), text);
        } else if (verb == u"told"_s) {
            const qsizetype from = std::exchange(m_toldSoFar, m_devices.journal.size());
            QCOMPARE(m_devices.journal.sliced(from)
                         .filter(QRegularExpression(u"^(FileName=|Command=|record|stop)"_s))
                         .replaceInStrings(QRegularExpression(u"^.*[=/]"_s), QString())
                         .join(u' '),
                     arg);
        } else if (verb == u"window"_s) {
            QCOMPARE(m_form->isVisible(), arg == u"shown"_s);
            QCOMPARE(m_reloads,
                     arg == u"reloaded"_s ? QList{readFile(libraryPath())} : QList<QByteArray>());
        } else if (verb == u"sound"_s || verb == u"folder"_s) {
            const QString folder = m_folder + (verb == u"sound"_s ? u"/sound"_s : u""_s);
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).join(u' '), arg);
        } else if (verb == u"file"_s) {
            QByteArray poems;
            for (const QString &title : arg.split(u'|', Qt::SkipEmptyParts))
                poems += title.endsWith(u'+') ? poem(title.chopped(1), PoemLines) : poem(title);
            QCOMPARE(readFile(libraryPath()), poems);
        } else if (verb == u"unchanged"_s) {
            QCOMPARE(readFile(libraryPath()), m_library);
        } else if (verb == u"heard"_s) {
            const WaveContents saved =
                readWave(QFile::encodeName(m_folder + u"/sound/静夜思.wav"_s));
            const double loudness = rms(saved.samples);
            QVERIFY2(saved.info.samplerate == 22050 && saved.info.frames > 20000 &&
                         (arg == u"a tone"_s ? loudness > 2000 : loudness < 30),
                     qPrintable(u"%1 frames at %2 Hz, loudness %3"_s.arg(saved.info.frames)
                                    .arg(saved.info.samplerate)
                                    .arg(loudness)));
        } else {
            QFAIL(qPrintable(u"unknown step: "_s + step));
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        connect(&m_answering, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                m_said << box->windowTitle() + u": "_s + box->text();
                (box->button(m_answer) ? box->button(m_answer) : box->button(QMessageBox::Ok))
                    ->click();
            }
        });
        m_answering.start(10);
    }

    void init()
    {
        m_temporary.emplace();
        m_folder = m_temporary->filePath(u"app"_s);
        QVERIFY(QDir().mkpath(m_folder));
        m_devices = {};
        m_makeDevice = m_devices.factory();
        m_toldSoFar = m_heardSoFar = 0;
        m_reloads.clear();
        m_said.clear();
    }

    void cleanup()
    {
        m_form.reset();
        // The sound card device leaves its sound streams to the event loop to delete.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (std::exchange(m_smallDisk, false))
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    }

    // A session is a library file and the steps of a parent at the window (see run()).
    void session_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<QString>("steps"); // separated by "; "
        const QByteArray three = poem(u"静夜思"_s) + poem(u"春晓"_s) + poem(u"abc"_s);

        QTest::newRow("missing library")
            << QByteArray()
            << u"list; buttons 00; 帮助; said Kavendo: 1. 录入新诗词时，一定为4言诗！\n"
               u"2. 必须在诗词目录中双击选中待删诗词后才能删除！; 返回; window reloaded; file"_s;
        // The stray bytes after the last record are not a poem; a rewrite drops them.
        QTest::newRow("titles trimmed, 返回 without changes")
            << poem(u"  静夜思"_s) + poem(u"春晓"_s) + poem(u" abc "_s) + "xyz"
            << u"list 静夜思|春晓|abc; 返回; window reloaded; file   静夜思|春晓| abc "_s;
        // A library that cannot be read is never replaced by the empty copy the window shows.
        QTest::newRow("unreadable library")
            << LinkToItself
            << u"said <app>/Kavendo.dbf; add 静夜思; 返回; said <app>/Kavendo.dbf; window shown; "
               u"unchanged"_s;

        QTest::newRow("what fills a box")
            << QByteArray()
            << u"fill; buttons 10; type 4 ; buttons 00; type 4 \t; buttons 10; type 0    ; "
               u"buttons 00; type 0 　; buttons 10"_s;
        // A title is counted in the file's bytes, two for a Chinese character; the spaces around
        // it are not kept, so not counted.
        QTest::newRow("as much as the file holds")
            << QByteArray()
            << u"type 1 春眠不觉晓处处闻; more 1 啼; box 1 春眠不觉晓处处闻; "
               u"type 0 一二三四五六七八九十甲; more 0 ab; more 0 c; "
               u"box 0 一二三四五六七八九十甲ab; type 0   一二三四五六七八九十甲乙; "
               u"more 0  ; box 0   一二三四五六七八九十甲乙 "_s;
        for (const QString &refused :
             {u"0 春/晓; 录入确认; said Kavendo: 诗名中不能有“/”"_s,
              u"0  .. ; 录入确认; said Kavendo: 诗名不能是“..”"_s,
              u"0 春\t晓; 录入确认; said Kavendo: 诗名中不能有控制字符 U+0009"_s,
              u"0 春😀; 录入确认; said Kavendo: 诗名中的“😀”（U+1F600）"_s,
              u"1 春眠😀; 录入确认; said Kavendo: 第一句中的“😀”（U+1F600）"_s}) {
            QTest::addRow("refused: %s", qPrintable(refused.section(u"said Kavendo: "_s, 1)))
                << QByteArray() << u"fill; type %1; list; told; 返回; file"_s.arg(refused);
        }

        QTest::newRow("two adds, both deleted")
            << poem(u"春晓"_s)
            << u"add   静夜思  ; list 春晓|静夜思~; buttons 00; told 静夜思.wav open; record; "
               u"type 0 春晓; 录入确认; list 春晓|静夜思~|春晓~; told record close 春晓.wav open; "
               u"double 1; 删除; told; double 1; 删除; told close; close; window closed; unchanged"_s;
        QTest::newRow("an added poem rewritten")
            << poem(u"春晓"_s)
            << u"add  静夜思; 返回; told 静夜思.wav open close; window reloaded; file 春晓|静夜思+"_s;
        QTest::newRow("Done(1), (2), (8) save nothing")
            << QByteArray()
            << u"add 静夜思; record; done 1; done 2; done 8; told 静夜思.wav open record"_s;
        QTest::newRow("Stop saves once")
            << QByteArray()
            << u"add 静夜思; record; level 0.5; stop; done 4; "
               u"told 静夜思.wav open record stop save close; list 静夜思~"_s;
        QTest::newRow("almost silent")
            << QByteArray()
            << u"add 静夜思; record; level 0.005; stop; said 录音几乎没有声音：<app>/sound/静夜思.wav"_s;
        QTest::newRow("cannot save")
            << QByteArray()
            << u"add 静夜思; fail save; record; stop; said 无法保存录音：<app>/sound/静夜思.wav; "
               u"list 静夜思~; told 静夜思.wav open record stop save close"_s;
        QTest::newRow("cannot arm")
            << QByteArray()
            << u"fail open; add 静夜思; said 《静夜思》已录入，但现在无法录音（没有可用的录音设备："
               u"no server）; list 静夜思~; done 4; told 静夜思.wav open close"_s;
        QTest::newRow("close box: 否, then 是")
            << poem(u"春晓"_s)
            << u"add 静夜思; record; close 否; said 不会被保留; window shown; "
               u"told 静夜思.wav open record; close 是; said 不会被保留; window closed; "
               u"told close; unchanged"_s;

        QTest::newRow("delete the only poem")
            << poem(u"静夜思"_s)
            << u"recording 静夜思.wav; recording other.wav; double 0; buttons 01; 删除; "
               u"buttons 00; list; sound other.wav; file"_s;
        QTest::newRow("delete the first, old .WAV name")
            << three
            << u"recording 静夜思.WAV; recording other.wav; double 0; 删除; list 春晓~|abc~; "
               u"sound other.wav; file 春晓|abc"_s;
        QTest::newRow("delete the second, code page 936 name")
            << three
            << u"recording936 春晓.wav; double 1; 删除; list 静夜思~|abc~; sound; file 静夜思|abc"_s;
        QTest::newRow("delete the last, never recorded")
            << three << u"bare 2; 删除; list 静夜思~|春晓~; file 静夜思|春晓"_s;
        QTest::newRow("nothing selected, or disarmed")
            << three
            << u"double -1; buttons 01; 删除; buttons 00; list 静夜思|春晓|abc; unchanged; "
               u"double 1; click 1; buttons 00; double 2; key; buttons 00"_s;
        // A school's library may pass 32,767 poems; counting goes on past 16 bits.
        QTest::newRow("delete poem 32,768") << poem(u"春晓"_s).repeated(32767) + poem(u"静夜思"_s)
                                            << u"recording 静夜思.wav; double 32767; 删除; sound"_s;

        // A delete or a 返回 that cannot rewrite the library says why and changes nothing: the
        // file, the copy, the list, the recording and the armed recorder are all still there once
        // the disk is back, and no half-written file is left behind.
        for (const QString &pressed : {u"删除"_s, u"返回"_s}) {
            for (const QString &breakage : {u"library 这是一个文件夹"_s,
                                            u"folder 文件或文件夹不存在"_s, u"disk 磁盘已满"_s}) {
                const QString broken = breakage.section(u' ', 0, 0);
                QTest::addRow("%s fails, %s", qPrintable(pressed), qPrintable(broken))
                    << poem(u"静夜思"_s) + poem(u"春晓"_s)
                    << u"recording 静夜思.wav; add abc; break %1; double 0; %2; "
                       u"said <app>/Kavendo.dbf（%3; list 静夜思|春晓|abc~; window shown; "
                       u"told abc.wav open; mend %1; folder Kavendo.dbf; sound 静夜思.wav; "
                       u"unchanged; 返回; window reloaded; file 静夜思|春晓|abc+"_s.arg(
                           broken, pressed, breakage.section(u' ', 1));
            }
        }
    }

    void session()
    {
        QFETCH(QByteArray, library);
        QFETCH(QString, steps);
        if (steps.contains(u"break disk"_s)) {
            m_smallDisk = ::mount("kavendo-test", QFile::encodeName(m_folder).constData(), "tmpfs",
                                  MS_NOSUID | MS_NODEV, "size=1m") == 0;
            if (!m_smallDisk)
                QSKIP("cannot mount a small file system for a full disk");
        }
        QVERIFY(QDir().mkpath(m_folder + u"/sound"_s));
        if (library == LinkToItself)
            QVERIFY(QFile::link(u"Kavendo.dbf"_s, libraryPath()));
        else if (!library.isNull())
            writeLibrary(m_folder, library);
        m_library = readFile(libraryPath());
        m_form = std::make_unique<Form2>(Environment{m_folder, m_makeDevice}, [this] {
            QVERIFY2(m_form->isVisible(), "the main window reloaded after this one closed");
            m_reloads << readFile(libraryPath());
        });
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QTest::qWait(20); // a message about the load comes just after the window
        QCOMPARE(m_form->windowTitle(), u"Kavendo——系统维护"_s);
        for (const QString &step : steps.split(u"; "_s)) {
            run(step);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(u"at step "_s + step));
        }
        QCOMPARE(m_said.sliced(m_heardSoFar), QStringList());
    }

    void recordsOnTheSoundCard_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<QString>("steps");
        QTest::newRow("a tone")
            << QByteArray()
            << u"add 静夜思; record; play 0.5; stop; sound 静夜思.wav; heard a tone"_s;
        QTest::newRow("silence")
            << QByteArray()
            << u"add 静夜思; record; play 0; stop; said 录音几乎没有声音：<app>/sound/静夜思.wav; "
               u"heard silence"_s;
        QTest::newRow("full disk")
            << QByteArray()
            << u"break disk; add 静夜思; record; play 0.5; stop; "
               u"said 无法保存录音：<app>/sound/静夜思.wav…磁盘已满; list 静夜思~; sound"_s;
    }

    // A parent records a poem with the control's own buttons while the sound card hears a tone
    // or silence; Stop saves the take at the poem's recording path.
    void recordsOnTheSoundCard()
    {
        m_makeDevice = makeSoundCardDevice;
        session();
    }

    // A screen reader names each entry box after the label beside it.
    void entryBoxesAreNamedAfterTheirLabels()
    {
        m_form = std::make_unique<Form2>(Environment{m_folder, m_makeDevice}, [] {});
        QStringList names;
        for (const char *k : {"0", "1", "2", "3", "4"})
            names << QAccessible::queryAccessibleInterface(box(QLatin1String(k)))
                         ->text(QAccessible::Name);
        QCOMPARE(names,
                 (QStringList{u"诗名"_s, u"第一句"_s, u"第二句"_s, u"第三句"_s, u"第四句"_s}));
    }
};

QTEST_MAIN(Form2Test)
#include "tst_form2.moc"
