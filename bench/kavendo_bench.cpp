// Measures the paths that grow with the library or wait on sound, each against a floor measured
// in the same run, and says whether it meets its goal. Run it through bench/run.
//
//   kavendo-bench                  all figures (needs the PulseAudio server that bench/run starts)
//   kavendo-bench startup FOLDER   (internal) start the main window on FOLDER, report when shown
//   kavendo-bench memory FOLDER    (internal) open both windows on FOLDER, report resident memory

#include "CallSequences.h"
#include "CodePage936.h"
#include "Form1.h"
#include "Form2.h"
#include "LibraryFile.h"
#include "PhraseCorpus.h"
#include "Phrases.h"
#include "SoundCardDevice.h"
#include "SoundPath.h"
#include "WaveDeviceControl.h"
#include "WaveFile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int LargestLibrary = 32767;
constexpr int Runs = 7;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double millisecondsOf(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// The median time of several runs; prepare runs before each, untimed.
double medianMilliseconds(const std::function<void()> &work,
                          const std::function<void()> &prepare = {}, int runs = Runs)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        if (prepare)
            prepare();
        times.push_back(millisecondsOf(work));
    }
    return median(times);
}

void report(const char *figure, double value, const char *unit, double floor, const char *floorName,
            double goal, bool ratioGoal)
{
    const double ratio = floor > 0 ? value / floor : 0;
    const bool meets = ratioGoal ? ratio <= goal : value <= goal;
    std::printf("%-52s %9.2f %-3s | floor %9.2f %-3s (%s) | ratio %5.2f | goal %s %.2f%s | %s\n",
                figure, value, unit, floor, unit, floorName, ratio,
                ratioGoal ? "ratio <=" : "<=", goal, ratioGoal ? "" : unit,
                meets ? "meets goal" : "misses goal");
    std::fflush(stdout);
}

