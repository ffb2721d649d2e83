#include "Main.h"

#include "Environment.h"
#include "Form1.h"
#include "LibraryFile.h"
#include "SoundPath.h"
#include "frmSplash.h"

void Main(const Environment &environment)
{
    // A save that a crash or a power cut ended midway leaves its unfinished file behind.
    removeLibraryLeftovers(environment.applicationFolder);
    removeRecordingLeftovers(environment.applicationFolder);
    {
        frmSplash splash(environment.makeTimer);
        splash.exec();
    }
    Form1 form(environment);
    form.exec();
}
