// Entry point of the production tool.
#include "app/IniProfile.h"
#include "app/ProgramMain.h"
#include "app/VIVadeApp.h"

int main(int argc, char** argv)
{
    return nRunProgram({"KRV857xVIVade", "1.0.5.4", &IniProfileProduction(), &nRunVIVadeMainWindow}, argc, argv);
}
