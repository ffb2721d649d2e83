#include "Main.h"

#include "Environment.h"
#include "Form1.h"
#include "frmSplash.h"

void Main(const Environment &environment)
{
    {
        frmSplash splash;
        splash.exec();
    }
    Form1 form(environment);
    form.exec();
}
