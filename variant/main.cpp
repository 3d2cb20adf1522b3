// Entry point of the variant build.
#include "app/IniProfile.h"
#include "app/ProgramMain.h"
#include "app/VIVadeApp.h"
#include "variant/ShowStatusProfile.h"

int main(int argc, char** argv)
{
    return nRunProgram(
        {"KRV857xShowStatus", "1.0.2.1", &IniProfileVariant(), &nRunVIVadeMainWindow, &MainDlgProfileShowStatus()},
        argc, argv);
}
