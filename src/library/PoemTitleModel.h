#pragma once

#include "PoemRecord.h"

#include <QAbstractListModel>
#include <QMap>

#include <functional>
#include <optional>
#include <vector>

// A window's copy of the library, and its titles as the window's list shows them: poem n at row
// n - 1. The titles are read from the poems themselves, so that a list of 32,767 poems costs no
// memory of its own and is filled in no time.
class PoemTitleModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PoemTitleModel)

public:
    // A title as stored (all 24 characters, the filling spaces included) or without the
    // spaces around it.
    enum class Shown { AsStored, Trimmed };

    explicit PoemTitleModel(QObject *parent = nullptr);

    // Element 0 is never a poem; poem n is element n.
    const std::vector<PoemRecord> &Poems() const { return m_poems; }

    // Makes Poems the whole copy, as a load does, each title shown as given.
    void reload(std::vector<PoemRecord> Poems, Shown shown);
    // Appends a poem, its title shown as stored.
    void append(PoemRecord poem);
    // Removes poem n. The list is then shown as it is filled anew after a deletion: every title
    // as stored, every poem asked again whether it is marked.
    void remove(qint32 n);

    // Rows whose poem isMarked picks carry mark, its values by role (a colour, a tool tip…).
    // Each poem is asked when its row is first shown, and again after refreshMarks().
    void setMark(std::function<bool(const PoemRecord &)> isMarked, QMap<int, QVariant> mark);
    void refreshMarks();

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    std::vector<PoemRecord> m_poems{1};
    // The titles of the rows before this one are shown trimmed: those of a load that trims them.
    int m_trimmedRows = 0;
    std::function<bool(const PoemRecord &)> m_isMarked;
    QMap<int, QVariant> m_mark;
    // For each row, whether it is marked, once its poem has been asked.
    mutable std::vector<std::optional<bool>> m_marked;
};
