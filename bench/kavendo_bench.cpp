// Measures what grows with the library or waits on sound, at 1,000 and at 32,767 poems. Each
// figure is measured in turns with its floor, what any program must do for the same result, so
// that whatever else the machine does falls on both alike. Run it through bench/run.
//
//   kavendo-bench                  all figures (needs the PulseAudio server that bench/run starts)
//   kavendo-bench memory FOLDER    (internal) open both windows on FOLDER, print resident memory

#include "CallSequences.h"
#include "CodePage936.h"
#include "Figures.h"
#include "Form1.h"
#include "Form2.h"
#include "LibraryFile.h"
#include "PaintWatch.h"
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

#include <array>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int SmallLibrary = 1000;
constexpr int LargeLibrary = 32767;
constexpr int Rounds = 21;
constexpr qsizetype RecordSize = PoemRecord::RecordSize;
// The longest that anything measured may take before the benchmark gives up on it.
constexpr int GiveUpMilliseconds = 60000;

double millisecondsSince(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

double millisecondsOf(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return millisecondsSince(timer);
}

// Lets the events run until watched has painted itself with ready() holding; returns the
// milliseconds from the timer's start until that paint was over.
double untilPainted(const QElapsedTimer &timer, QWidget *watched, std::function<bool()> ready)
{
    std::optional<double> painted;
    PaintWatch watch(watched, std::move(ready), [&] { painted = millisecondsSince(timer); });
    // Wakes the wait now and then, so that a paint that never comes ends the benchmark.
    QTimer giveUp;
    giveUp.start(1000);
    while (!painted) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (timer.elapsed() > GiveUpMilliseconds)
            qFatal("%s never painted what was awaited", qPrintable(watched->objectName()));
    }
    return *painted;
}

QListView *listOf(QWidget &window)
{
    return window.findChild<QListView *>(u"List1"_s);
}

// Painted with all of the library's rows laid out.
double untilListPainted(const QElapsedTimer &timer, QListView *list, int rows)
{
    return untilPainted(timer, list->viewport(), [list, rows] {
        return list->model()->rowCount() == rows && isLaidOut(list);
    });
}

// Waits, untimed, until the list has shown all its rows, even where it painted them before.
void waitForList(QWidget &window, int rows)
{
    QElapsedTimer timer;
    timer.start();
    listOf(window)->viewport()->update();
    untilListPainted(timer, listOf(window), rows);
}

// The list must be laid out.
void doubleClickRow(QWidget &window, int row)
{
    QListView *list = listOf(window);
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {},
                       list->viewport()->mapTo(&window, list->visualRect(index).center()));
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

Environment environmentFor(const QString &folder)
{
    return Environment{folder, makeSoundCardDevice};
}

// What any program must do to show a library: read its file, and decode what the window shows,
// the titles in view and poem 1.
void readAndDecodeShown(const QString &path, int rowsInView, const CodePage936 &codePage)
{
    const QByteArray bytes = readAll(path);
    const qsizetype records = bytes.size() / RecordSize;
    qsizetype characters = 0;
    for (qsizetype n = 0; n < std::min<qsizetype>(rowsInView, records); ++n)
        characters += codePage.decode(bytes.sliced(n * RecordSize, PoemRecord::TitleLength)).size();
    if (records > 0) {
        characters += codePage
                          .decode(bytes.sliced(PoemRecord::TitleLength,
                                               PoemRecord::LineCount * PoemRecord::LineLength))
                          .size();
    }
    volatile qsizetype decoded = characters;
    (void)decoded;
}

// What any program must do to delete a poem for good: write the library without it and flush
// it to the disk, the file and then the folder that names it, as the rewrite does.
void writeAndFlush(const QString &folder, const QByteArray &records)
{
    const QByteArray path = QFile::encodeName(folder + u"/floor.dbf"_s);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 ||
        ::write(fd, records.constData(), size_t(records.size())) != ssize_t(records.size()) ||
        ::fsync(fd) != 0)
        qFatal("cannot write the floor file");
    ::close(fd);
    const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    ::fsync(folderFd);
    ::close(folderFd);
}

// A generated library in a folder of its own, beside a copy of the program, which takes the
// folder that holds a library as its own.
struct Library
{
    int poems = 0;
    QString folder;
    QByteArray records;

    QString file() const { return LibraryFile(folder); }
};

