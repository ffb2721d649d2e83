#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures, drawn by us and kept as XPM text in images/.

// The red closed book that the program's windows carry, in 32 and 16 pixels.
QIcon applicationIcon();

// 古 over 诗 in white on the teal of the poem panel, 50 × 100 pixels, for the splash window.
QPixmap splashLogo();
