#include "PoemDisplay.h"

#include "Fonts.h"

#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace {

// Warm against the teal, and still easy to read on it.
const QColor HighlightColour(255, 210, 60);
// Room left on either side of a title that had to be made smaller, so that it does not touch
// the panel's edges.
constexpr int TitleMargin = 8;

QString titleOf(const QString &text)
{
    return text.section(QLatin1Char('\n'), 0, 0);
}

} // namespace

PoemDisplay::PoemDisplay(QWidget *parent)
    : QLabel(parent)
{
}

PoemDisplay::~PoemDisplay() = default;

void PoemDisplay::setHighlightedPart(int part)
{
    if (part == m_highlighted)
        return;
    m_highlighted = part;
    update();
}

QFont PoemDisplay::titleFont() const
{
    const QString title = titleOf(text());
    const int width = contentsRect().width();
    if (QFontMetricsF(font(), this).horizontalAdvance(title) <= width)
        return font();
    return fittedFont(font(), title, width - 2 * TitleMargin, this);
}

void PoemDisplay::paintEvent(QPaintEvent *)
{
    QString text = this->text();
    if (text.isEmpty())
        return;

    // The title and the highlighted part are told apart by formats over one layout of the whole
    // text, so that every line keeps the place a plain label gives it.
    QList<QTextLayout::FormatRange> formats;
    const QFont title = titleFont();
    if (title != font()) {
        QTextCharFormat smaller;
        smaller.setFont(title);
        formats.append({0, int(titleOf(text).size()), smaller});
    }
    const QStringList parts = text.split(QLatin1Char('\n'));
    if (m_highlighted >= 0 && m_highlighted < parts.size()) {
        int start = 0;
        for (int part = 0; part < m_highlighted; ++part)
            start += int(parts[part].size()) + 1;
        QTextCharFormat warm;
        warm.setForeground(HighlightColour);
        formats.append({start, int(parts[m_highlighted].size()), warm});
    }
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);

    // Laid out as QPainter::drawText lays out word-wrapped text centred in a rectangle, which is
    // how a label draws it.
    const QRectF area = contentsRect();
    QTextLayout layout(text, font(), this);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    option.setTextDirection(layoutDirection());
    layout.setTextOption(option);
    layout.setFormats(formats);
    const qreal leading = QFontMetricsF(QFont(font(), this)).leading();
    qreal height = -leading;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        height = std::ceil(height + leading);
        line.setPosition(QPointF(0, height));
        height += line.ascent() + line.descent();
    }
    layout.endLayout();

    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setClipRect(area);
    const qreal top = area.y() + (area.height() - height) / 2;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        line.draw(&painter, QPointF(area.x() + (area.width() - line.horizontalAdvance()) / 2, top));
    }
}
