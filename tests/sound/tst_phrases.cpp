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

// A reader humming: every character a 220 ms hum, 30 ms apart, the phrases half a second apart,
// over noise at about -50 dBFS (none when quiet), with a fifth of a second of air around it.
Clip hummed(const QList<int> &characters, bool quiet)
{
    constexpr int rate = 22050;
    constexpr int hum = rate * 22 / 100;
    std::vector<double> all(rate / 5);
    for (const int count : characters) {
        for (int c = 0; c < count; ++c) {
            for (int i = 0; i < hum; ++i)
                all.push_back(6000 * std::sin(std::numbers::pi * i / hum) *
                              std::sin(2 * std::numbers::pi * 180 * i / rate));
            all.resize(all.size() + rate * 3 / 100);
        }
        all.resize(all.size() + rate / 2);
    }
    Clip clip{{}, rate, 1};
    quint32 seed = 1;
    for (const double sample : all) {
        seed = seed * 1664525 + 1013904223;
        const double noise = quiet ? 0 : (double(seed >> 16) / 65536 - 0.5) * 360;
        const auto value = qint16(std::lrint(sample + noise));
        clip.pcm.append(reinterpret_cast<const char *>(&value), sizeof value);
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

    // A recording is split into the title and the lines only when it plainly holds them: no
    // highlight is better than a wrong one.
    void findPhrases_data()
    {
        QTest::addColumn<QList<int>>("characters"); // read, phrase by phrase
        QTest::addColumn<bool>("quiet");
        QTest::addColumn<int>("found"); // phrases; 0 when unknown
        QTest::newRow("title and lines") << QList<int>{3, 5, 5, 5, 5} << false << 5;
        QTest::newRow("title not read") << QList<int>{5, 5, 5, 5} << false << 4;
        QTest::newRow("a line missing") << QList<int>{3, 5, 5, 5} << false << 0;
        QTest::newRow("pauses everywhere") << QList<int>(12, 1) << false << 0;
        QTest::newRow("noise") << QList<int>{} << false << 0;
        QTest::newRow("silence") << QList<int>{} << true << 0;
    }

    void findPhrases()
    {
        QFETCH(QList<int>, characters);
        QFETCH(bool, quiet);
        QFETCH(int, found);
        const auto phrases = ::findPhrases(hummed(characters, quiet), {3, {5, 5, 5, 5}});
        QCOMPARE(phrases ? int(phrases->size()) : 0, found);
        for (int i = 0; i < found; ++i)
            QCOMPARE((*phrases)[size_t(i)].part, i + 5 - found);
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
};

QTEST_GUILESS_MAIN(PhrasesTest)
#include "tst_phrases.moc"
