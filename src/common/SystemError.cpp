#include "SystemError.h"

#include <cerrno>
#include <cstring>

QString reasonText(int errnum)
{
    switch (errnum) {
    case ENOENT:
        return QStringLiteral("文件或文件夹不存在");
    case ENOTDIR:
        return QStringLiteral("路径中有一项不是文件夹");
    case EISDIR:
        return QStringLiteral("这是一个文件夹，不是文件");
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
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("文件正被其他程序使用");
    default:
        return QString::fromLocal8Bit(std::strerror(errnum));
    }
}
