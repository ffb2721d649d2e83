#pragma once

#include <QFont>

// The Song face that the windows ask for as "宋体", with the CJK faces a Linux desktop
// has in its place.
QFont songTi(qreal pointSize, bool bold = false);
