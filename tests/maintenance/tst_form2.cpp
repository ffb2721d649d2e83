#include "Form2.h"

#include "GuiTest.h"
#include "LibraryFixture.h"
#include "WaveDeviceControl.h"

#include <QDir>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

namespace {

const QStringList PoemLines{u"床前明月光"_s, u"  疑是地上霜"_s, u"举头望明月"_s, u"低头思故乡"_s};
const QStringList Captions{u"录入确认"_s, u"删除"_s, u"帮助"_s, u"返回"_s};
const QByteArray LinkToItself("<a link to itself>");

// Types text as an input method commits it; QTest::keyClicks cannot type Chinese.
void commitText(QWidget *widget, const QString &text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

class Form2Test final : public GuiTest
{
    Q_OBJECT

private:
    // A file system of a megabyte of its own on the application folder, to be filled to the
    // last byte: a full disk without filling the machine's. Mounting needs root, as tests run.
    bool m_smallDisk = false;
    std::unique_ptr<Form2> m_form;
    QByteArray m_library;        // the library file as the session found it
    QList<QByteArray> m_reloads; // the library file as the main window reloaded it
    qsizetype m_toldSoFar = 0;

    // "fixed": 是, once the device's failures have been mended.
    QString answer() override
    {
        const QString given = GuiTest::answer();
        if (given != u"fixed"_s)
            return given;
        m_devices.last()->failures.clear();
        return u"是"_s;
    }

    QString libraryPath() const { return folder() + u"/Kavendo.dbf"_s; }
    QPushButton *button(const QString &name) const
    {
        return m_form->findChild<QPushButton *>(name);
    }
    QLineEdit *box(const QString &k) const // 0 is the title box, 1 to 4 the line boxes
    {
        return m_form->findChild<QLineEdit *>(k == u"0"_s ? u"Text1"_s
                                                          : u"Text2_%1"_s.arg(k.toInt() - 1));
    }

    // Steps that act: "fill TITLE" (with PoemLines) and "add TITLE" (then 录入确认), "type K
    // TEXT" and "more K TEXT" into box K (0 the title, 1 to 4 the lines), a button's caption,
    // "record", "stop" and "play" on the recorder, "double/click/bare ROW" (bare: a double-click
    // event alone) or "key" in the list, "close ANSWER", "answer ANSWER" (see m_answers); from the
    // fake device "fail COMMAND", "silent" (the take), "cut" (the take, as a sound input that
    // breaks off does); on disk "recording[936] NAME" (named in UTF-8 or code page 936), "link
    // NAME" (to kept.wav beside the library), "break" and "mend" the "disk" or make the library
    // "read-only"; "elsewhere STEP, STEP" in a second window, then its 返回. Steps that check:
    // "said A…B" (the next message box; <app> is the application folder), "list A|B~" (~: padded
    // as stored), "unrecorded A|B" (the titles the list marks), "buttons 10" (录入确认,
    // 删除已存诗词), "box K TEXT", "status TEXT" (the recorder's), "told …" (the device's files
    // and commands since the last look), "window shown/closed/reloaded" (closed after the main
    // window reloaded the file as it is), "sound/folder/trash FILES", "file A|B+" (the library
    // holds these poems; +: with PoemLines), "unchanged" (the library file).
    void run(const QString &step)
    {
        const QString verb = step.section(u' ', 0, 0), arg = step.mid(verb.size() + 1);
        const QString k = arg.left(1), text = arg.mid(2);
        auto *list = m_form->findChild<QListView *>();
        auto *recorder = m_form->findChild<WaveDeviceControl *>();
        if (const qsizetype caption = Captions.indexOf(step); caption >= 0) {
            button(u"Command%1"_s.arg(caption + 1))->click();
        } else if (verb == u"fill"_s || verb == u"add"_s) {
            for (int i = 0; i < 5; ++i)
                run(u"type %1 %2"_s.arg(i).arg(i == 0 ? arg : PoemLines[i - 1]));
            if (verb == u"add"_s)
                run(u"录入确认"_s);
        } else if (verb == u"type"_s) {
            box(k)->selectAll();
            text.isEmpty() ? QTest::keyClick(box(k), Qt::Key_Delete) : commitText(box(k), text);
        } else if (verb == u"more"_s) {
            commitText(box(k), text);
        } else if (verb == u"record"_s || verb == u"stop"_s || verb == u"play"_s) {
            recorder->findChild<QPushButton *>(verb + u"Button"_s)->click();
            if (verb == u"stop"_s) // the take is saved, or not, once the device holds none
                QTRY_VERIFY(recorder->mode() == WaveDevice::Mode::Open && recorder->Length() == 0);
        } else if (verb == u"cut"_s) {
            m_devices.last()->breakOffTake({DeviceError::Kind::NoDevice, u"麦克风已拔出"_s});
        } else if (verb == u"fail"_s) {
            m_devices.last()->failures.insert(arg, {DeviceError::Kind::NoDevice, u"no server"_s});
        } else if (verb == u"silent"_s) {
            m_devices.last()->failures.insert(u"save"_s, {DeviceError::Kind::NoSound, {}});
        } else if (verb == u"answer"_s) {
            m_answers << arg;
        } else if (verb == u"double"_s || verb == u"click"_s || verb == u"bare"_s) {
            const QModelIndex row = list->model()->index(arg.toInt(), 0);
            // The list lays its rows out in batches once it is shown; a row not yet laid out
            // has no place to click, and the click would land on the first.
            QTRY_VERIFY(!row.isValid() || (list->scrollTo(row), list->visualRect(row).isValid()));
            const QPoint at = row.isValid() ? list->visualRect(row).center()
                                            : list->viewport()->rect().bottomLeft() + QPoint(5, -5);
            if (verb != u"bare"_s)
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            if (verb != u"click"_s)
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        } else if (verb == u"key"_s) {
            QTest::keyClick(list, Qt::Key_Down);
        } else if (verb == u"close"_s) {
            m_answers = {arg};
            m_form->close();
        } else if (verb == u"recording"_s) {
            writeRecording(folder(), arg);
        } else if (verb == u"recording936"_s) { // by its bytes, which are no UTF-8
            const QByteArray path = QFile::encodeName(folder() + u"/sound/"_s) + gbk(arg);
            QCOMPARE(::close(::open(path.constData(), O_CREAT | O_WRONLY, 0644)), 0);
        } else if (verb == u"link"_s) {
            writeFile(folder() + u"/kept.wav"_s, "RIFF");
            QVERIFY(QFile::link(u"../kept.wav"_s, folder() + u"/sound/"_s + arg));
        } else if (verb == u"elsewhere"_s) {
            auto here = std::exchange(m_form, std::make_unique<Form2>(m_environment, [] {}));
            m_form->show();
            for (const QString &inner : arg.split(u", "_s))
                run(inner);
            run(u"返回"_s);
            m_form = std::move(here);
        } else if (arg == u"read-only"_s) {
            QCOMPARE(::chmod(QFile::encodeName(libraryPath()), verb == u"break"_s ? 0400 : 0600),
                     0);
        } else if (step == u"break disk"_s) {
            QFile filler(folder() + u"/filler"_s);
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'x')) > 0) {
            }
            QCOMPARE(filler.error(), QFileDevice::ResourceError); // no space left
        } else if (step == u"mend disk"_s) {
            QVERIFY(QFile::remove(folder() + u"/filler"_s));
        } else if (verb == u"said"_s) {
            said(arg);
        } else if (verb == u"list"_s || verb == u"unrecorded"_s) {
            QStringList items;
            for (int i = 0; i < list->model()->rowCount(); ++i) {
                const QModelIndex item = list->model()->index(i, 0);
                const QString title = item.data().toString();
                if (verb == u"list"_s)
                    items << (title.size() == 24 ? title.trimmed() + u'~' : title);
                else if (item.data(Qt::ToolTipRole) == u"还没有录音"_s)
                    items << title.trimmed();
            }
            QCOMPARE(items.join(u'|'), arg);
        } else if (verb == u"buttons"_s) {
            QCOMPARE(u"%1%2"_s.arg(int(button(u"Command1"_s)->isEnabled()))
                         .arg(int(button(u"Command2"_s)->isEnabled())),
                     arg);
        } else if (verb == u"box"_s) {
            QCOMPARE(box(k)->text(), text);
        } else if (verb == u"status"_s) {
            QCOMPARE(recorder->findChild<QLabel *>(u"status"_s)->text().remove(u'\n'), arg);
        } else if (verb == u"told"_s) {
            const qsizetype from = std::exchange(m_toldSoFar, m_devices.journal.size());
            QCOMPARE(m_devices.journal.sliced(from)
                         .filter(QRegularExpression(u"^(FileName=|Command=|record|stop|listen)"_s))
                         .replaceInStrings(QRegularExpression(u"^.*[=/]"_s), QString())
                         .join(u' '),
                     arg);
        } else if (verb == u"window"_s) {
            QCOMPARE(m_form->isVisible(), arg == u"shown"_s);
            QCOMPARE(m_reloads,
                     arg == u"reloaded"_s ? QList{readFile(libraryPath())} : QList<QByteArray>());
        } else if (verb == u"sound"_s || verb == u"folder"_s || verb == u"trash"_s) {
            const QString where = verb == u"trash"_s   ? temporaryPath(u"data/Trash/files"_s)
                                  : verb == u"sound"_s ? folder() + u"/sound"_s
                                                       : folder();
            QCOMPARE(QDir(where).entryList(QDir::Files | QDir::Hidden).join(u' '), arg);
        } else if (verb == u"file"_s) {
            QByteArray records;
            for (const QString &title : arg.split(u'|', Qt::SkipEmptyParts))
                records += title.endsWith(u'+') ? poem(title.chopped(1), PoemLines) : poem(title);
            QCOMPARE(readFile(libraryPath()), records);
        } else if (verb == u"unchanged"_s) {
            QCOMPARE(readFile(libraryPath()), m_library);
        } else {
            QFAIL(qPrintable(u"unknown step: "_s + step));
        }
    }

