#pragma once

#include "PoemRecord.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

class CodePage936;

// The library file: 88-byte records of code page 936 text, no header, record N is poem N.
// A window reads the whole file into a copy of its own and the maintenance window writes its
// whole copy back; nothing keeps the file open in between.

// The library's path in the application folder.
QString LibraryFile(const QString &applicationFolder);

// The largest library file that is read. The program is made for libraries of up to 100,000
// poems; a file ten times as long is no library it wrote, and reading one as long as the disk
// allows (a sparse file, say) would only exhaust the memory.
constexpr qint64 LargestLibraryBytes = 1'000'000LL * PoemRecord::RecordSize;

// A sentence for the user naming the file and what went wrong; empty when all went well.
using LibraryError = std::optional<QString>;

// What the library file was when it was read or written: which file on the disk, its length,
// when it last changed and a digest of its bytes. A rewrite by another program changes it.
struct LibraryFileState
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNanoseconds = 0;
    quint64 digest = 0;

    bool operator==(const LibraryFileState &) const = default;
};

struct LoadedLibrary
{
    // Element 0 is never a poem; poem N is element N, in file order.
    std::vector<PoemRecord> Poems{1};
    LibraryError error;
    // What was read; the state of the new empty file when the library was missing.
    LibraryFileState file;
};

// Reads the whole library; its records share codePage. A missing file is created empty. A file
// length that is not a whole number of records counts as length / 88 rounded half to even; the
// missing bytes of a counted partial record read as spaces. On failure the result holds no poem
// and says why; what is no library (a folder, a pipe, a device, a link that leads nowhere, a file
// longer than LargestLibraryBytes) is refused without being read, and nothing is created in its
// place. Without a converter for the code page nothing is read either.
LoadedLibrary loadLibrary(const QString &path, const std::shared_ptr<const CodePage936> &codePage);

// The state of the library file at path as it is now, without reading its poems; nothing, and
// no error, when there is no file.
std::optional<LibraryFileState> libraryFileState(const QString &path, LibraryError &error);

// Replaces the file's contents with these records. The new contents go to a file of their own,
// reach the disk, and then take the library's name, so a crash, a full disk or a refused write
// leaves the old file as it was. A library that is a link stays a link to the rewritten file,
// and a library marked read-only is refused. written, when given, receives the new file's state.
[[nodiscard]] LibraryError writeLibrary(const QString &path, QByteArrayView records,
                                        LibraryFileState *written = nullptr);

// Replaces the file's contents with Poems[1 ...], as writeLibrary does.
[[nodiscard]] LibraryError rewriteLibrary(const QString &path,
                                          const std::vector<PoemRecord> &Poems);

// The records of Poems[1 ...] as the file holds them, leaving out poem `skipped` (none: 0).
QByteArray libraryRecords(const std::vector<PoemRecord> &Poems, qsizetype skipped = 0);

// Removes what rewrites of the library killed midway left in the application folder.
void removeLibraryLeftovers(const QString &applicationFolder);
