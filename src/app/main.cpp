#include "Main.h"
#include "ApplicationImages.h"
#include "ApplicationInfo.h"
#include "Dialogs.h"
#include "Environment.h"
#include "ProgramFolder.h"
#include "SoundCardDevice.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(ApplicationInfo::Title));
    QApplication::setOrganizationName(QString::fromUtf8(ApplicationInfo::CompanyName));
    QApplication::setApplicationVersion(QString::fromUtf8(ApplicationInfo::Version));
    QApplication::setWindowIcon(applicationIcon());

    // The library and the sound folder live beside the program. Without that folder there is
    // no library to open, and no other folder may stand in for it.
    const std::optional<QString> folder = programFolder();
    if (!folder) {
        Dialogs::information(nullptr, QStringLiteral("无法确定 Kavendo 程序所在的文件夹，"
                                                     "找不到诗词库，程序无法运行。"));
        return 1;
    }
    Main(Environment{*folder, makeSoundCardDevice});
    return 0;
}
