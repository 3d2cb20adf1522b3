#pragma once
// One SCSI pass-through request of the vendor command routines: the CDB, the
// transfer and a data area that lives on the heap (64 KiB for a buffered
// request, the exact length for a direct one), so the routines also run on
// threads with small stacks. The data area starts zero-filled, so bytes a
// device did not send read as zeros, never as leftovers.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "device/KrvnUSBDevHandle.h"
#include "platform/LastError.h"
#include "platform/ScsiPassThrough.h"

class CPassThroughRequest {
public:
    static constexpr uint32_t kBufferedDataArea = 0x10000;

    explicit CPassThroughRequest(uint32_t dwDataAreaSize = kBufferedDataArea) : m_Data(dwDataAreaSize, 0) {}

    void vSetCdb(std::initializer_list<uint8_t> bytes, uint8_t ucCdbLength)
    {
        std::memset(m_Command.cdb, 0, sizeof m_Command.cdb);
        size_t i = 0;
        for (uint8_t b : bytes)
            if (i < sizeof m_Command.cdb)
                m_Command.cdb[i++] = b;
        m_Command.cdbLength = ucCdbLength;
    }
    // A transfer of dwLength bytes (within the data area) in `eDirection`;
    // a command without data has no direction.
    void vSetTransfer(krv::DataDirection eDirection, uint32_t dwLength, uint32_t dwTimeoutSeconds)
    {
        m_Command.direction = dwLength == 0 ? krv::DataDirection::None : eDirection;
        m_Command.dataLength = std::min<uint32_t>(dwLength, static_cast<uint32_t>(m_Data.size()));
        m_Command.timeoutSeconds = dwTimeoutSeconds;
    }
    uint8_t* data() { return m_Data.data(); }
    void vZeroData() { std::fill(m_Data.begin(), m_Data.end(), 0); }

    // Sends the request on an open drive. The result is the transport's
    // verdict (DeviceIoControl's); the SCSI status is kept apart.
    bool bSend(HANDLE hDev)
    {
        m_Command.data = m_Command.dataLength ? m_Data.data() : nullptr;
        m_Command.scsiStatus = 0;
        m_Command.senseLength = 0;
        m_Command.transferred = 0;
        krv::setLastError(bIsValidHandle(hDev) ? krv::winerr::kSuccess : krv::winerr::kInvalidHandle);
        m_bTransportOk = bIsValidHandle(hDev) && hDev->execute(m_Command);
        return m_bTransportOk;
    }
    bool bTransportOk() const { return m_bTransportOk; }
    uint8_t ucScsiStatus() const { return m_Command.scsiStatus; }
    // The transport moved the command and the device answered good status.
    bool bSucceeded() const { return m_bTransportOk && m_Command.scsiStatus == 0; }

private:
    krv::ScsiCommand m_Command;
    std::vector<uint8_t> m_Data;
    bool m_bTransportOk = false;
};
