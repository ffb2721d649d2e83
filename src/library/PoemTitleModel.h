#pragma once

#include "PoemRecord.h"

#include <QAbstractListModel>

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

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    const std::vector<PoemRecord> &m_poems;
    // For each row, whether its title is shown trimmed.
    std::vector<bool> m_trimmed;
};
