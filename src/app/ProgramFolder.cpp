#include "ProgramFolder.h"

#include "NativePath.h"

#include <QByteArray>

#include <climits>
#include <unistd.h>

std::optional<QString> programFolder()
{
    QByteArray program(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", program.data(), size_t(program.size()));
    if (length <= 0 || length >= program.size())
        return std::nullopt;
    program.truncate(length);
    const qsizetype slash = program.lastIndexOf('/');
    if (!program.startsWith('/') || slash < 0)
        return std::nullopt;
    return pathFromNative(program.left(qMax(slash, 1)));
}
