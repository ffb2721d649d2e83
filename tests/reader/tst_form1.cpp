#include "Form1.h"

#include "FakeWaveDevice.h"
#include "GuiTest.h"
#include "LibraryFixture.h"

#include <QDir>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace LibraryFixture;

namespace {

const QByteArray JingYeSi =
    poem(u"静夜思"_s, {u"床前明月光"_s, u"疑是地上霜"_s, u"举头望明月"_s, u"低头思故乡"_s});
const QByteArray ChunXiao = poem(u"春晓"_s, {u"春眠不觉晓"_s, u"处处闻啼鸟"_s});
const QByteArray DengLou = poem(u"登鹳雀楼"_s, {u"白日依山尽"_s, u"黄河入海流"_s});

} // namespace

class Form1Test final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    FakeDevices m_devices;

    std::unique_ptr<Form1> open()
    {
        auto form = std::make_unique<Form1>(Environment{m_folder->path(), m_devices.factory()});
        form->show();
        return form;
    }

    static QPushButton *button(Form1 &form, const char *name)
    {
        return form.findChild<QPushButton *>(QLatin1String(name));
    }

    static QString text(Form1 &form, const char *label)
    {
        return form.findChild<QLabel *>(QLatin1String(label))->text();
    }

    // Enabled states of 朗读, 下一首, 上一首, 帮助, 系统维护 and 连续朗读, as 1s and 0s.
    static QString buttonStates(Form1 &form)
    {
        QString states;
        for (const char *name :
             {"Command1_0", "Command1_1", "Command1_2", "Command1_3", "Command1_4", "Command2"})
            states += button(form, name)->isEnabled() ? u'1' : u'0';
        return states;
    }

    static QStringList listItems(Form1 &form)
    {
        QStringList items;
        const QAbstractItemModel *model = form.findChild<QListView *>(u"List1"_s)->model();
        for (int row = 0; row < model->rowCount(); ++row)
            items << model->index(row, 0).data().toString();
        return items;
    }

    // A double-click as the window system delivers it: press, release, press, release.
    static void doubleClickList(Form1 &form, QPoint where)
    {
        auto *list = form.findChild<QListView *>(u"List1"_s);
        QTest::mouseDClick(form.windowHandle(), Qt::LeftButton, {},
                           list->viewport()->mapTo(&form, where));
    }

    static QPoint rowCentre(Form1 &form, int row)
    {
        auto *list = form.findChild<QListView *>(u"List1"_s);
        return list->visualRect(list->model()->index(row, 0)).center();
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        m_devices = FakeDevices();
    }

    void emptyLibraryShowsNothing_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::newRow("missing file") << false;
        QTest::newRow("empty file") << true;
    }

    void emptyLibraryShowsNothing()
    {
        QFETCH(bool, fileExists);
        if (fileExists)
            writeLibrary(m_folder->path(), {});
        auto form = open();

        QCOMPARE(listItems(*form), QStringList());
        QCOMPARE(text(*form, "Label1"), QString());
        QCOMPARE(text(*form, "Label2_0"), u"共0首"_s);
        QCOMPARE(text(*form, "Label2_1"), u"第0首"_s);
        QCOMPARE(buttonStates(*form), u"000111"_s);
        QVERIFY(QFile::exists(m_folder->filePath(u"Kavendo.dbf"_s)));
        QCOMPARE(form->windowTitle(), u"Kavendo"_s);
    }

    void onePoemCanBeReadButNotStepped()
    {
        writeLibrary(m_folder->path(), JingYeSi);
        auto form = open();
        QCOMPARE(text(*form, "Label2_0"), u"共1首"_s);
        QCOMPARE(text(*form, "Label2_1"), u"第1首"_s);
        QCOMPARE(buttonStates(*form), u"100111"_s);
    }

    void steppingStaysWithinTheLibrary()
    {
        writeLibrary(m_folder->path(), JingYeSi + ChunXiao + DengLou);
        auto form = open();
        auto *list = form->findChild<QListView *>(u"List1"_s);
        list->setCurrentIndex(list->model()->index(1, 0));

        const QList<std::pair<const char *, QString>> steps{
            {"Command1_1", u"第2首 111111 春晓"_s},     {"Command1_1", u"第3首 101111 登鹳雀楼"_s},
            {"Command1_1", u"第3首 101111 登鹳雀楼"_s}, {"Command1_2", u"第2首 111111 春晓"_s},
            {"Command1_2", u"第1首 110111 静夜思"_s},   {"Command1_2", u"第1首 110111 静夜思"_s}};
        for (const auto &[name, expected] : steps) {
            QTest::mouseClick(button(*form, name), Qt::LeftButton);
            const QString seen = text(*form, "Label2_1") + u' ' + buttonStates(*form) + u' ' +
                                 text(*form, "Label1").section(u'\n', 0, 0);
            QCOMPARE(seen, expected);
        }
        QCOMPARE(text(*form, "Label2_0"), u"共3首"_s);
        QCOMPARE(list->selectionModel()->selectedIndexes().value(0).row(), 1);
    }

    void displayShowsFiveTrimmedLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("display");

        QTest::newRow("full poem")
            << JingYeSi << u"静夜思\n床前明月光\n疑是地上霜\n举头望明月\n低头思故乡"_s;
        QTest::newRow("spaces around title and lines")
            << record("  " + gbk(u"静夜思"_s), "  " + gbk(u"床前明月光"_s))
            << u"静夜思\n床前明月光\n\n\n"_s;
        QTest::newRow("blank title and blank line keep their places")
            << record("", gbk(u"春眠不觉晓"_s), "", gbk(u"处处闻啼鸟"_s))
            << u"\n春眠不觉晓\n\n处处闻啼鸟\n"_s;
        QTest::newRow("tabs and full-width spaces are not trimmed")
            << record("\t" + gbk(u"春晓"_s) + "\xA1\xA1") << u"\t春晓\u3000\n\n\n\n"_s;
    }

    void displayShowsFiveTrimmedLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, display);
        writeLibrary(m_folder->path(), bytes);
        auto form = open();
        QCOMPARE(text(*form, "Label1"), display);
    }

    void listShowsTitlesAsStored()
    {
        writeLibrary(m_folder->path(), record("  " + gbk(u"静夜思"_s)) + ChunXiao);
        auto form = open();
        QCOMPARE(listItems(*form),
                 QStringList({u"  静夜思"_s + QString(19, u' '), u"春晓"_s + QString(22, u' ')}));
    }

    void doubleClickShowsTheSelectedPoem()
    {
        writeLibrary(m_folder->path(), JingYeSi + ChunXiao + DengLou);
        auto form = open();

        doubleClickList(*form, rowCentre(*form, 2));
        QCOMPARE(text(*form, "Label2_1"), u"第3首"_s);
        QCOMPARE(text(*form, "Label1").section(u'\n', 0, 0), u"登鹳雀楼"_s);
        QCOMPARE(buttonStates(*form), u"101111"_s);

        // With nothing selected, a double-click shows no poem at all.
        form->findChild<QListView *>(u"List1"_s)->clearSelection();
        doubleClickList(*form, QPoint(5, 250));
        QCOMPARE(text(*form, "Label2_1"), u"第0首"_s);
        QCOMPARE(text(*form, "Label1"), QString());
        QCOMPARE(buttonStates(*form), u"000111"_s);

        doubleClickList(*form, rowCentre(*form, 0));
        QCOMPARE(text(*form, "Label2_1"), u"第1首"_s);
        QCOMPARE(buttonStates(*form), u"110111"_s);
    }

    void readAloudPlaysTheRecordingToItsEnd_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("recording");

        QTest::newRow("title as stored") << JingYeSi << u"静夜思.wav"_s;
        QTest::newRow("spaces around the title")
            << record("  " + gbk(u"春晓"_s) + "  ", gbk(u"春眠不觉晓"_s)) << u"春晓.wav"_s;
        QTest::newRow("ascii title") << record("Spring Dawn") << u"Spring Dawn.wav"_s;
    }

    void readAloudPlaysTheRecordingToItsEnd()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, recording);
        writeLibrary(m_folder->path(), bytes);
        writeRecording(m_folder->path(), recording);
        auto form = open();
        QPushButton *readAloud = button(*form, "Command1_0");
        bool enabledWhilePlaying = true;
        m_devices.last()->whilePlaying = [&] { enabledWhilePlaying = readAloud->isEnabled(); };
        m_devices.journal.clear();

        MessageBoxCatcher noMessage;
        QTest::mouseClick(readAloud, Qt::LeftButton);

        const QString path = m_folder->path() + u"/sound/"_s + recording;
        QCOMPARE(m_devices.journal,
                 QStringList({u"Notify=false"_s, u"FileName="_s + path, u"Command=open"_s,
                              u"Wait=true"_s, u"Command=play"_s, u"Command=close"_s}));
        QVERIFY(!enabledWhilePlaying);
        QVERIFY(readAloud->isEnabled());
        QTest::qWait(50);
        QVERIFY(!noMessage.seen());
    }

    void readAloudSaysWhatWentWrong_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("failingCommand");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");

        const auto missing = int(DeviceError::Kind::MissingFile);
        QTest::newRow("no recording") << JingYeSi << QString() << missing
                                      << u"没有找到《静夜思》的录音：%1/sound/静夜思.wav"_s;
        QTest::newRow("title naming a place outside the sound folder")
            << record("../" + gbk(u"春晓"_s)) << QString() << missing
            << u"没有找到《../春晓》的录音：%1/sound/../春晓.wav"_s;
        QTest::newRow("unreadable recording")
            << JingYeSi << u"open"_s << int(DeviceError::Kind::UnreadableFile)
            << u"无法播放《静夜思》的录音：%1/sound/静夜思.wav（原因）"_s;
        QTest::newRow("no sound output")
            << JingYeSi << u"play"_s << int(DeviceError::Kind::NoDevice)
            << u"没有可用的放音设备，无法朗读《静夜思》。请检查音箱或耳机（原因）"_s;
    }

    void readAloudSaysWhatWentWrong()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, failingCommand);
        QFETCH(int, kind);
        QFETCH(QString, message);
        writeLibrary(m_folder->path(), bytes);
        // Something outside the sound folder that the title would name.
        writeRecording(m_folder->path(), u"../春晓.wav"_s);
        if (!failingCommand.isEmpty()) {
            writeRecording(m_folder->path(), u"静夜思.wav"_s);
            m_devices.failures.insert(failingCommand,
                                      DeviceError{DeviceError::Kind(kind), u"原因"_s});
        }
        auto form = open();
        m_devices.journal.clear();

        MessageBoxCatcher catcher;
        QTest::mouseClick(button(*form, "Command1_0"), Qt::LeftButton);
        QTRY_VERIFY(catcher.seen());
        QCOMPARE(catcher.text(), message.arg(m_folder->path()));
        QCOMPARE(catcher.title(), u"Kavendo"_s);
        QCOMPARE(m_devices.journal.last(), u"Command=close"_s);
        QVERIFY(button(*form, "Command1_0")->isEnabled());
    }

    void helpShowsAMessage()
    {
        auto form = open();
        MessageBoxCatcher catcher;
        QTest::mouseClick(button(*form, "Command1_3"), Qt::LeftButton);
        QTRY_VERIFY(catcher.seen());
        QCOMPARE(catcher.title(), u"Kavendo"_s);
        QVERIFY(catcher.text().contains(u"朗读"_s));
    }

    void reloadShowsPoemOneOfTheNewLibrary()
    {
        writeLibrary(m_folder->path(), JingYeSi + ChunXiao);
        auto form = open();
        QTest::mouseClick(button(*form, "Command1_1"), Qt::LeftButton);
        QCOMPARE(text(*form, "Label2_1"), u"第2首"_s);

        writeLibrary(m_folder->path(), DengLou + ChunXiao + JingYeSi);
        form->Init_Me();
        QCOMPARE(text(*form, "Label2_0"), u"共3首"_s);
        QCOMPARE(text(*form, "Label2_1"), u"第1首"_s);
        QCOMPARE(text(*form, "Label1").section(u'\n', 0, 0), u"登鹳雀楼"_s);
        QCOMPARE(listItems(*form).size(), 3);
    }

    void maintenanceReloadsOnlyThroughItsReturnButton_data()
    {
        QTest::addColumn<bool>("throughReturn");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("records");

        QTest::newRow("返回 saves and shows poem 1") << true << u"第1首"_s << 3;
        QTest::newRow("close box neither saves nor reloads") << false << u"第2首"_s << 2;
    }

    void maintenanceReloadsOnlyThroughItsReturnButton()
    {
        QFETCH(bool, throughReturn);
        QFETCH(QString, shown);
        QFETCH(int, records);
        writeLibrary(m_folder->path(), JingYeSi + ChunXiao + DengLou);
        auto form = open();
        QTest::mouseClick(button(*form, "Command1_1"), Qt::LeftButton);

        answerNextDialog<QDialog>([&](QDialog *maintenance) {
            QCOMPARE(maintenance->windowTitle(), u"Kavendo——系统维护"_s);
            // Another copy of the program changed the library meanwhile.
            writeLibrary(m_folder->path(), JingYeSi + ChunXiao);
            if (throughReturn)
                QTest::mouseClick(maintenance->findChild<QPushButton *>(u"Command4"_s),
                                  Qt::LeftButton);
            else
                maintenance->close();
        });
        QTest::mouseClick(button(*form, "Command1_4"), Qt::LeftButton);

        QCOMPARE(text(*form, "Label2_1"), shown);
        QCOMPARE(listItems(*form).size(), 3);
        QCOMPARE(QFileInfo(m_folder->filePath(u"Kavendo.dbf"_s)).size(), records * 88);
    }

    void unreadableLibraryIsNamedAndLeavesTheWindowEmpty()
    {
        QVERIFY(QDir(m_folder->path()).mkdir(u"Kavendo.dbf"_s));
        MessageBoxCatcher catcher;
        auto form = open();
        QVERIFY(catcher.seen());
        QCOMPARE(
            catcher.text(),
            u"无法打开诗词库：%1/Kavendo.dbf（这是一个文件夹，不是文件）"_s.arg(m_folder->path()));
        QCOMPARE(text(*form, "Label2_0"), u"共0首"_s);
        QCOMPARE(buttonStates(*form), u"000111"_s);
    }

    void escapeDoesNotCloseTheWindow()
    {
        auto form = open();
        QTest::keyClick(form.get(), Qt::Key_Escape);
        QVERIFY(form->isVisible());
    }
};

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
