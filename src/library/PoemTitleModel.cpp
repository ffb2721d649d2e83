#include "PoemTitleModel.h"

PoemTitleModel::PoemTitleModel(const std::vector<PoemRecord> &Poems, QObject *parent)
    : QAbstractListModel(parent)
    , m_poems(Poems)
{
}

void PoemTitleModel::showAll(Shown shown)
{
    beginResetModel();
    m_trimmed.assign(m_poems.size() - 1, shown == Shown::Trimmed);
    m_marked.assign(m_trimmed.size(), std::nullopt);
    endResetModel();
}

void PoemTitleModel::showAppended(Shown shown)
{
    const int row = int(m_trimmed.size());
    beginInsertRows({}, row, row);
    m_trimmed.push_back(shown == Shown::Trimmed);
    m_marked.emplace_back();
    endInsertRows();
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
    m_marked.assign(m_trimmed.size(), std::nullopt);
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0), index(rowCount() - 1), m_mark.keys());
}

int PoemTitleModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_trimmed.size());
}

QVariant PoemTitleModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const auto row = size_t(index.row());
    const PoemRecord &poem = m_poems[row + 1];
    if (role == Qt::DisplayRole)
        return m_trimmed[row] ? trimSpaces(poem.Title()) : poem.Title();
    if (!m_isMarked || !m_mark.contains(role))
        return {};
    if (!m_marked[row])
        m_marked[row] = m_isMarked(poem);
    return *m_marked[row] ? m_mark.value(role) : QVariant();
}