private Q_SLOTS:
    void cleanup()
    {
        m_form.reset();
        if (std::exchange(m_smallDisk, false))
            ::umount2(QFile::encodeName(folder()).constData(), MNT_DETACH);
        m_reloads.clear();
        m_toldSoFar = 0;
        GuiTest::cleanup();
    }

    // A session is a library file and the steps of a parent at the window (see run()).
    void session_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<QString>("steps"); // separated by "; "
        const QByteArray none, two = poem(u"静夜思"_s) + poem(u"春晓"_s);
        const QByteArray three = two + poem(u"abc"_s);

        QTest::newRow("missing library, what fills a box")
            << none
            << u"list; buttons 00; 帮助; said 1. 录入新诗词时，一定为4言诗！…2. 必须在诗词目录中"
               u"双击; fill 春晓; buttons 10; type 4 ; buttons 00; type 4 \t; buttons 10; "
               u"type 0    ; buttons 00; type 0 　; buttons 10; 返回; window reloaded; file"_s;
        // A library that cannot be read is never replaced by the empty copy the window shows.
        QTest::newRow("unreadable library")
            << LinkToItself
            << u"said <app>/Kavendo.dbf; add 静夜思; 返回; said <app>/Kavendo.dbf; window shown; "
               u"unchanged"_s;
        // A title is counted in the file's bytes, two for a Chinese character; the spaces around
        // it are not kept, so not counted.
        QTest::newRow("as much as the file holds")
            << none
            << u"type 1 春眠不觉晓处处闻; more 1 啼; box 1 春眠不觉晓处处闻; type 0 一二三四五六七"
               u"八九十甲; more 0 ab; more 0 c; box 0 一二三四五六七八九十甲ab; type 0   一二三四五"
               u"六七八九十甲乙; more 0  ; box 0   一二三四五六七八九十甲乙 "_s;
        for (const QString &refused :
             {u"fill 春/晓; 录入确认; said Kavendo: 诗名中不能有“/”"_s,
              u"fill 春晓; type 1 春眠😀; 录入确认; said Kavendo: 第一句中的“😀”（U+1F600）"_s}) {
            QTest::addRow("refused: %s", qPrintable(refused.section(u"said Kavendo: "_s, 1)))
                << none << refused + u"; list; told; 返回; file"_s;
        }

        // 录入确认 during a take saves it under its own poem first.
        QTest::newRow("two adds, both deleted")
            << poem(u"春晓"_s)
            << u"add   静夜思  ; list 春晓|静夜思~; buttons 00; told 静夜思.wav open; record; "
               u"type 0 春晓; 录入确认; list 春晓|静夜思~|春晓~; told record stop save close "
               u"静夜思.wav open 春晓.wav open; double 1; 删除; double 1; 删除; close; "
               u"window closed; unchanged"_s;
        // What was heard before is kept, and can be listened to or recorded again; a silent take
        // is not saved.
        QTest::newRow("takes broken off, a silent take")
            << none
            << u"add 静夜思; record; cut; said 录制《静夜思》时录音设备出了故障（麦克风已拔出）…"
               u"已经保存; told 静夜思.wav open record save close 静夜思.wav open; status 已保存 "
               u"0:00; record; silent; cut; said 麦克风已拔出…没有保存下录音; record; silent; "
               u"stop; "
               u"told record save record stop save; status 没有录到声音，请检查麦克风"_s;
        QTest::newRow("record again, after listening")
            << two
            << u"recording 春晓.wav; double 1; play; stop; told 春晓.wav open listen stop; record; "
               u"stop; list 静夜思|春晓; told record stop save close 春晓.wav open; unchanged"_s;
        // The take waits while the parent mends what failed, or until they give it up; Enter
        // tries again.
        QTest::newRow("cannot save, then can")
            << none
            << u"add 静夜思; fail save; record; answer Enter; stop; said 无法保存录音：<app>/sound/"
               u"静夜思.wav…再试一次？; said 再试一次？; told 静夜思.wav open record stop save "
               u"save "
               u"静夜思.wav open; answer fixed; record; stop; said 再试一次？; told record stop "
               u"save "
               u"save close 静夜思.wav open; status 已保存 0:00"_s;
        QTest::newRow("返回 during a take")
            << none
            << u"add 静夜思; record; 返回; told 静夜思.wav open record stop save close 静夜思.wav "
               u"open close; window reloaded; file 静夜思+"_s;
        QTest::newRow("cannot arm")
            << none
            << u"fail open; add 静夜思; said 《静夜思》已录入，但现在无法录音（没有可用的录音设备："
               u"no server）; list 静夜思~"_s;
        QTest::newRow("close box: Enter keeps the poem, then 是")
            << poem(u"春晓"_s)
            << u"add 静夜思; record; close Enter; said 不会被保留; window shown; told 静夜思.wav "
               u"open record stop save close 静夜思.wav open; close 是; said 不会被保留; "
               u"window closed; unchanged"_s;

        // Recordings found under old names too; one in code page 936 bytes, which Qt's trash
        // cannot name, is deleted for good.
        QTest::newRow("delete every poem")
            << three
            << u"recording 静夜思.WAV; recording936 春晓.wav; recording other.wav; double 0; "
               u"buttons 01; 删除; buttons 00; unrecorded abc; double 0; 删除; list abc~; bare 0; "
               u"删除; list; sound other.wav; trash 静夜思.WAV; file"_s;
        QTest::newRow("delete one of two of a title")
            << two + poem(u" 静夜思"_s)
            << u"recording 静夜思.wav; double 2; 删除; sound 静夜思.wav; trash; double 0; 删除; "
               u"sound; trash 静夜思.wav; unrecorded 春晓"_s;
        QTest::newRow("nothing selected, or disarmed")
            << three
            << u"double -1; buttons 01; 删除; buttons 00; list 静夜思|春晓|abc; unchanged; "
               u"double 1; click 1; buttons 00; double 2; key; buttons 00"_s;
        // A title names no recording outside the sound folder, even one that leads back into it;
        // a recording that is a link is deleted as the link.
        QTest::newRow("a title through the sound folder's parent, a linked recording")
            << poem(u"../sound/静夜思"_s) + poem(u"春晓"_s)
            << u"recording 静夜思.wav; link 春晓.wav; double 0; 删除; double 0; 删除; "
               u"sound 静夜思.wav; folder Kavendo.dbf kept.wav; file"_s;

        // Another copy of the program, or a second window, rewrote the library meanwhile: this
        // window's own changes are made to the library as it now is, and the parent is told.
        QTest::newRow("another window deleted a poem meanwhile")
            << two
            << u"elsewhere double 0, 删除; add abc; 返回; said 被别处改动过…共 2 首; "
               u"window reloaded; file 春晓|abc+"_s;
        QTest::newRow("both windows deleted the same poem")
            << two
            << u"elsewhere double 0, 删除; double 0; 删除; said 共 1 首; list 春晓~; file 春晓"_s;

        // A school's library may pass 32,767 poems; counting goes on past 16 bits.
        QTest::newRow("delete poem 32,768") << poem(u"春晓"_s).repeated(32767) + poem(u"静夜思"_s)
                                            << u"recording 静夜思.wav; double 32767; 删除; sound"_s;

        // A delete or a 返回 that cannot rewrite the library says why and changes nothing: the
        // file, the copy, the list, the recording and the armed recorder are all still there once
        // the disk is back, and no half-written file is left behind.
        for (const QString &pressed : {u"删除"_s, u"返回"_s}) {
            for (const QString &breakage :
                 {u"disk <app>/Kavendo.dbf（磁盘已满"_s,
                  u"read-only 诗词库文件是只读的，不能改动：<app>/Kavendo.dbf"_s}) {
                const QString broken = breakage.section(u' ', 0, 0);
                QTest::addRow("%s fails, %s", qPrintable(pressed), qPrintable(broken))
                    << two
                    << u"recording 静夜思.wav; add abc; break %1; double 0; %2; said %3; "
                       u"list 静夜思|春晓|abc~; window shown; told abc.wav open 静夜思.wav open; "
                       u"mend %1; folder Kavendo.dbf; sound 静夜思.wav; unchanged; 返回; "
                       u"window reloaded; file 静夜思|春晓|abc+"_s.arg(broken, pressed,
                                                                       breakage.section(u' ', 1));
            }
        }
    }

    void session()
    {
        QFETCH(QByteArray, library);
        QFETCH(QString, steps);
        if (steps.contains(u"break disk"_s)) {
            m_smallDisk = ::mount("kavendo-test", QFile::encodeName(folder()).constData(), "tmpfs",
                                  MS_NOSUID | MS_NODEV, "size=1m") == 0;
            if (!m_smallDisk)
                QSKIP("cannot mount a small file system for a full disk");
        }
        QVERIFY(QDir().mkpath(folder() + u"/sound"_s));
        if (library == LinkToItself)
            QVERIFY(QFile::link(u"Kavendo.dbf"_s, libraryPath()));
        else if (!library.isNull())
            writeLibrary(folder(), library);
        m_library = readFile(libraryPath());
        m_form = std::make_unique<Form2>(m_environment, [this] {
            QVERIFY2(m_form->isVisible(), "the main window reloaded after this one closed");
            m_reloads << readFile(libraryPath());
        });
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QTest::qWait(20); // a message about the load comes just after the window
        for (const QString &step : steps.split(u"; "_s)) {
            run(step);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(u"at step "_s + step));
        }
    }
};

QTEST_MAIN(Form2Test)
#include "tst_form2.moc"
