#pragma once
// The utility object: what the device layer, the run threads and the dialogs
// share. It holds the program folder, the five locks that order a
// production run, the scan's shared state, the operator messages (a box, or
// the message file in command-line mode), whole-file and folder helpers,
// process lookup, text conversions and the serial-number advance.
//
// There is one object, pUtility. Its constructor only zeroes it; main calls
// vInitialize once the platform is installed and vShutdown after every
// thread has been joined.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "device/ControlTextWindow.h"
#include "platform/Guid.h"
#include "platform/WaitableMutex.h"

// Window-system version codes of ucGetOSVersionCode.
constexpr uint8_t OS_VERSION_UNKNOWN = 255;

// The registry's root keys, by the system's handle values.
enum class RegistryRoot : uint32_t {
    ClassesRoot = 0x80000000,
    CurrentUser = 0x80000001,
    LocalMachine = 0x80000002,
};
// Where the disk driver keeps the number of disks it has enumerated.
constexpr const char* DISK_ENUM_KEY_PATH = "System\\CurrentControlSet\\Services\\Disk\\Enum";
constexpr const char* DISK_ENUM_COUNT_NAME = "Count";

// cGetFreeDriveLetter's answer when every letter from E to Z is taken.
constexpr char NO_FREE_DRIVE_LETTER = 127;

// Chunk of CopyFileMem: the most it holds in memory at once.
constexpr uint64_t COPY_FILE_CHUNK_SIZE = 0x4000000;

// The file of operator messages in command-line mode, in the current folder.
constexpr const char* PROGRAM_MESSAGE_FILE = "ProgramMSG.txt";
constexpr uint64_t PROGRAM_MESSAGE_PAUSE_MS = 1000;

// Message types of nShowMessage / nShowProgramMessage.
enum : uint8_t {
    MSG_TYPE_ERROR = 1,
    MSG_TYPE_TIMEOUT = 2,
    MSG_TYPE_WARNING = 3,
    MSG_TYPE_INFORMATION = 4,
    MSG_TYPE_QUESTION = 5,
};

// Performance-counter frequency (ticks per second) for the speed figures.
extern uint64_t g_llPerformanceFrequency;

class CUSBUtility {
public:
    // Where nShowProgramMessage sends a message. A named type, not a flag,
    // because the main dialog's own mode field has the opposite polarity.
    enum class EMessageTarget : uint8_t { eMessageBox = 0, eMessageFile = 1 };

    CUSBUtility() = default;
    ~CUSBUtility();
    CUSBUtility(const CUSBUtility&) = delete;
    CUSBUtility& operator=(const CUSBUtility&) = delete;

    // The start-up and exit steps of the object (needs the platform).
    void vInitialize();
    void vShutdown();
    void vResetMembers();

    uint8_t ucGetProgress() const;
    void vSetProgress(uint8_t ucValue);
    // Codes of the window system's versions; this system never runs on it,
    // so the answer is always OS_VERSION_UNKNOWN.
    uint8_t ucGetOSVersionCode() const;

    // ---- operator messages ----------------------------------------------
    // A box captioned by type. In command-line mode nobody may answer, so the
    // text goes to the message file instead and the unattended answer is
    // returned (Cancel / No / OK).
    int nShowMessage(const std::string& strText, uint32_t uFlags, uint8_t ucType);
    // A box, or with eMessageFile (and always in command-line mode) a line
    // appended to the message file followed by a 1000 ms pause; then 0.
    int nShowProgramMessage(const std::string& strText, uint8_t ucType, uint32_t uFlags, EMessageTarget eTarget);

