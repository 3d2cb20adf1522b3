#pragma once
// The main window of KRV857xShowStatus: the production tool's window with
// its own title, a smaller command line whose every run ends at the first
// scan, no automatic start, no power-scheme switch, no limitation table and
// a twelve-column results table.
#include "app/MainDlgProfile.h"

const MainDlgProfile& MainDlgProfileShowStatus();
