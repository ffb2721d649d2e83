#include "PhraseCorpus.h"

#include "LibraryFile.h"
#include "PoemText.h"
#include "Trim.h"
#include "WaveFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace Qt::StringLiterals;

namespace {

struct Voice
{
    int speed; // espeak-ng's words per minute
    int pitch;
};
constexpr std::array<Voice, 3> Voices{{{120, 35}, {150, 55}, {180, 75}}};
constexpr int Variants = 7; // recordings of each poem

// espeak-ng separates the phrases by this much digital silence; inside a phrase it is far
// shorter, so the silence tells the phrases apart.
constexpr int BreakMs = 2000;

using Samples = std::vector<float>;

double amplitudeOf(double dbfs)
{
    return 32767 * std::pow(10.0, dbfs / 20);
}

// The title and the four lines as espeak-ng reads them, each cut to where it is audible: its
// first and last sample above a hundredth of its loudest.
std::vector<Samples> readPoem(const QString &cacheFile, const QStringList &texts,
                              const Voice &voice, QString &error)
{
    if (!QFile::exists(cacheFile)) {
        const QString ssml =
            u"<speak>"_s + texts.join(u"<break time=\"%1ms\"/>"_s.arg(BreakMs)) + u"</speak>"_s;
        const int status = QProcess::execute(
            u"espeak-ng"_s, {u"-v"_s, u"cmn"_s, u"-m"_s, u"-s"_s, QString::number(voice.speed),
                             u"-p"_s, QString::number(voice.pitch), u"-w"_s, cacheFile, ssml});
        if (status != 0) {
            error = u"espeak-ng cannot read %1"_s.arg(texts.join(u' '));
            return {};
        }
    }
    const std::optional<Clip> clip = readWaveFile(QFile::encodeName(cacheFile), error);
    if (!clip)
        return {};
    const auto *samples = reinterpret_cast<const qint16 *>(clip->pcm.constData());
    const qint64 count = clip->frames();
    const qint64 breakFrames = qint64(clip->sampleRate) * BreakMs / 2000;
    std::vector<Samples> pieces;
    qint64 silent = breakFrames;
    for (qint64 i = 0; i < count; ++i) {
        if (samples[i] == 0) {
            ++silent;
            continue;
        }
        if (silent >= breakFrames)
            pieces.emplace_back();
        pieces.back().resize(pieces.back().size() + size_t(silent < breakFrames ? silent : 0));
        pieces.back().push_back(samples[i]);
        silent = 0;
    }
    if (pieces.size() != size_t(texts.size())) {
        error = u"espeak-ng read %1 phrases of %2"_s.arg(pieces.size()).arg(texts.join(u' '));
        return {};
    }
    for (Samples &piece : pieces) {
        const float loudest =
            std::abs(*std::max_element(piece.begin(), piece.end(),
                                       [](float a, float b) { return std::abs(a) < std::abs(b); }));
        const auto audible = [&](float sample) { return std::abs(sample) > loudest / 100; };
        piece.erase(std::find_if(piece.rbegin(), piece.rend(), audible).base(), piece.end());
        piece.erase(piece.begin(), std::find_if(piece.begin(), piece.end(), audible));
    }
    return pieces;
}

// Noise as flat as a microphone's hiss, at rms.
void addNoise(Samples::iterator begin, Samples::iterator end, double rms, QRandomGenerator &random)
{
    // The sum of two uniform values has a root mean square of 1/sqrt(6) of their range; the two
    // halves of one random number are two such values.
    const float scale = float(rms * std::sqrt(6.0) / 65536);
    for (auto it = begin; it != end; ++it) {
        const quint32 bits = random.generate();
        *it += scale * (float(bits & 0xffff) + float(bits >> 16) - 65535);
    }
}

// A breath: muffled noise swelling and fading over the span, rms at its loudest.
void addBreath(Samples::iterator begin, Samples::iterator end, double rms, QRandomGenerator &random)
{
    Samples breath(size_t(end - begin));
    addNoise(breath.begin(), breath.end(), 1, random);
    float muffled = 0;
    for (float &sample : breath)
        sample = muffled = 0.8f * muffled + 0.2f * sample;
    double energy = 0;
    for (const float sample : breath)
        energy += double(sample) * sample;
    const double scale = rms / std::sqrt(energy / double(breath.size()));
    for (size_t i = 0; i < breath.size(); ++i) {
        const double swell = std::sin(std::numbers::pi * double(i) / double(breath.size()));
        begin[std::ptrdiff_t(i)] += float(scale * swell * swell * breath[i]);
    }
}

// A click: a knock ringing at 3 kHz and dying away within a few milliseconds, up to amplitude.
void addClick(Samples::iterator at, int sampleRate, double amplitude)
{
    for (int i = 0; i < sampleRate * 5 / 1000; ++i) {
        const double t = double(i) / sampleRate;
        at[i] +=
            float(amplitude * std::exp(-t / 0.001) * std::sin(2 * std::numbers::pi * 3000 * t));
    }
}

struct Recording
{
    Clip clip;
    QString times; // as kavendo-phrases prints them
};

// One reading of the pieces, chosen by random.
Recording mix(std::vector<Samples> pieces, int sampleRate, QRandomGenerator &random)
{
    const auto between = [&](double low, double high) {
        return low + (high - low) * random.generateDouble();
    };
    if (random.generateDouble() < 0.2)
        pieces.erase(pieces.begin()); // the title is not read
    // Played a little faster or slower, the voice sounds like another's.
    const int rate = int(sampleRate * between(0.92, 1.08));
    const auto samples = [&](double seconds) { return qint64(seconds * rate); };

    float loudest = 0;
    for (const Samples &piece : pieces) {
        for (const float sample : piece)
            loudest = std::max(loudest, std::abs(sample));
    }
    const double peakDb = between(-14, -1);
    const double gain = amplitudeOf(peakDb) / loudest;

    Samples all(size_t(samples(between(0.15, 0.4) + (random.generateDouble() < 0.25 ? 1 : 0))));
    std::vector<std::pair<qint64, qint64>> pauses;
    QStringList times;
    for (const Samples &piece : pieces) {
        if (!times.isEmpty()) {
            pauses.emplace_back(qint64(all.size()),
                                qint64(all.size()) + samples(between(0.25, 0.9)));
            all.resize(size_t(pauses.back().second));
        }
        times << QString::number(double(all.size()) / rate, 'f', 3);
        for (const float sample : piece)
            all.push_back(float(sample * gain));
        times << QString::number(double(all.size()) / rate, 'f', 3);
    }
    all.resize(all.size() +
               size_t(samples(between(0.15, 0.4) + (random.generateDouble() < 0.25 ? 1 : 0))));

    // Kept clear of the speech, so that the true boundaries stay where they are.
    const qint64 margin = samples(0.15);
    const auto [pauseBegin, pauseEnd] = pauses[random.bounded(int(pauses.size()))];
    if (random.generateDouble() < 0.35 && pauseEnd - pauseBegin > samples(0.45)) {
        const qint64 length =
            std::min(samples(between(0.15, 0.35)), pauseEnd - pauseBegin - 2 * margin);
        const qint64 begin = pauseBegin + (pauseEnd - pauseBegin - length) / 2;
        addBreath(all.begin() + begin, all.begin() + begin + length,
                  amplitudeOf(peakDb - between(24, 32)), random);
    } else if (random.generateDouble() < 0.5 && pauseEnd - pauseBegin > 2 * margin) {
        const qint64 at = pauseBegin + margin + random.bounded(pauseEnd - pauseBegin - 2 * margin);
        addClick(all.begin() + at, rate, amplitudeOf(between(-20, -1)));
    }
    addNoise(all.begin(), all.end(), amplitudeOf(between(-60, -40)), random);

    const int channels = random.generateDouble() < 0.2 ? 2 : 1;
    Recording recording;
    recording.clip.sampleRate = rate;
    recording.clip.channels = channels;
    recording.clip.pcm.resize(qsizetype(all.size()) * channels * 2);
    auto *out = reinterpret_cast<qint16 *>(recording.clip.pcm.data());
    for (const float sample : all) {
        for (int c = 0; c < channels; ++c)
            *out++ = qint16(std::clamp(std::lrint(sample), -32768L, 32767L));
    }
    recording.times = times.join(u' ');
    return recording;
}

bool writeFile(const QString &path, const QByteArray &bytes, QString &error)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size())
        return true;
    error = u"cannot write %1"_s.arg(path);
    return false;
}

