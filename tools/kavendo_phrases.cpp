// Prints the spoken phrases that Kavendo finds in the recordings of a program folder, one poem a
// line: the title, a tab, then the start and end of every phrase in seconds, or "unknown".
//
//   kavendo-phrases FOLDER       FOLDER holds Kavendo.dbf and the sound folder

#include "CodePage936.h"
#include "LibraryFile.h"
#include "Phrases.h"
#include "SoundPath.h"
#include "Trim.h"
#include "WaveFile.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

QString describe(const std::optional<std::vector<Phrase>> &phrases)
{
    if (!phrases)
        return QStringLiteral("unknown");
    QStringList times;
    for (const Phrase &phrase : *phrases) {
        times << QString::number(double(phrase.startMs) / 1000, 'f', 3)
              << QString::number(double(phrase.endMs) / 1000, 'f', 3);
    }
    return times.join(u' ');
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QFile::decodeName(argv[1]);
    // Loading creates a missing library, which a look at a folder must not do.
    if (!QFileInfo::exists(LibraryFile(folder))) {
        std::fprintf(stderr, "%s: no library\n", qPrintable(LibraryFile(folder)));
        return 1;
    }
    const LoadedLibrary library =
        loadLibrary(LibraryFile(folder), std::make_shared<const CodePage936>());
    if (library.error) {
        std::fprintf(stderr, "%s\n", qPrintable(*library.error));
        return 1;
    }

    int status = 0;
    for (size_t n = 1; n < library.Poems.size(); ++n) {
        const PoemRecord &poem = library.Poems[n];
        const QByteArray recording = locateRecording(SoundPath(folder, poem.Title()));
        if (recording.isEmpty())
            continue;
        QString error;
        const std::optional<Clip> clip = readWaveFile(recording, error);
        if (!clip) {
            std::fprintf(stderr, "%s: %s\n", recording.constData(), qPrintable(error));
            status = 1;
            continue;
        }
        const PoemShape shape =
            poemShape(poem.Title(), {poem.Lines(1), poem.Lines(2), poem.Lines(3), poem.Lines(4)});
        const QString line =
            trimSpaces(poem.Title()) + u'\t' + describe(findPhrases(*clip, shape)) + u'\n';
        std::fputs(line.toUtf8().constData(), stdout);
    }
    return status;
}
