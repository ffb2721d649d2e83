#include "SoundPath.h"

#include "AtomicWrite.h"
#include "NativePath.h"
#include "Trim.h"

#include <QList>
#include <QStringList>

#include <sys/stat.h>

namespace {

const QString Extension = QStringLiteral(".wav");

bool exists(const QByteArray &nativePath)
{
    struct stat status
    {
    };
    return ::lstat(nativePath.constData(), &status) == 0;
}

} // namespace

QString SoundPath(const QString &applicationFolder, const QString &title)
{
    const QString name = trimSpaces(title);
    if (name.isEmpty() || !characterUnfitForFileName(name).isEmpty())
        return {};
    return applicationFolder + QStringLiteral("/sound/") + name + Extension;
}

bool isRecordingPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QStringList folders = path.left(slash).split(QLatin1Char('/'));
    const QString fileName = path.mid(slash + 1);
    if (slash < 0 || folders.last() != QStringLiteral("sound") ||
        folders.contains(QStringLiteral(".")) || folders.contains(QStringLiteral("..")))
        return false;
    if (!fileName.endsWith(Extension) || fileName.size() == Extension.size())
        return false;
    return characterUnfitForFileName(fileName.chopped(Extension.size())).isEmpty();
}

QByteArray locateRecording(const QString &soundPath)
{
    if (!isRecordingPath(soundPath))
        return {};
    const QString withoutExtension = soundPath.chopped(Extension.size());
    const qsizetype slash = soundPath.lastIndexOf(QLatin1Char('/'));

    QList<QByteArray> candidates{nativePath(soundPath),
                                 nativePath(withoutExtension + QStringLiteral(".WAV"))};
    if (const auto gbkName =
            codePage936Name(QStringView(soundPath).sliced(slash + 1).chopped(Extension.size()))) {
        const QByteArray folder = nativePath(soundPath.left(slash + 1));
        candidates << folder + *gbkName + ".wav" << folder + *gbkName + ".WAV";
    }
    for (const QByteArray &candidate : candidates) {
        if (exists(candidate))
            return candidate;
    }
    return {};
}

QString recordingTitle(const QString &soundPath)
{
    QString title = displayPath(soundPath.section(QLatin1Char('/'), -1));
    title.chop(Extension.size());
    return title;
}

void removeRecordingLeftovers(const QString &applicationFolder)
{
    removeAbandonedWrites(applicationFolder + QStringLiteral("/sound"), [](QStringView name) {
        return isRecordingPath(QStringLiteral("sound/") + name.toString());
    });
}