// A title, a tab and numbers for every line of text.
QHash<QString, QStringList> linesOf(const QByteArray &text)
{
    QHash<QString, QStringList> lines;
    for (const QString &line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype tab = line.indexOf(u'\t');
        lines.insert(line.left(tab), line.mid(tab + 1).split(u' '));
    }
    return lines;
}

} // namespace

QStringList writePhraseCorpus(const QString &folder, quint32 seed, QString &error)
{
    std::vector<PoemRecord> poems;
    for (const QString &file : {QStringLiteral(DEMO_POEMS), QStringLiteral(CORPUS_POEMS)}) {
        const std::optional<std::vector<PoemRecord>> read = readPoemText(file, error);
        if (!read)
            return {};
        poems.insert(poems.end(), read->begin() + 1, read->end());
    }

    QStringList folders;
    QRandomGenerator random(seed);
    for (int variant = 1; variant <= Variants; ++variant) {
        const QString programFolder = folder + u'/' + QString::number(variant);
        if (!QDir(programFolder).mkpath(u"sound"_s)) {
            error = u"cannot make %1/sound"_s.arg(programFolder);
            return {};
        }
        QByteArray truth;
        for (size_t n = 0; n < poems.size(); ++n) {
            const PoemRecord &poem = poems[n];
            QStringList texts{trimSpaces(poem.Title())};
            for (int i = 1; i <= PoemRecord::LineCount; ++i)
                texts << trimSpaces(poem.Lines(i));
            const size_t voice = (n + size_t(variant)) % Voices.size();
            const QString cache = u"%1/espeak-%2-%3.wav"_s.arg(folder).arg(n).arg(voice);
            const std::vector<Samples> pieces = readPoem(cache, texts, Voices[voice], error);
            if (pieces.empty())
                return {};
            const Recording recording = mix(pieces, 22050, random);
            const QByteArray wave = encodeWaveFile(recording.clip, error);
            if (wave.isEmpty() ||
                !writeFile(programFolder + u"/sound/"_s + texts[0] + u".wav"_s, wave, error))
                return {};
            truth += (texts[0] + u'\t' + recording.times + u'\n').toUtf8();
        }
        std::vector<PoemRecord> library{PoemRecord()};
        library.insert(library.end(), poems.begin(), poems.end());
        if (const LibraryError failure = rewriteLibrary(LibraryFile(programFolder), library)) {
            error = *failure;
            return {};
        }
        if (!writeFile(programFolder + u"/truth.txt"_s, truth, error))
            return {};
        folders << programFolder;
    }
    return folders;
}

