#pragma once
// The production tool's application object: it runs the one main window for
// the whole life of the process. Its construction does nothing (the process-
// wide objects are initialised explicitly by the program's main); the window
// framework's application exists only while InitInstance runs.
#include <string>

struct ProgramInfo;

class CVIVadeApp {
public:
    CVIVadeApp() = default;
    CVIVadeApp(const CVIVadeApp&) = delete;
    CVIVadeApp& operator=(const CVIVadeApp&) = delete;

    // Runs the main window with the program's arguments and returns FALSE
    // (the program then ends); the exit code the window ended with is in
    // m_nExitCode.
    bool InitInstance(const ProgramInfo& info, int argc, char** argv);

    int m_nExitCode = 0;
};

extern CVIVadeApp theApp;

// The command line as the window reads it: the arguments joined by single
// blanks, with every TAB and line feed taken out.
std::string strJoinCommandLine(int argc, char** argv);

// ProgramInfo's main-window entry of the production tool.
int nRunVIVadeMainWindow(const ProgramInfo& info, int argc, char** argv);
