#include "SharedLibrary.h"

#include "AtomicWrite.h"

#include <algorithm>

LibraryError SharedLibrary::load(const QString &path, std::vector<PoemRecord> &Poems)
{
    LoadedLibrary loaded = loadLibrary(path);
    m_path = path;
    Poems = std::move(loaded.Poems);
    m_file = loaded.file;
    m_readCount = qsizetype(Poems.size()) - 1;
    return loaded.error;
}

SharedLibrary::Rewrite SharedLibrary::save(std::vector<PoemRecord> &Poems, qint32 deleted)
{
    // Another copy of the program rewrites only while it holds the same lock, so nothing can
    // come between the look at the file and the rename that replaces it.
    const FolderLock lock(m_path);
    Rewrite result;
    const std::optional<LibraryFileState> now = libraryFileState(m_path, result.error);
    if (result.error)
        return result;

    std::vector<PoemRecord> merged;
    LibraryFileState written;
    // A file that is gone holds nobody's poems: the window's copy takes its place whole.
    if (!now || *now == m_file) {
        result.error = writeLibrary(m_path, libraryRecords(Poems, deleted), &written);
        if (result.error)
            return result;
        if (deleted != 0)
            Poems.erase(Poems.begin() + deleted);
    } else {
        LoadedLibrary current = loadLibrary(m_path);
        if (current.error) {
            result.error = current.error;
            return result;
        }
        merged = std::move(current.Poems);
        if (deleted != 0 && deleted <= m_readCount) {
            const QByteArrayView bytes = Poems[deleted].record();
            const auto same = [bytes](const PoemRecord &poem) { return poem.record() == bytes; };
            // The same poem where the window saw it, else wherever it went.
            auto found = qsizetype(merged.size()) > deleted && same(merged[deleted])
                             ? merged.begin() + deleted
                             : std::find_if(merged.begin() + 1, merged.end(), same);
            if (found != merged.end())
                merged.erase(found);
        }
        for (qsizetype n = m_readCount + 1; n < qsizetype(Poems.size()); ++n) {
            if (n != deleted)
                merged.push_back(Poems[n]);
        }
        result.error = writeLibrary(m_path, libraryRecords(merged), &written);
        if (result.error)
            return result;
        Poems = std::move(merged);
        result.merged = true;
    }
    m_file = written;
    m_readCount = qsizetype(Poems.size()) - 1;
    return result;
}
