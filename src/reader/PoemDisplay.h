#pragma once

#include <QLabel>

// The main window's poem display: the title and the four lines, centred one under the other in
// large white characters on the teal panel, laid out as a plain label lays out its text. While
// the poem is read aloud the part being heard is drawn in a warm colour; only that colour
// changes, so the text never moves. A title too wide for one line is drawn smaller, just small
// enough to fit; everything else keeps its designed size.
class PoemDisplay final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PoemDisplay)

public:
    // The parts of a poem as they are shown: the title, then lines 1 to 4.
    static constexpr int Title = 0;
    static constexpr int NoPart = -1;

    explicit PoemDisplay(QWidget *parent = nullptr);
    ~PoemDisplay() override;

    // The part drawn in the warm colour: Title or a line 1 to 4; NoPart for none.
    void setHighlightedPart(int part);
    int highlightedPart() const { return m_highlighted; }

    // The font the title is drawn in.
    QFont titleFont() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_highlighted = NoPart;
};
