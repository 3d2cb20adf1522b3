#pragma once
// The state of one USB walk: the device under examination and the hubs seen
// so far. A walk (a full scan, or the re-link detection's look at one hub)
// owns its own, so two walks on different threads never share it; only the
// device table and the string-descriptor cache of the device-access object
// are shared, each with its own rule.
#include <cstdint>
#include <memory>
#include <string>

constexpr int WALK_HUB_TABLE_SIZE = 16;
constexpr int WALK_HUB_PORT_MARKS = 50;

// What the disk search of a walk has read of the machine (KrvnUSBDevDiskMatch.cpp).
struct CSerialCandidateCache;

struct CUSBWalkState {
    struct HUB_ENTRY {
        std::string strHubName;
        uint32_t ulPortCount = 0;   // 0: free entry
        // 1 at index p: port p held a hub or a device without a serial.
        uint8_t ucPortMark[WALK_HUB_PORT_MARKS] = {};
    };

    // Record the next accepted device fills.
    uint8_t m_ucDevIndex = 0;
    int32_t m_iPortLocation = 0;
    int32_t m_iHubPortOffset = 0;
    // Descriptor texts of the device under examination.
    std::string m_strPID;
    std::string m_strVID;
    std::string m_strSerialNumber;
    std::string m_strManufacturer;
    std::string m_strProduct;
    std::string m_strVersion;
    // The host controller being walked.
    std::string m_strHCDriverKeyName;
    std::string m_strHCDeviceDesc;
    std::string m_strHCHardwareID;
    // The device under examination's driver.
    std::string m_strDevDriverKeyName;
    std::string m_strDevDeviceDesc;
    std::string strRootHubName;
    uint32_t m_ulPortIndex = 0;
    HUB_ENTRY m_HubTable[WALK_HUB_TABLE_SIZE];

    // The hub being walked: its device name and port count. The record of a
    // device takes them at its fill, so a device walked after a deeper hub
    // never carries that hub's port count.
    std::string m_strCurrentHubName;
    uint32_t m_ulPortCount = 0;
    // The device under examination was matched as a CD-ROM; the record takes
    // the flag only when the device is accepted.
    uint8_t m_bIsCDROM = 0;
    // The "device table full" line has been written for this walk.
    bool m_bTableFullLogged = false;
    // The device tree and every candidate drive's serial texts, as the disk
    // search of this walk read them: a walk looks at one state of the
    // machine, so its devices' searches read them once, and the next walk
    // (a scan, a rescan) starts without them and reads them afresh.
    std::shared_ptr<CSerialCandidateCache> m_pSerialCandidates;

    void vReset() { *this = CUSBWalkState(); }
};
