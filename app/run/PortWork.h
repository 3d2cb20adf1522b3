#pragma once
// What one port worker carries through its run: where its device is, the
// running result that gates every step's device work, and its share of the
// progress.
#include <cstdint>
#include <string>

#include "device/DevList.h"
#include "platform/StopSource.h"

// THREAD_STATUS_RESET_SENT: the worker has sent its bridge's reset (or
// skipped it after a failed step); no port worker is busy with its bridge
// any more once every port has got this far.
constexpr uint8_t THREAD_STATUS_RESET_SENT = 4;

struct CPortWork {
    CPortWork(ChildThreadParam& param, const krv::StopSource& stop) : m_Param(param), m_Stop(stop) {}

    ChildThreadParam& m_Param;
    const krv::StopSource& m_Stop;
    // The slot of the port's device in the table: the worker's own slot
    // until the device comes back from its reset in another one.
    uint8_t m_ucSlot = 0;
    // The port's row of the results table, as the run started.
    uint8_t m_ucRow = 0;
    // 1 while every step so far passed.
    uint8_t m_ucResult = 1;
    float m_fShare = 0.0f;
    // Where the port's device is plugged in, as the run started: it comes
    // back there after its reset.
    std::string m_strHubName;
    uint32_t m_ulPortIndex = DEV_HUB_PORT_NONE;
    // The USB-3 image the update wrote (m_bImageWritten), whose serial
    // number the port's device must then report.
    uint8_t m_ucU3Image[DEV_CONFIG_SIZE] = {};
    bool m_bImageWritten = false;

    void vAddShare() { m_Param.m_fProgress += m_fShare; }
    // The step's result into the record of the device's slot and into the
    // port's own results.
    void vSetResult(DevList& devList, AtomicByte DevResults::*pmResult, uint8_t ucValue)
    {
        devList.Devs[m_ucSlot].*pmResult = ucValue;
        m_Param.m_Results.*pmResult = ucValue;
    }
};
