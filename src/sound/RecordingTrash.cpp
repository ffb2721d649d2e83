#include "RecordingTrash.h"

#include "NativePath.h"
#include "SoundPath.h"
#include "SystemError.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

std::optional<QString> moveToTrash(const QByteArray &nativeFile)
{
    if (!QByteArrayView(nativeFile).isValidUtf8())
        return std::nullopt;
    // Without the user's data folder Qt would make a trash in the working folder, of all places,
    // and call that a success.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QString inTrash;
    if (data.isEmpty() || !QDir().mkpath(data) ||
        !QFile::moveToTrash(QString::fromUtf8(nativeFile), &inTrash))
        return std::nullopt;
    if (QDir::isRelativePath(inTrash)) {
        restoreFromTrash(inTrash, nativeFile);
        return std::nullopt;
    }
    return inTrash;
}

void restoreFromTrash(const QString &inTrash, const QByteArray &nativeFile)
{
    if (::rename(nativePath(inTrash).constData(), nativeFile.constData()) != 0)
        return;
    // The trash keeps each file in its "files" folder and what it knows of it in "info".
    const qsizetype slash = inTrash.lastIndexOf(QLatin1Char('/'));
    const QString files = inTrash.left(slash);
    const QString info = files.left(files.lastIndexOf(QLatin1Char('/'))) +
                         QStringLiteral("/info/") + inTrash.sliced(slash + 1) +
                         QStringLiteral(".trashinfo");
    ::unlink(nativePath(info).constData());
}

std::optional<QString> deleteRecording(const QString &soundPath)
{
    const QByteArray recording = locateRecording(soundPath);
    if (recording.isEmpty() || moveToTrash(recording) || ::unlink(recording.constData()) == 0 ||
        errno == ENOENT)
        return std::nullopt;
    const QString reason = reasonText(errno);
    return QStringLiteral("%1（%2）").arg(displayPath(pathFromNative(recording)), reason);
}
