#include "Fonts.h"

#include <QFontMetricsF>
#include <QStringList>

#include <cmath>

QFont songTi(qreal pointSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC")});
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QFont fittedFont(const QFont &font, const QString &text, qreal width, const QPaintDevice *device)
{
    const auto advance = [&](const QFont &sized) {
        return QFontMetricsF(sized, device).horizontalAdvance(text);
    };
    const qreal natural = advance(font);
    if (natural <= width)
        return font;
    // Glyphs grow almost in proportion to the size; hinting may leave the first guess a little
    // too wide.
    QFont fitted = font;
    for (qreal size = std::floor(font.pointSizeF() * width / natural * 4) / 4; size > 1;
         size -= 0.25) {
        fitted.setPointSizeF(size);
        if (advance(fitted) <= width)
            break;
    }
    return fitted;
}
