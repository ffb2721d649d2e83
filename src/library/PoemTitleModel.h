#pragma once

#include "PoemRecord.h"

#include <QAbstractListModel>
#include <QMap>

#include <functional>
#include <optional>
#include <vector>

// The titles of a window's copy of the library as its list shows them, poem n at row n - 1.
// The titles are read from the copy itself, so that a list of 32,767 poems costs no memory of
// its own and is filled in no time.
class PoemTitleModel final : public QAbstractListModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PoemTitleModel)

public:
    // A title as stored (all 24 characters, the filling spaces included) or without the
    // spaces around it.
    enum class Shown { AsStored, Trimmed };

    // Poems is the window's copy; element 0 is never a poem.
    explicit PoemTitleModel(const std::vector<PoemRecord> &Poems, QObject *parent = nullptr);

    // Call after the copy changed as a whole: the list shows all its titles, each as given.
    void showAll(Shown shown);
    // Call after a poem was appended to the copy.
    void showAppended(Shown shown);

    // Rows whose poem isMarked picks carry mark, its values by role (a colour, a tool tip…).
    // Each poem is asked when its row is first shown, and again after refreshMarks().
    void setMark(std::function<bool(const PoemRecord &)> isMarked, QMap<int, QVariant> mark);
    void refreshMarks();

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    const std::vector<PoemRecord> &m_poems;
    // For each row, whether its title is shown trimmed.
    std::vector<bool> m_trimmed;
    std::function<bool(const PoemRecord &)> m_isMarked;
    QMap<int, QVariant> m_mark;
    // For each row, whether it is marked, once its poem has been asked.
    mutable std::vector<std::optional<bool>> m_marked;
};
