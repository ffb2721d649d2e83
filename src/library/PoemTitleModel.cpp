#include "PoemTitleModel.h"

#include "Trim.h"

PoemTitleModel::PoemTitleModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void PoemTitleModel::reload(std::vector<PoemRecord> Poems, Shown shown)
{
    Q_ASSERT(!Poems.empty());
    beginResetModel();
    m_poems = std::move(Poems);
    m_trimmedRows = shown == Shown::Trimmed ? rowCount() : 0;
    m_marked.assign(size_t(rowCount()), std::nullopt);
    endResetModel();
}

void PoemTitleModel::append(PoemRecord poem)
{
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_poems.push_back(std::move(poem));
    m_marked.emplace_back();
    endInsertRows();
}

void PoemTitleModel::remove(qint32 n)
{
    Q_ASSERT(n >= 1 && n < qint32(m_poems.size()));
    const int row = n - 1;
    beginRemoveRows({}, row, row);
    m_poems.erase(m_poems.begin() + n);
    m_trimmedRows = 0;
    m_marked.assign(size_t(rowCount()), std::nullopt);
    endRemoveRows();
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0), index(rowCount() - 1));
}

void PoemTitleModel::setMark(std::function<bool(const PoemRecord &)> isMarked,
                             QMap<int, QVariant> mark)
{
    m_isMarked = std::move(isMarked);
    m_mark = std::move(mark);
    refreshMarks();
}

void PoemTitleModel::refreshMarks()
{
    m_marked.assign(size_t(rowCount()), std::nullopt);
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0), index(rowCount() - 1), m_mark.keys());
}

int PoemTitleModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_poems.size()) - 1;
}

QVariant PoemTitleModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const auto row = size_t(index.row());
    const PoemRecord &poem = m_poems[row + 1];
    if (role == Qt::DisplayRole)
        return index.row() < m_trimmedRows ? trimSpaces(poem.Title()) : poem.Title();
    if (!m_isMarked || !m_mark.contains(role))
        return {};
    if (!m_marked[row])
        m_marked[row] = m_isMarked(poem);
    return *m_marked[row] ? m_mark.value(role) : QVariant();
}
