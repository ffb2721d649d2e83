#pragma once

#include "LibraryFile.h"
#include "PoemRecord.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

// The library file as the maintenance window keeps it while another copy of the program may be
// keeping it too. It remembers what the file was when the window read or last rewrote it. A
// rewrite takes a lock on the file's folder, looks at the file again and, when it changed
// meanwhile, writes the file as it is now with only this window's own changes since: the poems
// the window appended to its copy, and the poem it deletes. So no copy of the program loses what
// another one wrote.
//
// The window's copy must hold the poems as last read or rewritten, then the poems it appended.
class SharedLibrary final
{
    Q_DISABLE_COPY_MOVE(SharedLibrary)

public:
    SharedLibrary() = default;

    // Reads the library at path, as loadLibrary does.
    LoadedLibrary load(const QString &path, const std::shared_ptr<const CodePage936> &codePage);

    struct Rewrite
    {
        LibraryError error;
        // What the file holds now, when it had been changed elsewhere: what both sides keep,
        // which the window's copy is to become.
        std::optional<std::vector<PoemRecord>> merged;
    };

    // Rewrites the file with Poems, without poem `deleted` (1 …) unless it is 0. Unless the
    // result is merged, the file then holds Poems without that poem. Should the file have
    // changed since it was read, the poem to delete is found in it by its bytes, and nothing is
    // deleted when it is gone already. On failure the file stays as it was.
    Rewrite save(const std::vector<PoemRecord> &Poems, qint32 deleted = 0);

private:
    QString m_path;
    std::shared_ptr<const CodePage936> m_codePage;
    // What the file was when Poems[1 … m_readCount] last matched it.
    LibraryFileState m_file;
    qsizetype m_readCount = 0;
};
