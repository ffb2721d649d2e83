#include "SharedLibrary.h"

#include "AtomicWrite.h"

#include <algorithm>

LoadedLibrary SharedLibrary::load(const QString &path,
                                  const std::shared_ptr<const CodePage936> &codePage)
{
    LoadedLibrary loaded = loadLibrary(path, codePage);
    m_path = path;
    m_codePage = codePage;
    m_file = loaded.file;
    m_readCount = qsizetype(loaded.Poems.size()) - 1;
    return loaded;
}

SharedLibrary::Rewrite SharedLibrary::save(const std::vector<PoemRecord> &Poems, qint32 deleted)
{
    // Another copy of the program rewrites only while it holds the same lock, so nothing can
    // come between the look at the file and the rename that replaces it.
    const FolderLock lock(m_path);
    Rewrite result;
    const std::optional<LibraryFileState> now = libraryFileState(m_path, result.error);
    if (result.error)
        return result;

    LibraryFileState written;
    // A file that is gone holds nobody's poems: the window's copy takes its place whole.
    if (!now || *now == m_file) {
        result.error = writeLibrary(m_path, libraryRecords(Poems, deleted), &written);
        if (result.error)
            return result;
        m_readCount = qsizetype(Poems.size()) - (deleted != 0 ? 2 : 1);
    } else {
        LoadedLibrary current = loadLibrary(m_path, m_codePage);
        if (current.error) {
            result.error = current.error;
            return result;
        }
        std::vector<PoemRecord> merged = std::move(current.Poems);
        if (deleted != 0 && deleted <= m_readCount) {
            const QByteArrayView bytes = Poems[size_t(deleted)].record();
            const auto same = [bytes](const PoemRecord &poem) { return poem.record() == bytes; };
            // The same poem where the window saw it, else wherever it went.
            auto found = qsizetype(merged.size()) > deleted && same(merged[size_t(deleted)])
                             ? merged.begin() + deleted
                             : std::find_if(merged.begin() + 1, merged.end(), same);
            if (found != merged.end())
                merged.erase(found);
        }
        for (qsizetype n = m_readCount + 1; n < qsizetype(Poems.size()); ++n) {
            if (n != deleted)
                merged.push_back(Poems[size_t(n)]);
        }
        result.error = writeLibrary(m_path, libraryRecords(merged), &written);
        if (result.error)
            return result;
        m_readCount = qsizetype(merged.size()) - 1;
        result.merged = std::move(merged);
    }
    m_file = written;
    return result;
}