Library makeLibrary(const QString &root, int poems)
{
    Library library{poems, root + u'/' + QString::number(poems), {}};
    QDir().mkpath(library.folder);
    if (const LibraryError error = rewriteLibrary(library.file(), generatedLibrary(poems)))
        qFatal("%s", qPrintable(*error));
    library.records = readAll(library.file());
    if (!QFile::copy(QStringLiteral(KAVENDO_PROGRAM), library.folder + u"/kavendo"_s))
        qFatal("cannot copy the program to %s", qPrintable(library.folder));
    return library;
}

class Benchmark final
{
    Q_DISABLE_COPY_MOVE(Benchmark)

public:
    Benchmark()
        : m_empty(makeLibrary(m_root.path(), 0))
        , m_small(makeLibrary(m_root.path(), SmallLibrary))
        , m_large(makeLibrary(m_root.path(), LargeLibrary))
    {
    }

    void loadFigures();
    void stepFigures();
    void deleteFigure();
    void playFigure();
    void phraseFigures();
    void processFigures();
    void printGrowth() const { m_figures.printGrowth(); }

private:
    // The two sizes whose figures give the growth.
    std::array<const Library *, 2> sized() const { return {&m_small, &m_large}; }

    QTemporaryDir m_root;
    Library m_empty;
    Library m_small;
    Library m_large;
    Figures m_figures;
};

// The main window on the library, shown with its list laid out.
std::unique_ptr<Form1> shownMainWindow(const Library &library)
{
    auto main = std::make_unique<Form1>(environmentFor(library.folder));
    main->show();
    waitForList(*main, library.poems);
    return main;
}

// Loading the library into either window.
void Benchmark::loadFigures()
{
    std::array<Samples, 2> initMe, initMeFloor, maintenance, maintenanceFloor;
    std::array<std::unique_ptr<Form1>, 2> mains;
    std::array<int, 2> rowsInView{};
    // Like a window's, its tables fill as characters are first met.
    const CodePage936 codePage;
    for (size_t s = 0; s < 2; ++s) {
        mains[s] = shownMainWindow(*sized()[s]);
        const QListView *list = listOf(*mains[s]);
        rowsInView[s] = list->viewport()->height() / list->sizeHintForRow(0) + 1;
    }

    for (int round = 0; round < Rounds; ++round) {
        for (size_t s = 0; s < 2; ++s) {
            const Library &library = *sized()[s];
            initMeFloor[s].add(millisecondsOf(
                [&] { readAndDecodeShown(library.file(), rowsInView[s], codePage); }));
            QElapsedTimer timer;
            timer.start();
            mains[s]->Init_Me();
            initMe[s].add(untilListPainted(timer, listOf(*mains[s]), library.poems));

            maintenanceFloor[s].add(millisecondsOf(
                [&] { readAndDecodeShown(library.file(), rowsInView[s], codePage); }));
            timer.start();
            Form2 window(environmentFor(library.folder), [] {});
            window.show();
            maintenance[s].add(untilListPainted(timer, listOf(window), library.poems));
        }
    }
    m_figures.againstFloor("main window `Init_Me`, 32,767 poems, until its list is painted",
                           initMe[1], initMeFloor[1], "read the file, decode what is shown", "ms",
                           3);
    m_figures.againstFloor("maintenance window opened, 32,767 poems, until its list is painted",
                           maintenance[1], maintenanceFloor[1],
                           "read the file, decode what is shown", "ms", 3);
    m_figures.growth("main window `Init_Me`", initMe[0], initMe[1], "ms",
                     initMeFloor[1].median() / initMeFloor[0].median());
    m_figures.growth("maintenance window opened", maintenance[0], maintenance[1], "ms",
                     maintenanceFloor[1].median() / maintenanceFloor[0].median());
}

