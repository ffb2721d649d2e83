#include "Main.h"
#include "ApplicationImages.h"
#include "ApplicationInfo.h"
#include "Environment.h"
#include "SoundCardDevice.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(ApplicationInfo::Title));
    QApplication::setOrganizationName(QString::fromUtf8(ApplicationInfo::CompanyName));
    QApplication::setApplicationVersion(QString::fromUtf8(ApplicationInfo::Version));
    QApplication::setWindowIcon(applicationIcon());

    // The library and the sound folder live beside the program.
    Main(Environment{QCoreApplication::applicationDirPath(), makeSoundCardDevice});
    return 0;
}
