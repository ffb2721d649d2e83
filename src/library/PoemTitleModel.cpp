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
    endResetModel();
}

void PoemTitleModel::showAppended(Shown shown)
{
    const int row = int(m_trimmed.size());
    beginInsertRows({}, row, row);
    m_trimmed.push_back(shown == Shown::Trimmed);
    endInsertRows();
}

int PoemTitleModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_trimmed.size());
}

QVariant PoemTitleModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || role != Qt::DisplayRole)
        return {};
    const QString title = m_poems[size_t(index.row()) + 1].Title();
    return m_trimmed[size_t(index.row())] ? trimSpaces(title) : title;
}
