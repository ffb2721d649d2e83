#include "SystemError.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

QString reasonText(int errnum)
{
    switch (errnum) {
    case ENOENT:
        return QStringLiteral("文件或文件夹不存在");
    case ENOTDIR:
        return QStringLiteral("路径中有一项不是文件夹");
    case EISDIR:
        return notAFileText(S_IFDIR);
    case EACCES:
    case EPERM:
        return QStringLiteral("权限不足");
    case EROFS:
        return QStringLiteral("磁盘是只读的");
    case ENOSPC:
        return QStringLiteral("磁盘已满");
    case EDQUOT:
        return QStringLiteral("超出磁盘配额");
    case EIO:
        return QStringLiteral("读写磁盘时出错");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长");
    case ELOOP:
        return QStringLiteral("链接太多，或者绕成了圈");
    case ENXIO:
        return QStringLiteral("设备不存在或没有准备好");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("文件正被其他程序使用");
    default:
        return QString::fromLocal8Bit(std::strerror(errnum));
    }
}

QString notAFileText(mode_t mode)
{
    const char *kind = S_ISDIR(mode)                    ? "文件夹"
                       : S_ISFIFO(mode)                 ? "管道"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "设备"
                       : S_ISSOCK(mode)                 ? "套接字"
                                                        : "特殊文件";
    return QStringLiteral("这是一个%1，不是文件").arg(QString::fromUtf8(kind));
}
