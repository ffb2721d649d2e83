#pragma once

#include <QObject>

#include <functional>

class QListView;
class QWidget;

// Tells when a widget has painted itself in a state worth waiting for: painted is called once,
// as soon as the first such paint is over (the window's whole repaint included).
class PaintWatch final : public QObject
{
    Q_DISABLE_COPY_MOVE(PaintWatch)

public:
    PaintWatch(QWidget *watched, std::function<bool()> ready, std::function<void()> painted);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<bool()> m_ready;
    std::function<void()> m_painted;
    bool m_seen = false;
};

// Whether the list has laid out every row of its model: it lays them out in batches after it is
// shown or its model is reset, and a paint before the last batch shows a list still growing.
bool isLaidOut(QListView *list);