    // ---- files and folders ----------------------------------------------
    // True when the path exists and can be read. A read-only file passes:
    // firmware, PD and settings files are often shipped read-only.
    bool vCheckFilePathExists(const std::string& strFilePath, uint8_t ucShowMessage);
    // Reads the file from its start into the buffer: the whole file, or the
    // first dwReadBufferSize bytes of a longer one. `pdwBytesRead` (when
    // given) receives how many bytes came, so a caller that needs the buffer
    // full can tell a shorter file.
    bool vReadFile(const std::string& strPath, uint8_t* pucReadBuffer, uint32_t dwReadBufferSize,
                   uint32_t* pdwBytesRead = nullptr);
    // Replaces the file with the bytes and flushes them to the medium.
    bool vWriteFile(const std::string& strPath, const uint8_t* pucWriteBuffer, uint32_t dwWriteBufferSize);
    bool CopyFileMem(const std::string& strSource, const std::string& strDestination);
    // Copies the source folder's tree into the destination folder, which
    // must exist. The port slot is not used.
    bool Dir_Copy(const std::string& strSource, const std::string& strDestination, uint8_t ucPortSlot = 0);
    // Bytes in the folder's files (symbolic links are not followed), or with
    // ucSingleFile set the size of the file itself.
    double dGetFolderSize(const std::string& strPath, uint8_t ucSingleFile);
    // Removes the folder and all below it; a symbolic link is removed, never
    // followed.
    bool vDeleteFolderTree(const std::string& strFolder);
    bool vSaveBINBrowseList(const std::string& strList);
    bool vDelDiskPartSetupInfo(int nPhysicalDrive);
    char cGetFreeDriveLetter();

    // ---- processes ------------------------------------------------------
    int DetectProcess(const std::string& strBaseName);
    uint32_t GetProcessID(const std::string& strBaseName);
    bool KillProcess(uint32_t dwProcessId, uint32_t dwExitCode);

    // ---- conversions ----------------------------------------------------
    // Reads hex digits (either case) up to the first other character.
    uint32_t vCharToHex(const std::string& strText);
    // The processor architecture code (0 x86, 6 Itanium, 9 x64, ...), the
    // system's version logged; 0xFFFF when it cannot be told.
    uint16_t wGetProcessorType();
    // The first byte of a registry value (a DWORD's low 8 bits); 0 when the
    // key cannot be opened or the value not read. The registry view is
    // chosen by the processor architecture; on one the registry has no view
    // for, nothing is read (USBUtilityDiskCount.cpp).
    uint8_t GetDiskRegisterCount(RegistryRoot root, const std::string& strKeyPath, const std::string& strKeyName);
    std::string vGUIDToCString(const krv::Guid& guid);
    bool vCStringToGUID(const std::string& strText, krv::Guid& guid);
    // UTF-16 to the system's 8-bit text (UTF-8).
    std::string WideStrToMultiStr(std::u16string_view strWide);
    void vSetControlText(krv::ControlTextWindow* pWindow, int nID, const std::string& strText);
    // The serial number advanced by ucCount at its last digit, carrying to
    // the left, same length, upper case. *pbOverflow (when given) is set when
    // the serial could not be advanced to a new number: the digits wrapped
    // around, or there were no digits to advance.
    std::string vAddLimitSN(const std::string& strSerialNumber, uint8_t ucCount, uint8_t ucHexFlag,
                            bool* pbOverflow = nullptr);

    // ---- members --------------------------------------------------------
    std::string m_szProgramFolder;
    std::string m_szModulePath;
    std::string g_strFWFileName;
    std::string m_strChipVersion;
    std::atomic<int32_t> g_nHighestCDROMNumber{0};
    std::atomic<uint8_t> g_bScanInterrupt{0};
    std::atomic<uint8_t> g_bScanWaiting{0};
    std::atomic<uint8_t> g_ucFoundCount{0};
    // None of the five is ever held together with another of them. Waitable,
    // so that a thread waiting for one (see lockStopAware) wakes when it is
    // released rather than polling for it.
    krv::WaitableMutex m_PartitionCriticalSection;
    krv::WaitableMutex m_ChildThreadFormatUtilityCriticalSection;
    krv::WaitableMutex m_ReloadFWCriticalSection;
    krv::WaitableMutex m_ChildThreadPreloadCriticalSection;
    krv::WaitableMutex m_ScanCriticalSection;
    std::atomic<uint8_t> m_bSafelyRemoving{0};
    // Set by the main dialog when it runs a command-line job: from then on
    // no message is ever shown as a box.
    std::atomic<bool> m_bCommandLineMode{false};

private:
    void vWriteProgramMessage(const std::string& strText);
    bool bCopyFileChunks(const std::string& strSource, const std::string& strDestination, uint64_t llSize);
};

extern CUSBUtility pUtility;
