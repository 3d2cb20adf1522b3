#include <gtest/gtest.h>

#include <cstring>

#include "device/DevList.h"

namespace {

// A record as a scan and a run leave it: every field written.
void vDirty(DevInfo& d)
{
    d.m_ucPortIndex = 3;
    d.m_cDriveLetter = 'F';
    d.m_ullCapacity = 1234;
    d.m_bIsCDROM = 1;
    d.m_ucPhysicalAddress = 2;
    d.m_ucCDROMAddress = 1;
    d.m_strSerialNumber = "SN1";
    d.m_strHDDSN = "OTHER-DRIVE-SN";
    d.m_strHDDFW = "OTHERFW";
    d.m_strFWVersion = "230915010203";
    d.m_strUSBSpeed = "SUPERx1";
    d.m_strExtFWVersion = "1.2";
    d.m_iPortLocation = 1203;
    d.m_ulPortIndex = 2;
    d.m_ulPortCount = 4;
    d.m_ucChipMajorRev = 1;
    d.m_ucLaneCS[2] = 1;
    d.m_dwLaneDS[2] = 305;
    d.m_ucU3Config[5] = 0xAA;
    d.m_ucU4Config[124] = 0x02;
    d.m_bPCIE = 1;
    for (AtomicByte* b : {&d.m_bConfigWriteResult, &d.m_bUpdateFWResult, &d.m_bReloadFWResult,
                          &d.m_bPartitionResult, &d.m_bFormatResult, &d.m_bWrRdTestResult, &d.m_bPreloadResult,
                          &d.m_bConfigReadBackOK, &d.m_bUSBStatusResult, &d.m_bPartitionDone, &d.m_bFormatDone,
                          &d.m_bExtUpdateFWResult, &d.m_bConfigCheckResult})
        *b = 1;
}

TEST(DevList, AnEmptySlotReadsAsEmptyBeforeAndAfterTheScanReset)
{
    DevList list;
    EXPECT_EQ(list.DevNums, 0);
    DevInfo& fresh = list.Devs[15];
    EXPECT_EQ(fresh.m_ucPortIndex, DEV_PORT_INDEX_EMPTY);
    EXPECT_EQ(fresh.m_cDriveLetter, 0x7F);
    EXPECT_EQ(fresh.m_ullCapacity, 0xFFFFFFFFFFFFFFFFULL);

    DevInfo& d = list.Devs[0];
    uint8_t buffer[4];
    d.m_ucpWriteBuffer = buffer;
    vDirty(d);
    d.vResetForScan();
    EXPECT_EQ(d.m_ucPortIndex, 0xFF);
    EXPECT_EQ(d.m_cDriveLetter, 0x7F);
    EXPECT_EQ(d.m_ullCapacity, DEV_CAPACITY_UNKNOWN);
    EXPECT_EQ(d.m_bIsCDROM, 0);
    EXPECT_EQ(d.m_ucPhysicalAddress, 0x7F);
    EXPECT_EQ(d.m_ucCDROMAddress, 0x7F);
    EXPECT_EQ(d.m_ucChipMajorRev, 0x7F);
    EXPECT_EQ(d.m_iPortLocation, -1);
    EXPECT_EQ(d.m_ulPortIndex, 0xFFFFFFFFu);
    EXPECT_EQ(d.m_ulPortCount, 0xFFFFFFFFu);
    EXPECT_TRUE(d.m_strSerialNumber.empty());
    EXPECT_TRUE(d.m_strHDDSN.empty());  // never another drive's disk serial
    EXPECT_TRUE(d.m_strHDDFW.empty());
    EXPECT_TRUE(d.m_strFWVersion.empty());
    EXPECT_TRUE(d.m_strUSBSpeed.empty());
    EXPECT_EQ(d.m_strExtFWVersion, "NULL");
    EXPECT_EQ(d.m_ucLaneCS[2], 0x7F);
    EXPECT_EQ(d.m_dwLaneDS[2], 0x7F7F7F7Fu);
    EXPECT_EQ(d.m_ucU3Config[5], 0);
    EXPECT_EQ(d.m_ucU4Config[124], 0);
    EXPECT_EQ(d.m_bPCIE, 0);

    // Cleared: the results of the update, reload and disk steps and both
    // barrier flags. Kept: preload, read-back, USB status, config check.
    EXPECT_EQ(d.m_bConfigWriteResult, 0);
    EXPECT_EQ(d.m_bUpdateFWResult, 0);
    EXPECT_EQ(d.m_bReloadFWResult, 0);
    EXPECT_EQ(d.m_bPartitionResult, 0);
    EXPECT_EQ(d.m_bFormatResult, 0);
    EXPECT_EQ(d.m_bWrRdTestResult, 0);
    EXPECT_EQ(d.m_bPartitionDone, 0);
    EXPECT_EQ(d.m_bFormatDone, 0);
    EXPECT_EQ(d.m_bExtUpdateFWResult, 0);
    EXPECT_EQ(d.m_bPreloadResult, 1);
    EXPECT_EQ(d.m_bConfigReadBackOK, 1);
    EXPECT_EQ(d.m_bUSBStatusResult, 1);
    EXPECT_EQ(d.m_bConfigCheckResult, 1);
    // A rescan during a run never takes the worker's buffers away.
    EXPECT_EQ(d.m_ucpWriteBuffer, buffer);
}

TEST(DevList, RunStartClearsTheRunResultsOnly)
{
    DevInfo d;
    vDirty(d);
    d.vClearRunResults();
    for (uint8_t v : {uint8_t(d.m_bConfigWriteResult), uint8_t(d.m_bUpdateFWResult), uint8_t(d.m_bReloadFWResult),
                      uint8_t(d.m_bPartitionResult), uint8_t(d.m_bFormatResult), uint8_t(d.m_bWrRdTestResult),
                      uint8_t(d.m_bPartitionDone), uint8_t(d.m_bFormatDone), uint8_t(d.m_bExtUpdateFWResult)})
        EXPECT_EQ(v, 0);
    EXPECT_EQ(d.m_bPreloadResult, 1);
    EXPECT_EQ(d.m_bConfigCheckResult, 1);
    EXPECT_EQ(d.m_strSerialNumber, "SN1");
}

TEST(DevList, PcieTargetsFollowTheUsbDevicesAndStayInsideTheTable)
{
    DevList list;
    list.DevNums = 3;
    EXPECT_EQ(nPcieDevSlot(list, 0), 3);
    EXPECT_EQ(nPcieDevSlot(list, 1), 4);
    EXPECT_EQ(nAllDevCount(list, 2), 5);

    list.DevNums = 14;
    EXPECT_EQ(nPcieDevSlot(list, 1), 15);
    EXPECT_EQ(nPcieDevSlot(list, 2), -1);
    EXPECT_EQ(nAllDevCount(list, 16), MAX_DEV_SLOTS);
    EXPECT_EQ(nPcieDevSlot(list, -1), -1);
}

TEST(DevList, RelinkTableResetClearsFlagsAndSignatureButKeepsTheCopies)
{
    PortRelinkInfo entries[MAX_DEV_SLOTS];
    entries[4].m_strSerialNumber = "ABC";
    entries[4].m_ucU4Mode = 2;
    entries[4].m_bRelinkPending = 1;
    entries[4].m_bRelinkFound = 1;
    entries[4].m_ucRelinkSig[0] = 0x02;
    entries[4].m_ucRelinkSig[1] = 0x04;
    int32_t iRelinkCount = 3;
    uint8_t ucSaved[8];
    std::memset(ucSaved, 1, sizeof ucSaved);

    vResetPortRelinkTable(entries, iRelinkCount, ucSaved);

    EXPECT_EQ(iRelinkCount, 0xFF);
    for (uint8_t b : ucSaved)
        EXPECT_EQ(b, 0);
    for (const PortRelinkInfo& e : entries) {
        EXPECT_EQ(e.m_bRelinkPending, 0);
        EXPECT_EQ(e.m_bRelinkFound, 0);
        EXPECT_EQ(e.m_ucRelinkSig[0], 0xFF);
        EXPECT_EQ(e.m_ucRelinkSig[1], 0xFF);
    }
    EXPECT_EQ(entries[4].m_strSerialNumber, "ABC");
    EXPECT_EQ(entries[4].m_ucU4Mode, 2);
}

}  // namespace