// Stepping the way a child does, from a poem in the middle double-clicked in the list, until
// the next poem is painted.
void Benchmark::stepFigures()
{
    std::array<Samples, 2> next, previous;
    std::array<std::unique_ptr<Form1>, 2> mains;
    for (size_t s = 0; s < 2; ++s) {
        mains[s] = shownMainWindow(*sized()[s]);
        doubleClickRow(*mains[s], sized()[s]->poems / 2 - 1);
    }
    const auto step = [&mains](size_t s, const QString &button) {
        QWidget *display = mains[s]->findChild<QWidget *>(u"Label1"_s);
        QElapsedTimer timer;
        timer.start();
        mains[s]->findChild<QPushButton *>(button)->click();
        return untilPainted(timer, display, [] { return true; });
    };
    for (int round = 0; round < 5 * Rounds; ++round) {
        for (size_t s = 0; s < 2; ++s) {
            next[s].add(step(s, u"Command1_1"_s));
            previous[s].add(step(s, u"Command1_2"_s));
        }
    }
    m_figures.absolute("下一首 in the middle of 32,767 poems, until the poem is painted", next[1],
                       "ms", 1);
    m_figures.absolute("上一首 in the middle of 32,767 poems, until the poem is painted",
                       previous[1], "ms", 1);
    m_figures.growth("下一首", next[0], next[1], "ms");
    m_figures.growth("上一首", previous[0], previous[1], "ms");
}

// Deleting poem 1 rewrites the whole library and flushes it to the disk; the list then shows
// one title fewer.
void Benchmark::deleteFigure()
{
    std::array<Samples, 2> deletions, floors;
    for (int round = 0; round < Rounds; ++round) {
        for (size_t s = 0; s < 2; ++s) {
            const Library &library = *sized()[s];
            writeAll(library.file(), library.records);
            Form2 maintenance(environmentFor(library.folder), [] {});
            maintenance.show();
            waitForList(maintenance, library.poems);
            doubleClickRow(maintenance, 0);

            QElapsedTimer timer;
            timer.start();
            maintenance.findChild<QPushButton *>(u"Command2"_s)->click();
            deletions[s].add(untilListPainted(timer, listOf(maintenance), library.poems - 1));
            const QByteArray afterDeletion = library.records.sliced(RecordSize);
            if (readAll(library.file()) != afterDeletion)
                qFatal("the deletion did not leave the library one poem shorter");

            floors[s].add(millisecondsOf([&] { writeAndFlush(library.folder, afterDeletion); }));
        }
    }
    for (const Library *library : sized())
        writeAll(library->file(), library->records);
    m_figures.againstFloor("delete poem 1 of 32,767, until the list is painted again", deletions[1],
                           floors[1], "write the same bytes, same flushes", "ms", 1.5);
    m_figures.growth("delete poem 1", deletions[0], deletions[1], "ms",
                     floors[1].median() / floors[0].median());
}

void Benchmark::playFigure()
{
    QDir(m_large.folder).mkpath(u"sound"_s);
    const QString tone = m_large.folder + u"/sound/tone.wav"_s;
    writeTone(tone);

    WaveDeviceControl MMControl1;
    MMControl1.setDevice(makeSoundCardDevice());
    MMControl1.setDeviceType(u"waveaudio"_s);
    Samples played, paplay;
    for (int round = 0; round < 5; ++round) {
        played.add(millisecondsOf([&] {
            if (const auto error = playToEnd(MMControl1, tone))
                qFatal("cannot play the tone: %s", qPrintable(error->detail));
        }));
        paplay.add(millisecondsOf([&] {
            if (QProcess::execute(u"paplay"_s, {tone}) != 0)
                qFatal("paplay failed");
        }));
    }
    m_figures.againstFloor("play-to-end of a 1.000 s recording", played, paplay,
                           "`paplay` of the same file", "ms", 1.05);
}

// How well the phrases of recordings with known boundaries are found, through kavendo-phrases as
// a developer runs it, and how long the analysis of a recording of about 20 s takes.
void Benchmark::phraseFigures()
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
        if (!phrases.waitForFinished(GiveUpMilliseconds) || phrases.exitCode() != 0)
            qFatal("kavendo-phrases failed on %s", qPrintable(programFolder));
        scorePhrases(readAll(programFolder + u"/truth.txt"_s), phrases.readAllStandardOutput(),
                     score);
    }
    m_figures.row("phrases found in " + QByteArray::number(score.recordings) +
                      " generated recordings: boundaries within 100 ms of the truth",
                  QByteArray::number(100 * score.closeShare(), 'f', 1) + " %", "—", "—", "≥ 95 %",
                  score.closeShare() >= 0.95);
    m_figures.row("the same recordings: \"unknown\" rather than a boundary off by more than 300 ms",
                  QByteArray::number(100 * score.safeShare(), 'f', 1) + " % (" +
                      QByteArray::number(score.unknown) + " unknown, " +
                      QByteArray::number(score.misplaced) + " off)",
                  "—", "—", "≥ 99 %", score.safeShare() >= 0.99);

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
    Samples analysis;
    for (int run = 0; run < 51; ++run) {
        analysis.add(millisecondsOf([&] {
            volatile bool found = findPhrases(*clip, shape).has_value();
            (void)found;
        }));
    }
    const QByteArray figure = "finding the phrases of a " +
                              QByteArray::number(double(clip->milliseconds()) / 1000, 'f', 1) +
                              " s recording (" + QByteArray::number(clip->sampleRate) + " Hz)";
    m_figures.absolute(figure.constData(), analysis, "ms", 5);
}

