#include "PhraseCorpus.h"
#include "Phrases.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <numbers>

using namespace Qt::StringLiterals;

namespace {

enum class Extra { None, Click, Breath, DeadAir, Silence, Noise };

// A reading made of hums: every character a 220 ms hum with its harmonics, 30 ms apart, the
// phrases separated by pauses, over noise at -50 dBFS. truth receives where the phrases are.
Clip hummed(const QList<int> &characters, const QList<int> &pausesMs, Extra extra, int channels,
            std::vector<Phrase> &truth)
{
    constexpr int rate = 22050;
    std::vector<double> all(extra == Extra::DeadAir ? rate : rate / 5);
    for (qsizetype p = 0; p < characters.size(); ++p) {
        if (p > 0)
            all.resize(all.size() + size_t(pausesMs[p - 1] * rate / 1000));
        truth.push_back({int(p), qint64(all.size()) * 1000 / rate, 0});
        for (int c = 0; c < characters[p]; ++c) {
            const size_t length = rate * 22 / 100;
            for (size_t i = 0; i < length; ++i) {
                const double t = double(i) / rate;
                const double swell = std::sin(std::numbers::pi * double(i) / double(length));
                all.push_back(6000 * std::sqrt(swell) *
                              (std::sin(2 * std::numbers::pi * 180 * t) +
                               0.5 * std::sin(2 * std::numbers::pi * 360 * t)));
            }
            if (c + 1 < characters[p])
                all.resize(all.size() + rate * 3 / 100);
        }
        truth.back().endMs = qint64(all.size()) * 1000 / rate;
    }
    all.resize(all.size() + rate / 5);
    const size_t pause = size_t(truth[0].endMs * rate / 1000) + rate / 5;
    quint32 seed = 1;
    for (size_t i = 0; i < all.size(); ++i) {
        seed = seed * 1664525 + 1013904223;
        const double noise = (double(seed >> 16) / 65536 - 0.5) * 360; // about -50 dBFS
        if (extra == Extra::Silence)
            all[i] = 0;
        else if (extra == Extra::Noise)
            all[i] = noise;
        else
            all[i] += noise;
        if (extra == Extra::Click && i >= pause && i < pause + 100) // a knock ringing at 3 kHz
            all[i] += 20000 * std::exp(-double(i - pause) / 22) *
                      std::sin(2 * std::numbers::pi * 3000 * double(i - pause) / rate);
        if (extra == Extra::Breath && i >= pause && i < pause + rate / 4)
            all[i] += noise * 8;
    }
    Clip clip{{}, rate, channels};
    for (const double sample : all) {
        for (int c = 0; c < channels; ++c) {
            const qint16 value = qint16(std::lrint(sample));
            clip.pcm.append(reinterpret_cast<const char *>(&value), 2);
        }
    }
    return clip;
}

bool hasEspeak()
{
    return !QStandardPaths::findExecutable(u"espeak-ng"_s).isEmpty();
}

QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qWarning() << program << process.readAllStandardError();
    return process.readAllStandardOutput();
}

} // namespace

class PhrasesTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Only what is read aloud counts: spaces and punctuation are not.
    void poemShape()
    {
        const PoemShape shape =
            ::poemShape(u"  咏鹅   ", {u"鹅，鹅，鹅，", u"曲项向天歌。", u"Li Bai 701", u"……"});
        QCOMPARE(shape.title, 2);
        QCOMPARE(shape.lines, (std::array<int, 4>{3, 5, 8, 0}));
    }

    // The title and lines of the clip; the shape says how many characters the poem has.
    void findPhrases_data()
    {
        QTest::addColumn<QList<int>>("characters"); // read, phrase by phrase
        QTest::addColumn<QList<int>>("pausesMs");
        QTest::addColumn<Extra>("extra"); // in the first pause, or before the reading
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("title"); // characters of the poem's title
        QTest::addColumn<bool>("known");
        const QList<int> poem{3, 5, 5, 5, 5};
        const QList<int> pauses{600, 400, 500, 400};
        QTest::newRow("title and lines") << poem << pauses << Extra::None << 1 << 3 << true;
        QTest::newRow("stereo") << poem << pauses << Extra::None << 2 << 3 << true;
        QTest::newRow("title not read")
            << QList<int>{5, 5, 5, 5} << QList<int>{400, 500, 400} << Extra::None << 1 << 3 << true;
        QTest::newRow("click in a pause") << poem << pauses << Extra::Click << 1 << 3 << true;
        QTest::newRow("breath in a pause") << poem << pauses << Extra::Breath << 1 << 3 << true;
        QTest::newRow("dead air") << poem << pauses << Extra::DeadAir << 1 << 3 << true;
        QTest::newRow("silence") << poem << pauses << Extra::Silence << 1 << 3 << false;
        QTest::newRow("noise") << poem << pauses << Extra::Noise << 1 << 3 << false;
        QTest::newRow("a line missing") << QList<int>{3, 5, 5, 5} << QList<int>{600, 400, 500}
                                        << Extra::None << 1 << 3 << false;
        QTest::newRow("pauses everywhere") << QList<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}
                                           << QList<int>(11, 400) << Extra::None << 1 << 3 << false;
    }

    void findPhrases()
    {
        QFETCH(QList<int>, characters);
        QFETCH(QList<int>, pausesMs);
        QFETCH(Extra, extra);
        QFETCH(int, channels);
        QFETCH(int, title);
        QFETCH(bool, known);
        std::vector<Phrase> truth;
        const Clip clip = hummed(characters, pausesMs, extra, channels, truth);
        const auto phrases = ::findPhrases(clip, {title, {5, 5, 5, 5}});
        QCOMPARE(phrases.has_value(), known);
        if (!known)
            return;
        QCOMPARE(phrases->size(), truth.size());
        for (size_t i = 0; i < truth.size(); ++i) {
            QCOMPARE((*phrases)[i].part, int(i + 5 - truth.size()));
            QVERIFY2(std::abs((*phrases)[i].startMs - truth[i].startMs) <= 100 &&
                         std::abs((*phrases)[i].endMs - truth[i].endMs) <= 100,
                     qPrintable(u"phrase %1 at %2-%3 ms, read at %4-%5 ms"_s.arg(i)
                                    .arg((*phrases)[i].startMs)
                                    .arg((*phrases)[i].endMs)
                                    .arg(truth[i].startMs)
                                    .arg(truth[i].endMs)));
        }
    }

    // Recordings of real poems whose boundaries are known, through kavendo-phrases.
    void accuracy()
    {
        if (!hasEspeak())
            QSKIP("espeak-ng is not installed (./setup installs it)");
        QTemporaryDir folder;
        QString error;
        const QStringList programFolders = writePhraseCorpus(folder.path(), MeasuredCorpus, error);
        QVERIFY2(!programFolders.isEmpty(), qPrintable(error));
        PhraseScore score;
        for (const QString &programFolder : programFolders) {
            QFile truth(programFolder + u"/truth.txt"_s);
            QVERIFY(truth.open(QIODevice::ReadOnly));
            scorePhrases(truth.readAll(), run(KAVENDO_PHRASES ""_L1, {programFolder}), score);
        }
        qInfo().noquote() << score.summary();
        QVERIFY2(score.recordings > 100, qPrintable(score.summary()));
        QVERIFY2(score.closeShare() >= 0.95, qPrintable(score.summary()));
        QVERIFY2(score.safeShare() >= 0.99, qPrintable(score.summary()));
    }

    // The demo library's recordings, each a whole poem read in one go, all get their phrases.
    void demo()
    {
        if (!hasEspeak())
            QSKIP("espeak-ng is not installed (./setup installs it)");
        QTemporaryDir folder;
        run(SOURCE_DIR "/demo/install-demo"_L1, {folder.path(), DEMO_FOLDER ""_L1});
        const QStringList lines = QString::fromUtf8(run(KAVENDO_PHRASES ""_L1, {folder.path()}))
                                      .split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 10);
        for (const QString &line : lines)
            QVERIFY2(line.split(u'\t').last().split(u' ').size() == 10, qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(PhrasesTest)
#include "tst_phrases.moc"
