#pragma once
// What both programs do from their entry point: build the platform, bring
// up the process-wide objects in their order, run, and take them down again.

class IniProfile;

struct ProgramInfo {
    const char* pszName;            // the program's file name
    const char* pszVersion;         // its version text
    const IniProfile* pIniProfile;  // its settings file's version, keys and rules
};

int nRunProgram(const ProgramInfo& info, int argc, char** argv);
