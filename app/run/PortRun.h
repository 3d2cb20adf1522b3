#pragma once
// What one port of a run carries from Start to the day's log, owned by the
// run. Start fills it on the GUI thread before the supervisor starts; while
// the run goes on only the port's own worker writes it; the supervisor reads
// it once the worker has ended. No scan ever touches it: the device table's
// slots may be emptied and refilled by the run's re-link rescans without the
// port losing what it is, what it writes, or what it found.
#include <cstdint>
#include <cstring>
#include <string>

#include "device/DevList.h"

// What a port worker reads of the window and the settings: the same for
// every port of a run, taken by Start.
struct CPortRunInputs {
    std::string strVID;
    std::string strPID;
    std::string strSerialNumber;
    std::string strManufacturer;
    std::string strProduct;
    std::string strUSBStatus;
    uint8_t ucImage0 = 0;
    uint8_t ucImage1 = 0;
    uint8_t ucConfigFormat = 0;
    int32_t iReloadWaiting = 0;
    int32_t iRelinkCount = 0;
    // What the waiting PCIe reset looks for, and how long the drive behind a
    // bridge back from its reset gets to be ready.
    uint16_t wPcieVendorID = 0;
    uint16_t wPcieDeviceID = 0;
    int32_t iSSDRelinkTime = 0;
    // The write/read test's speed limits, in MB/s.
    long lReadSpeedLimit = 0;
    long lWriteSpeedLimit = 0;
    std::string strPreloadPath;
};

struct CPortRun {
    bool m_bTakesPart = false;
    // The port's row of the results table.
    uint8_t m_ucRow = DEV_PORT_INDEX_EMPTY;
    // The drive as Start saw it: its identity, where it is plugged in (hub
    // and hub port, the key by which the port finds its drive again after a
    // reset), its drive number, and the images Start built for it
    // (m_ucU3Config, m_ucU4Config), which are what the port writes. After
    // its re-link the worker takes the identity again from the table (under
    // the scan lock); the images stay the run's. Its result bytes are not
    // used: the port's results are its ChildThreadParam's.
    DevInfo m_Device;
    CPortRunInputs m_Inputs;

    // The drive's identity as a record of the table shows it now; the
    // images stay the run's.
    void vTakeIdentity(const DevInfo& dev)
    {
        uint8_t ucU3[DEV_CONFIG_SIZE];
        uint8_t ucU4[DEV_CONFIG_SIZE];
        std::memcpy(ucU3, m_Device.m_ucU3Config, sizeof ucU3);
        std::memcpy(ucU4, m_Device.m_ucU4Config, sizeof ucU4);
        m_Device = dev;
        std::memcpy(m_Device.m_ucU3Config, ucU3, sizeof ucU3);
        std::memcpy(m_Device.m_ucU4Config, ucU4, sizeof ucU4);
    }
};
