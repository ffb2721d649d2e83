#include "ApplicationImages.h"

#include <QString>

// The resources live in a static library, whose registration the linker would drop unless
// something refers to it; everything that reads them goes through here first.
static void registerImages()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(kavendo);
        return true;
    }();
    Q_UNUSED(registered);
}

QIcon applicationIcon()
{
    registerImages();
    QIcon icon;
    icon.addFile(QStringLiteral(":/kavendo/kavendo-32.xpm"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/kavendo/kavendo-16.xpm"), QSize(16, 16));
    return icon;
}

QPixmap splashLogo()
{
    registerImages();
    return QPixmap(QStringLiteral(":/kavendo/logo.xpm"));
}
