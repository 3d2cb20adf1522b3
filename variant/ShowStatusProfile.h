#pragma once
// The main window of KRV857xShowStatus: the production tool's window with
// its own title, a smaller command line whose every run ends at the first
// scan, no automatic start, no power-scheme switch, no limitation table, a
// twelve-column results table, and "More Config" and "U4 More Config"
// opening its forms of the option dialogs.
#include "app/MainDlgProfile.h"

const MainDlgProfile& MainDlgProfileShowStatus();
