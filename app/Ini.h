#pragma once
// The settings object: the one process-wide `pIni` that holds the settings
// record `m_pINI`, reads it from the settings file, checks it and writes it
// back. Which file layout it reads and writes (the production tool's or the
// variant build's) is the profile that `main` picks before the first load.
//
// A load never leaves a half-read record behind: the file is read into a
// scratch record, which is checked, and only a load that succeeds replaces
// `m_pINI`. A failed load therefore keeps the settings the program had (the
// cleared record at start-up, which start-up then fills with the factory
// defaults; the operator's settings after a failed Load INI), and nothing a
// bad file half-filled can be stored over the operator's file later. Beyond
// the file's own rules, a file with no setting at all and a file that ends in
// the middle of a line with settings missing (cut short) are refused. A store
// checks a copy, so a check that fails never clears the fields the window
// still shows, and it replaces the file whole through a temporary file.
//
// The record has no lock: it is loaded and stored on the window's thread, and
// stored once more by the run supervisor after its port workers are done.
#include <cstdint>
#include <string>

#include "app/IniCheck.h"
#include "app/IniCodec.h"
#include "app/IniProfile.h"
#include "app/IniRecord.h"
#include "device/ConfigFieldLength.h"

// A settings file is a few kilobytes; anything larger is not one, and is
// refused before it is read into memory.
constexpr uint64_t INI_MAX_FILE_SIZE = 1024 * 1024;

struct DevInfo;

class Ini {
public:
    Ini();
    ~Ini();
    Ini(const Ini&) = delete;
    Ini& operator=(const Ini&) = delete;

    // Reads the settings file. True when it was read, its version is the
    // profile's, it has no more counted lines than the profile allows and
    // the check passed; only then does the record change.
    bool vLoadINIFile(std::string strINIFilePath);
    // Checks the record (see IniCheck.h), clearing what fails; sets the
    // volume-label limit and the field lengths in the field-length target.
    uint8_t vCheckINIType();
    // Writes the whole record to the file when a copy of it passes the
    // check. True when the file holds the new text.
    bool vStoreINIFile(std::string strINIFilePath);
    // The factory defaults, then the check. Fields without a default keep
    // their values.
    void vSetDefaultSettings();
    // The daily result log (one row for the device in the slot). Defined
    // with the result log, in ResultLog.cpp.
    bool vLogMPResult(uint8_t ucIndex);
    // The row of target ucIndex from a record of its own (a run logs each
    // port from the port's record, not from the table).
    bool vLogMPResult(uint8_t ucIndex, const DevInfo& device);

    void vSetProfile(const IniProfile& profile) { m_pProfile = &profile; }
    const IniProfile& profile() const { return *m_pProfile; }

    // Where the check puts the field lengths and the volume-label limit that
    // the window's edit limits read: the device-access object g_UsbDev,
    // unless another holder is set (a test's).
    void vSetFieldLengthTarget(CConfigFieldLength* pTarget) { m_pFieldLength = pTarget; }
    CConfigFieldLength& fieldLength();

    // What the last load or store found wrong or worth telling, one finding
    // per line, each naming the file and, where there is one, the key; empty
    // when there was nothing. For the caller to show; read it on the thread
    // that ran the operation.
    const std::string& strLastProblem() const { return m_strLastProblem; }

    IniRecord m_pINI;

private:
    bool bReadFile(const std::string& strPath, std::string& strText);
    bool bWriteFile(const std::string& strPath, const std::string& strText);
    uint8_t ucCheck(IniRecord& record, const std::string& strPath);
    void vReportParse(const IniParseResult& parsed, const std::string& strPath);
    void vProblem(const std::string& strPath, const std::string& strText);

    const IniProfile* m_pProfile;
    CConfigFieldLength* m_pFieldLength = nullptr;
    std::string m_strLastProblem;
};

extern Ini pIni;
