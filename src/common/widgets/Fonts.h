#pragma once

#include <QFont>

// The Song face that the windows ask for as "宋体", with the CJK faces a Linux desktop
// has in its place.
QFont songTi(qreal pointSize, bool bold = false);

class QPaintDevice;
class QString;

// font, or font made just small enough for text to fit on one line of width pixels on device.
QFont fittedFont(const QFont &font, const QString &text, qreal width, const QPaintDevice *device);