// Starts a copy of the program on the library beside it, with the probe that closes the splash
// at once and reports the list's first full paint; returns the milliseconds from the start of
// the process to that paint.
double startupMilliseconds(const Library &library)
{
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LD_PRELOAD"_s, QStringLiteral(KAVENDO_STARTUP_PROBE));
    program.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    program.start(library.folder + u"/kavendo"_s, {});
    if (!program.waitForReadyRead(GiveUpMilliseconds))
        qFatal("the program in %s painted no list", qPrintable(library.folder));
    const double painted = millisecondsSince(timer);
    if (!program.waitForFinished(GiveUpMilliseconds) || program.exitCode() != 0)
        qFatal("the program in %s did not end after its list was painted",
               qPrintable(library.folder));
    const QByteArray said = program.readAllStandardOutput().trimmed();
    if (said != "painted " + QByteArray::number(library.poems))
        qFatal("the program in %s said \"%s\"", qPrintable(library.folder), said.constData());
    return painted;
}

// Runs this program again on the library, to measure a fresh process's resident memory.
double residentMegabytes(const Library &library)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), {u"memory"_s, library.folder});
    if (!process.waitForFinished(GiveUpMilliseconds) || process.exitCode() != 0)
        qFatal("kavendo-bench memory failed on %s", qPrintable(library.folder));
    return process.readAllStandardOutput().trimmed().toDouble();
}

void Benchmark::processFigures()
{
    const std::array<const Library *, 3> libraries{&m_empty, &m_small, &m_large};
    // A first start of each copy of the program reads it from the disk; the user's starts find it
    // in the page cache.
    for (const Library *library : libraries)
        startupMilliseconds(*library);
    std::array<Samples, 3> startups, memories;
    for (int round = 0; round < Rounds; ++round) {
        for (size_t s = 0; s < libraries.size(); ++s)
            startups[s].add(startupMilliseconds(*libraries[s]));
    }
    for (int round = 0; round < 5; ++round) {
        for (size_t s = 0; s < libraries.size(); ++s)
            memories[s].add(residentMegabytes(*libraries[s]));
    }
    m_figures.againstFloor("process start to the main window's full list painted, 32,767 poems",
                           startups[2], startups[0], "the same, empty library", "ms", 1.3);
    m_figures.growth("process start to the full list painted", startups[1], startups[2], "ms");

    const double extra = memories[2].median() - memories[0].median();
    m_figures.row("resident memory, 32,767 poems in both windows", memories[2].spread(1) + " MB",
                  "the same, empty library: " + memories[0].spread(1) + " MB",
                  "+" + QByteArray::number(extra, 'f', 1) + " MB", "≤ +20 MB", extra <= 20);
    m_figures.growth("resident memory", memories[1], memories[2], "MB");
}

// Both windows open on the library in folder, as a parent has them during maintenance.
int residentMemory(const QString &folder)
{
    Form1 main(environmentFor(folder));
    main.show();
    Form2 maintenance(
        environmentFor(folder), [] {}, &main);
    maintenance.show();
    const int poems = listOf(main)->model()->rowCount();
    waitForList(main, poems);
    waitForList(maintenance, poems);
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
    if (argc == 3 && qstrcmp(argv[1], "memory") == 0)
        return residentMemory(QString::fromLocal8Bit(argv[2]));

    std::printf("Each figure as min / median / max of its runs, in turns with its floor.\n\n");
    Benchmark benchmark;
    benchmark.loadFigures();
    benchmark.stepFigures();
    benchmark.deleteFigure();
    benchmark.playFigure();
    benchmark.phraseFigures();
    benchmark.processFigures();
    benchmark.printGrowth();
    return 0;
}