// A library of mixed Chinese and ASCII titles and lines, as a school's might be.
std::vector<PoemRecord> generatedLibrary(int count)
{
    static const QString characters =
        u"静夜思床前明月光疑是地上霜举头望故乡春眠不觉晓处闻啼鸟abcdefgXYZ 0123"_s;
    QRandomGenerator random(7);
    const auto text = [&](int length) {
        QString result;
        for (int i = 0; i < length; ++i)
            result += characters[random.bounded(characters.size())];
        return result;
    };
    const auto codePage = std::make_shared<const CodePage936>();
    std::vector<PoemRecord> Poems(1);
    for (int n = 1; n <= count; ++n) {
        PoemRecord poem(codePage);
        poem.setTitle(text(2 + random.bounded(10)));
        for (int i = 1; i <= PoemRecord::LineCount; ++i)
            poem.setLines(i, text(5 + random.bounded(4)));
        Poems.push_back(poem);
    }
    return Poems;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A 1.000 s tone, 22,050 Hz mono 16-bit, the way a recording made by the program is stored.
void writeTone(const QString &path)
{
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        qFatal("cannot write %s: %s", qPrintable(path), sf_strerror(nullptr));
    std::vector<short> samples(22050);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = short(8000 * std::sin(2 * M_PI * 440 * double(i) / 22050));
    sf_writef_short(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);
}

// Lets the list lay out every title; it does so in batches while the window is already shown.
void layOutList(QWidget &window)
{
    auto *list = window.findChild<QListView *>(u"List1"_s);
    const QModelIndex last = list->model()->index(list->model()->rowCount() - 1, 0);
    while (last.isValid() && !list->visualRect(last).isValid())
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

Environment environmentFor(const QString &folder)
{
    return Environment{folder, makeSoundCardDevice};
}

void libraryFigures(const QString &folder)
{
    const QString path = LibraryFile(folder);
    const QByteArray library = readAll(path);

    // The floor: read the whole file and decode all its text in one pass.
    const CodePage936 codePage;
    const double floor = medianMilliseconds([&] {
        volatile qsizetype decoded = codePage.decode(readAll(path)).size();
        (void)decoded;
    });

    Form1 main(environmentFor(folder));
    main.show();
    QCoreApplication::processEvents();
    const double initMe = medianMilliseconds([&] {
        main.Init_Me();
        // The list lays itself out and the window paints before the user sees the new library.
        main.repaint();
        layOutList(main);
    });
    report("main window Init_Me, 32,767 poems, list included", initMe, "ms", floor, "read+decode",
           3, true);

    const double maintenanceLoad = medianMilliseconds([&] {
        Form2 maintenance(environmentFor(folder), [] {});
        maintenance.show();
        layOutList(maintenance);
    });
    report("maintenance window load, 32,767 poems", maintenanceLoad, "ms", floor, "read+decode", 3,
           true);

    // Step to poem 16,000 the way a user does: double-click it in the list.
    layOutList(main);
    auto *list = main.findChild<QListView *>(u"List1"_s);
    const QModelIndex poem16000 = list->model()->index(15999, 0);
    list->scrollTo(poem16000);
    list->setCurrentIndex(poem16000);
    QTest::mouseDClick(main.windowHandle(), Qt::LeftButton, {},
                       list->viewport()->mapTo(&main, list->visualRect(poem16000).center()));
    auto *next = main.findChild<QPushButton *>(u"Command1_1"_s);
    auto *previous = main.findChild<QPushButton *>(u"Command1_2"_s);
    const auto step = [](QPushButton *button) {
        return medianMilliseconds(
            [&] {
                button->click();
                QCoreApplication::processEvents();
            },
            {}, 101);
    };
    std::vector<double> nextTimes;
    std::vector<double> previousTimes;
    for (int i = 0; i < 51; ++i) {
        nextTimes.push_back(step(next));
        previousTimes.push_back(step(previous));
    }
    report("下一首 at poem 16,000 of 32,767", median(nextTimes), "ms", 0, "none", 1, false);
    report("上一首 at poem 16,000 of 32,767", median(previousTimes), "ms", 0, "none", 1, false);

    // Deleting poem 1 rewrites the whole library and flushes it to disk. The floor writes the
    // same bytes and flushes as the rewrite does, the file and then the folder that names it;
    // the two are measured in turns, so that the disk's moods fall on both alike.
    const QByteArray afterDeletion = library.sliced(88);
    const QString floorPath = folder + u"/floor.dbf"_s;
    const auto writeFloor = [&] {
        const int fd =
            ::open(QFile::encodeName(floorPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 ||
            ::write(fd, afterDeletion.constData(), size_t(afterDeletion.size())) !=
                afterDeletion.size() ||
            ::fsync(fd) != 0)
            qFatal("cannot write the floor file");
        ::close(fd);
        const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
        ::fsync(folderFd);
        ::close(folderFd);
    };
    std::vector<double> deletions;
    std::vector<double> floors;
    for (int run = 0; run < 3 * Runs; ++run) {
        writeAll(path, library);
        Form2 maintenance(environmentFor(folder), [] {});
        maintenance.show();
        layOutList(maintenance);
        auto *maintenanceList = maintenance.findChild<QListView *>(u"List1"_s);
        const QModelIndex first = maintenanceList->model()->index(0, 0);
        QTest::mouseDClick(maintenance.windowHandle(), Qt::LeftButton, {},
                           maintenanceList->viewport()->mapTo(
                               &maintenance, maintenanceList->visualRect(first).center()));
        deletions.push_back(
            millisecondsOf([&] { maintenance.findChild<QPushButton *>(u"Command2"_s)->click(); }));
        if (readAll(path) != afterDeletion)
            qFatal("the deletion did not leave the library one poem shorter");
        floors.push_back(millisecondsOf(writeFloor));
    }
    const double deletion = median(deletions);
    const double flushFloor = median(floors);
    report("delete poem 1 of 32,767, rewrite flushed", deletion, "ms", flushFloor, "write+fsync",
           1.5, true);
    writeAll(path, library);
}

void playFigure(const QString &folder)
{
    QDir(folder).mkpath(u"sound"_s);
    const QString tone = folder + u"/sound/tone.wav"_s;
    writeTone(tone);

    WaveDeviceControl MMControl1;
    MMControl1.setDevice(makeSoundCardDevice());
    MMControl1.setDeviceType(u"waveaudio"_s);
    const double played = medianMilliseconds(
        [&] {
            if (const auto error = playToEnd(MMControl1, tone))
                qFatal("cannot play the tone: %s", qPrintable(error->detail));
        },
        {}, 5);
    const double paplay = medianMilliseconds(
        [&] {
            if (QProcess::execute(u"paplay"_s, {tone}) != 0)
                qFatal("paplay failed");
        },
        {}, 5);
    report("play-to-end of a 1.000 s recording", played, "ms", paplay, "paplay", 1.05, true);
}

// How well the phrases of recordings with known boundaries are found, through kavendo-phrases as
// a developer runs it, and how long the analysis of a recording of about 20 s takes.
void phraseFigures()
{
    QTemporaryDir folder;
    QString error;
    const QStringList programFolders = writePhraseCorpus(folder.path(), MeasuredCorpus, error);
    if (programFolders.isEmpty())
        qFatal("cannot write the phrase corpus: %s", qPrintable(error));
    PhraseScore score;
    for (const QString &programFolder : programFolders) {
        QProcess phrases;
        phrases.start(QStringLiteral(KAVENDO_PHRASES), {programFolder});
        if (!phrases.waitForFinished(60000) || phrases.exitCode() != 0)
            qFatal("kavendo-phrases failed on %s", qPrintable(programFolder));
        scorePhrases(readAll(programFolder + u"/truth.txt"_s), phrases.readAllStandardOutput(),
                     score);
    }
    std::printf("%-52s %8.1f %%  | %d recordings, %d unknown, %d misplaced by > 300 ms "
                "(%.1f %% safe) | goal >= 95 %%, >= 99 %% safe | %s\n",
                "phrase boundaries within 100 ms of the truth", 100 * score.closeShare(),
                score.recordings, score.unknown, score.misplaced, 100 * score.safeShare(),
                score.closeShare() >= 0.95 && score.safeShare() >= 0.99 ? "meets goal"
                                                                        : "misses goal");

    // The corpus's recording nearest to 20 s, with its poem.
    const QString programFolder = programFolders.first();
    const LoadedLibrary library =
        loadLibrary(LibraryFile(programFolder), std::make_shared<const CodePage936>());
    std::optional<Clip> clip;
    PoemShape shape;
    for (size_t n = 1; n < library.Poems.size(); ++n) {
        const PoemRecord &poem = library.Poems[n];
        std::optional<Clip> candidate =
            readWaveFile(locateRecording(SoundPath(programFolder, poem.Title())), error);
        if (!candidate || (clip && std::abs(clip->milliseconds() - 20000) <=
                                       std::abs(candidate->milliseconds() - 20000)))
            continue;
        clip = std::move(candidate);
        shape =
            poemShape(poem.Title(), {poem.Lines(1), poem.Lines(2), poem.Lines(3), poem.Lines(4)});
    }
    if (!clip)
        qFatal("the phrase corpus has no recording");
    const double analysis = medianMilliseconds(
        [&] {
            volatile bool found = findPhrases(*clip, shape).has_value();
            (void)found;
        },
        {}, 51);
    const QByteArray figure = "analysis of a " +
                              QByteArray::number(double(clip->milliseconds()) / 1000, 'f', 1) +
                              " s recording (" + QByteArray::number(clip->sampleRate) + " Hz)";
    report(figure.constData(), analysis, "ms", 0, "none", 5, false);
}

// Runs this program again for a figure of a fresh process; returns the number it prints.
double child(const char *mode, const QString &folder)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode), folder});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qFatal("kavendo-bench %s failed", mode);
    return process.readAllStandardOutput().trimmed().toDouble();
}

