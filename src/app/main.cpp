#include "Main.h"
#include "ApplicationFolder.h"
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
    QGuiApplication::setDesktopFileName(QString::fromUtf8(ApplicationInfo::DesktopFileName));

    // Where the library lives depends on the program's folder. Without that folder the
    // program cannot tell a portable library from an installed program's, and guesses neither.
    const std::optional<QString> program = programFolder();
    if (!program) {
        Dialogs::information(nullptr, QStringLiteral("无法确定 Kavendo 程序所在的文件夹，"
                                                     "找不到诗词库，程序无法运行。"));
        return 1;
    }
    const QString folder = applicationFolder(*program, userDataHome());
    if (folder != *program) {
        if (const std::optional<QString> error = createUserFolder(folder)) {
            Dialogs::information(nullptr, *error);
            return 1;
        }
        // Without the demo the library simply starts empty; the parent is told why.
        if (const std::optional<QString> error =
                putDemoLibrary(installedDemoFolder(*program), folder))
            Dialogs::information(nullptr, *error);
    }
    Main(Environment{folder, makeSoundCardDevice});
    return 0;
}
