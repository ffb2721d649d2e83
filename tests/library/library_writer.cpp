// Rewrites a library over and over, alternating between the contents of two other library
// files, until it is killed or a rewrite fails. Says "ready" once it has read them, then a dot
// after each rewrite. The robustness test runs it as another program.
//   library_writer TARGET FIRST SECOND

#include "CodePage936.h"
#include "LibraryFile.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 4)
        return 2;
    const auto codePage = std::make_shared<const CodePage936>();
    const QString target = QString::fromLocal8Bit(argv[1]);
    const std::vector<PoemRecord> contents[] = {
        loadLibrary(QString::fromLocal8Bit(argv[2]), codePage).Poems,
        loadLibrary(QString::fromLocal8Bit(argv[3]), codePage).Poems};
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    for (int round = 0;; round = 1 - round) {
        if (rewriteLibrary(target, contents[round]))
            return 1;
        std::fputc('.', stdout);
        std::fflush(stdout);
    }
}
