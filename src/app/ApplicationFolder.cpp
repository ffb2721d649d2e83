#include "ApplicationFolder.h"

#include "AtomicWrite.h"
#include "LibraryFile.h"
#include "NativePath.h"
#include "SystemError.h"

#include <QByteArray>
#include <QStringList>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The kind of file at path (S_IFREG, S_IFDIR …), 0 when there is none; errno tells why.
mode_t fileType(const QString &path)
{
    struct stat status
    {
    };
    return ::stat(nativePath(path).constData(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

// Asked with the program's effective ids, which are the ones that will write.
bool mayWrite(const QString &folder)
{
    return ::faccessat(AT_FDCWD, nativePath(folder).constData(), W_OK, AT_EACCESS) == 0;
}

// The program's folder is a real path (the system resolved it), so its parent is found by name.
QString installedDataFolder(const QString &programFolder)
{
    return programFolder.left(programFolder.lastIndexOf(u'/')) + u"/share/kavendo"_s;
}

QString failure(const char *what, const QString &path, int errnum)
{
    return QStringLiteral("%1：%2（%3）")
        .arg(QString::fromUtf8(what), displayPath(path), reasonText(errnum));
}

std::optional<int> readWholeFile(const QString &path, QByteArray &bytes)
{
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            const int error = got < 0 ? errno : 0;
            ::close(fd);
            return error == 0 ? std::nullopt : std::optional<int>(error);
        }
        bytes.append(buffer, got);
    }
}

// The names of the files in folder, none when it cannot be read.
QStringList filesIn(const QString &folder)
{
    QStringList names;
    DIR *directory = ::opendir(nativePath(folder).constData());
    if (!directory)
        return names;
    while (const dirent *entry = ::readdir(directory)) {
        const QString name = pathFromNative(entry->d_name);
        if (fileType(folder + u'/' + name) == S_IFREG)
            names << name;
    }
    ::closedir(directory);
    return names;
}

std::optional<QString> copyUnlessExists(const QString &from, const QString &to)
{
    QByteArray bytes;
    if (const std::optional<int> error = readWholeFile(from, bytes))
        return failure("无法读取示例诗词", from, *error);
    const std::optional<int> error = writeFileAtomically(to, bytes, ExistingFile::Keep);
    if (error && *error != EEXIST)
        return failure("无法复制示例诗词", to, *error);
    return std::nullopt;
}

} // namespace

QString applicationFolder(const QString &programFolder, const QString &dataHome)
{
    if (fileType(LibraryFile(programFolder)) != 0)
        return programFolder;
    if (fileType(installedDataFolder(programFolder)) != S_IFDIR && mayWrite(programFolder))
        return programFolder;
    return dataHome + u"/kavendo"_s;
}

QString userDataHome()
{
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    if (dataHome.startsWith('/'))
        return pathFromNative(dataHome);
    QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/')) {
        const passwd *user = ::getpwuid(::geteuid());
        home = user && user->pw_dir ? QByteArray(user->pw_dir) : QByteArray();
    }
    while (home.endsWith('/'))
        home.chop(1);
    return pathFromNative(home) + u"/.local/share"_s;
}

QString installedDemoFolder(const QString &programFolder)
{
    return installedDataFolder(programFolder) + u"/demo"_s;
}

std::optional<QString> createUserFolder(const QString &folder)
{
    const QByteArray path = nativePath(folder);
    // Each folder on the way down, then the folder itself.
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray step = slash < 0 ? path : path.left(slash);
        if (::mkdir(step.constData(), 0700) != 0 && errno != EEXIST)
            return failure("无法创建存放诗词库的文件夹", pathFromNative(step), errno);
        if (slash < 0)
            break;
    }
    if (const mode_t type = fileType(folder); type != S_IFDIR)
        return failure("无法创建存放诗词库的文件夹", folder, type == 0 ? errno : ENOTDIR);
    return std::nullopt;
}

std::optional<QString> putDemoLibrary(const QString &demoFolder, const QString &folder)
{
    const QString library = LibraryFile(folder);
    struct stat status
    {
    };
    if (::lstat(nativePath(library).constData(), &status) == 0 || errno != ENOENT ||
        fileType(LibraryFile(demoFolder)) != S_IFREG)
        return std::nullopt;

    const QString sound = folder + u"/sound"_s;
    if (::mkdir(nativePath(sound).constData(), 0777) != 0 && errno != EEXIST)
        return failure("无法创建录音文件夹", sound, errno);
    for (const QString &name : filesIn(demoFolder + u"/sound"_s)) {
        if (auto error = copyUnlessExists(demoFolder + u"/sound/"_s + name, sound + u'/' + name))
            return error;
    }
    return copyUnlessExists(LibraryFile(demoFolder), library);
}
