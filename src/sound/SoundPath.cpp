#include "SoundPath.h"

#include "Cp936.h"
#include "NativePath.h"
#include "PoemRecord.h"

#include <QList>

#include <sys/stat.h>

namespace {

const QString Extension = QStringLiteral(".wav");

bool isFile(const QByteArray &nativePath)
{
    struct stat status
    {
    };
    return ::stat(nativePath.constData(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

QString SoundPath(const QString &applicationFolder, const QString &title)
{
    return applicationFolder + QStringLiteral("/sound/") + trimSpaces(title) + Extension;
}

QString characterUnfitForFileName(const QString &name)
{
    if (name == QStringLiteral(".") || name == QStringLiteral(".."))
        return name;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("\\/:*?\"<>|").contains(c))
            return QString(c);
    }
    return {};
}

bool isRecordingPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = path.left(slash);
    const QString fileName = path.mid(slash + 1);
    if (slash < 0 ||
        !(folder == QStringLiteral("sound") || folder.endsWith(QStringLiteral("/sound"))))
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
    QString unencodable;
    const QByteArray gbkName =
        Cp936::encode(soundPath.sliced(slash + 1).chopped(Extension.size()), &unencodable);
    if (unencodable.isEmpty()) {
        const QByteArray folder = nativePath(soundPath.left(slash + 1));
        candidates << folder + gbkName + ".wav" << folder + gbkName + ".WAV";
    }
    for (const QByteArray &candidate : candidates) {
        if (isFile(candidate))
            return candidate;
    }
    return {};
}
