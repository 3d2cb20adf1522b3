#pragma once
// What both programs do from their entry point: build the platform, bring
// up the process-wide objects in their order, run the program's main window,
// and take the objects down again in reverse order.

class IniProfile;
struct MainDlgProfile;
struct ProgramInfo;

// A program's main window: runs it with the program's arguments and returns
// the process's exit code.
using MainWindowFn = int (*)(const ProgramInfo& info, int argc, char** argv);

struct ProgramInfo {
    const char* pszName;            // the program's file name
    const char* pszVersion;         // its version text
    const IniProfile* pIniProfile;  // its settings file's version, keys and rules
    MainWindowFn pfnMainWindow = nullptr;  // null: the program has no main window yet
    const MainDlgProfile* pDlgProfile = nullptr;  // its main window's; null: the production tool's
};

int nRunProgram(const ProgramInfo& info, int argc, char** argv);
