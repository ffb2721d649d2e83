#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Recordings of poems whose true phrase boundaries are known: espeak-ng's Mandarin voice reads
// each title and line at several speeds and pitches, and the readings are joined by pauses over
// a noise floor, some with a breath or a click in a pause, some without the title, some with
// dead air at either end.

// Writes the corpus as program folders under folder, each holding a library, the recordings
// and truth.txt: what kavendo-phrases should print for it. The poems are the demo library's and
// corpus-poems.txt's; seed chooses the voices, pauses, noise and the rest. espeak-ng's readings
// are kept in folder, so that each is made once. Returns the program folders; none, with error
// saying why, when it cannot.
QStringList writePhraseCorpus(const QString &folder, quint32 seed, QString &error);

// The seed of the corpus that the tests and the benchmark measure.
constexpr quint32 MeasuredCorpus = 14;

struct PhraseScore
{
    int recordings = 0;
    int unknown = 0;
    // Recordings with a boundary further than 300 ms from the truth, or the wrong phrases.
    int misplaced = 0;
    int boundaries = 0;
    // Boundaries placed within 100 ms of the truth.
    int close = 0;

    double closeShare() const { return boundaries ? double(close) / boundaries : 0; }
    double safeShare() const { return recordings ? 1 - double(misplaced) / recordings : 0; }
    QString summary() const;
};

// Adds to score how kavendo-phrases' output for a folder compares with its truth.txt.
void scorePhrases(const QByteArray &truth, const QByteArray &found, PhraseScore &score);
