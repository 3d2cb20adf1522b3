#pragma once
// What one port worker carries through its run: the port's own record of the
// run, where its device is in the table now, the running result that gates
// every step's device work, and its share of the progress.
#include <cstdint>
#include <string>

#include "app/run/PortRun.h"
#include "device/DevList.h"
#include "platform/StopSource.h"

// THREAD_STATUS_RESET_SENT: the worker has sent its bridge's reset (or
// skipped it after a failed step); no port worker is busy with its bridge
// any more once every port has got this far.
constexpr uint8_t THREAD_STATUS_RESET_SENT = 4;

struct CPortWork {
    CPortWork(ChildThreadParam& param, CPortRun& run, const krv::StopSource& stop)
        : m_Param(param), m_Run(run), m_Stop(stop)
    {
    }

    ChildThreadParam& m_Param;
    CPortRun& m_Run;
    const krv::StopSource& m_Stop;
    // The slot of the port's device in the table: the worker's own slot
    // until the device comes back from its reset in another one.
    uint8_t m_ucSlot = 0;
    // False once the device has gone (it did not come back from its reset):
    // the slot then belongs to whatever drive a rescan put there.
    bool m_bHoldsSlot = true;
    // 1 while every step so far passed.
    uint8_t m_ucResult = 1;
    float m_fShare = 0.0f;
    // Whether the update wrote the record's USB-3 image, whose serial number
    // the port's device must then report.
    bool m_bImageWritten = false;
    // What the port's device showed when it came back from its reset, copied
    // under the scan lock for the row's link and identity cells.
    PortRelinkInfo m_Relinked;

    uint8_t ucRow() const { return m_Run.m_ucRow; }
    const std::string& strHubName() const { return m_Run.m_Device.m_strHubName; }
    uint32_t ulHubPort() const { return m_Run.m_Device.m_ulPortIndex; }
    void vAddShare() { m_Param.m_fProgress += m_fShare; }
    // The step's result into the port's own results and, while the port's
    // device holds its slot, into that slot's record (which the reports of
    // the table read).
    void vSetResult(DevList& devList, AtomicByte DevResults::*pmResult, uint8_t ucValue)
    {
        if (m_bHoldsSlot)
            devList.Devs[m_ucSlot].*pmResult = ucValue;
        m_Param.m_Results.*pmResult = ucValue;
    }
};