void processFigures(const QString &full, const QString &empty)
{
    // Full and empty in turns, so that whatever else the machine does falls on both alike.
    std::vector<double> fullTimes;
    std::vector<double> emptyTimes;
    // From starting the process to the moment its main window has painted itself.
    const auto startup = [](const QString &folder) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer timer;
        timer.start();
        process.start(QCoreApplication::applicationFilePath(), {u"startup"_s, folder});
        if (!process.waitForReadyRead(60000))
            qFatal("kavendo-bench startup showed no window");
        const double shown = double(timer.nsecsElapsed()) / 1e6;
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            qFatal("kavendo-bench startup failed");
        return shown;
    };
    for (int run = 0; run < 3 * Runs; ++run) {
        fullTimes.push_back(startup(full));
        emptyTimes.push_back(startup(empty));
    }
    report("process start to main window shown, 32,767 poems", median(fullTimes), "ms",
           median(emptyTimes), "empty library", 1.3, true);

    const double fullMemory = child("memory", full);
    const double emptyMemory = child("memory", empty);
    std::printf("%-52s %9.2f MB  | floor %9.2f MB  (empty library) | extra %5.2f MB | goal <= +20 "
                "MB | %s\n",
                "resident memory, 32,767 poems in both windows", fullMemory, emptyMemory,
                fullMemory - emptyMemory,
                fullMemory - emptyMemory <= 20 ? "meets goal" : "misses goal");
}

// Closes a window once it has painted itself for the first time.
// Says "shown" the moment a window has painted itself for the first time, then closes it.
class ReportWhenPainted final : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_reported) {
            m_reported = true;
            std::puts("shown");
            std::fflush(stdout);
            QTimer::singleShot(0, watched,
                               [window = static_cast<QDialog *>(watched)] { window->accept(); });
        }
        return false;
    }

private:
    bool m_reported = false;
};

// The main window on folder, as the program starts it after the splash.
int startup(const QString &folder)
{
    Form1 main(environmentFor(folder));
    ReportWhenPainted reporter;
    main.installEventFilter(&reporter);
    main.exec();
    return 0;
}

int residentMemory(const QString &folder)
{
    Form1 main(environmentFor(folder));
    main.show();
    Form2 maintenance(
        environmentFor(folder), [] {}, &main);
    maintenance.show();
    layOutList(main);
    layOutList(maintenance);
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            std::printf("%.2f\n", line.mid(6).trimmed().split(' ').first().toDouble() / 1024);
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "startup") == 0)
        return startup(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && qstrcmp(argv[1], "memory") == 0)
        return residentMemory(QString::fromLocal8Bit(argv[2]));

    QTemporaryDir full;
    QTemporaryDir empty;
    if (const LibraryError error =
            rewriteLibrary(LibraryFile(full.path()), generatedLibrary(LargestLibrary)))
        qFatal("%s", qPrintable(*error));
    if (const LibraryError error = rewriteLibrary(LibraryFile(empty.path()), {PoemRecord()}))
        qFatal("%s", qPrintable(*error));

    std::printf("Medians of several runs; floors measured in the same run.\n");
    libraryFigures(full.path());
    playFigure(full.path());
    phraseFigures();
    processFigures(full.path(), empty.path());
    return 0;
}