void scorePhrases(const QByteArray &truth, const QByteArray &found, PhraseScore &score)
{
    const QHash<QString, QStringList> foundLines = linesOf(found);
    const QHash<QString, QStringList> truthLines = linesOf(truth);
    for (auto it = truthLines.begin(); it != truthLines.end(); ++it) {
        const QStringList &times = it.value();
        const QStringList answer = foundLines.value(it.key());
        ++score.recordings;
        score.boundaries += int(times.size());
        if (answer == QStringList{u"unknown"_s}) {
            ++score.unknown;
            continue;
        }
        bool misplaced = answer.size() != times.size();
        for (qsizetype i = 0; answer.size() == times.size() && i < times.size(); ++i) {
            const double error = std::abs(answer[i].toDouble() - times[i].toDouble());
            score.close += error <= 0.1 ? 1 : 0;
            misplaced = misplaced || error > 0.3;
        }
        score.misplaced += misplaced ? 1 : 0;
    }
}

QString PhraseScore::summary() const
{
    return u"%1 of %2 boundaries (%3 %) within 100 ms; %4 of %5 recordings unknown, %6 (%7 %) "
           u"with a boundary off by more than 300 ms"_s.arg(close)
               .arg(boundaries)
               .arg(100 * closeShare(), 0, 'f', 1)
               .arg(unknown)
               .arg(recordings)
               .arg(misplaced)
               .arg(100 * (1 - safeShare()), 0, 'f', 1);
}
