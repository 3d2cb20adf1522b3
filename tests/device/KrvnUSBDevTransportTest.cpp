// The vendor command transport against bench bridges: the bytes each routine
// puts on the wire, the limits that keep a command from being sent at all,
// the register-read retry loop on the virtual clock, and how refusals,
// time-outs and a vanished device come back.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "device/KRV752xNVME.h"
#include "device/KrvnUSBDev.h"
#include "platform/LastError.h"
#include "tests/device/DeviceBenchSupport.h"

namespace krv::test {
namespace {

using bench::FaultKind;
using bench::LogEntry;

class Transport : public ::testing::Test {
protected:
    Transport() : hDev(CreateDriveHandle(DriveKind::PhysicalDrive, bench.physicalDrive(1))) {}

    size_t commandCount() { return commandsOf(bench, 1).size(); }
    LogEntry lastCommand()
    {
        auto commands = commandsOf(bench, 1);
        return commands.empty() ? LogEntry() : commands.back();
    }

    BenchFixture bench;
    CDriveHandle hDev;
};

TEST_F(Transport, EachRoutinePutsItsCommandOnTheWire)
{
    ASSERT_TRUE(hDev.bIsValid());
    HANDLE h = hDev.get();
    std::vector<uint8_t> buf(NVME_IDENTIFY_SIZE, 0);
    struct Case {
        const char* pszName;
        std::function<int()> call;
        std::vector<uint8_t> cdb;
        DataDirection direction;
        uint32_t length;
        uint32_t timeoutSeconds;
    } cases[] = {
        {"inquiry", [&] { return CKrvnUSBDev::SCSI6390_Inquiry(h, buf.data(), 38); },
         {0x12, 0, 0, 0, 38, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, 38, 3},
        {"config read image 0 USB4",
         [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(h, ACCESS_READ, buf.data(), 128, 0, CONFIG_TYPE_U4); },
         {0xE0, 0x50, 0x01, 0, 0, 0}, DataDirection::In, 128, 3},
        {"config write image 1 USB3",
         [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(h, ACCESS_WRITE, buf.data(), 128, 1, CONFIG_TYPE_U3); },
         {0xE1, 0x51, 0x00, 0, 0, 0}, DataDirection::Out, 128, 60},
        {"firmware read image 1 first part",
         [&] { return CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(h, ACCESS_READ, buf.data(), 0x100, 1, 0); },
         {0xE2, 0x51, 0x00, 0x00, 0x01, 0x00}, DataDirection::In, 0x100, 3},
        {"firmware read image 1 second part",
         [&] { return CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(h, ACCESS_READ, buf.data(), 0xFE0, 1, 1); },
         {0xE2, 0xD1, 0x00, 0x00, 0x0F, 0xE0}, DataDirection::In, 0xFE0, 3},
        {"register read of 256 bytes",
         [&] { return CKrvnUSBDev::SCSI8574_AccessRegister(h, ACCESS_READ, 0x9000, buf.data(), 256); },
         {0xE4, 0x00, 0x50, 0x90, 0x00, 0x00}, DataDirection::In, 256, 3},
        {"register read above 0xFFFF",
         [&] { return CKrvnUSBDev::SCSI8574_AccessRegister(h, ACCESS_READ, 0x22805, buf.data(), 1); },
         {0xE4, 0x01, 0x51, 0x28, 0x05, 0x00}, DataDirection::In, 1, 3},
        {"6390 register read",
         [&] { return CKrvnUSBDev::SCSI6390_AccessRegister(h, ACCESS_READ, 0xC8D1, buf.data(), 2); },
         {0xE4, 0x02, 0x00, 0xC8, 0xD1, 0x00}, DataDirection::In, 2, 3},
        {"register write of a 4-byte buffer",
         [&] {
             uint8_t value[4] = {0xAB, 1, 2, 3};
             return CKrvnUSBDev::SCSI8574_AccessRegister(h, ACCESS_WRITE, 0xE302, value, 4);
         },
         {0xE5, 0xAB, 0x50, 0xE3, 0x02, 0x00}, DataDirection::None, 0, 60},
        {"register write with a length of 0 still writes its byte",
         [&] {
             uint8_t value[1] = {0x5C};
             return CKrvnUSBDev::SCSI6390_AccessRegister(h, ACCESS_WRITE, 0xE302, value, 0);
         },
         {0xE5, 0x5C, 0x00, 0xE3, 0x02, 0x00}, DataDirection::None, 0, 60},
        {"NVMe identify", [&] { return CKRV752xNVME::NVME_GetIdentify(h, buf.data(), 1); },
         {0xE6, 0x06, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, 4096, 60},
        {"ATA identify",
         [&] {
             std::string strSN;
             return CKrvnUSBDev::ATAPassThrough_GetHDSerialNumber(h, strSN);
         },
         // The drive is given two minutes, not 18 hours (see the time-out's note).
         {0xA1, 0x08, 0x0E, 0x00, 0x01, 0, 0, 0, 0xA0, 0xEC, 0, 0}, DataDirection::In, 512, 120},
        {"firmware write",
         [&] {
             const int iResult = CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(h, ACCESS_WRITE, buf.data(), 0x100, 1, 0);
             bench.clock().sleepMs(1000);   // the EEPROM programs before it takes the next command
             return iResult;
         },
         {0xE3, 0x51, 0x00, 0x00, 0x01, 0x00}, DataDirection::Out, 0x100, 60},
        {"CPU reset", [&] { return CKrvnUSBDev::SCSI8574_CPURST(h, CPURST_CPU_RESET); },
         {0xE8, 0x50, 0, 0, 0, 0}, DataDirection::None, 0, 6},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), SCSI_RESULT_OK) << c.pszName;
        LogEntry e = lastCommand();
        EXPECT_EQ(e.cdb, c.cdb) << c.pszName;
        EXPECT_EQ(e.direction, c.direction) << c.pszName;
        EXPECT_EQ(e.dataLength, c.length) << c.pszName;
        EXPECT_EQ(e.timeoutSeconds, c.timeoutSeconds) << c.pszName;
        EXPECT_EQ(e.result, LogEntry::Result::Good) << c.pszName;
    }
}

TEST_F(Transport, ArgumentsOutsideTheLimitsSendNothing)
{
    HANDLE h = hDev.get();
    std::vector<uint8_t> buf(0x10001, 0);
    uint8_t* p = buf.data();
    struct Case {
        const char* pszName;
        std::function<int()> call;
    } cases[] = {
        {"config 127 bytes", [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(h, 0, p, 127, 0, 0); }},
        {"config 129 bytes", [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(h, 0, p, 129, 0, 0); }},
        {"config ReadWrite 2", [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(h, 2, p, 128, 0, 0); }},
        {"config image 2", [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(h, 0, p, 128, 2, 0); }},
        {"config type 2", [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(h, 0, p, 128, 0, 2); }},
        {"config NULL handle", [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(nullptr, 0, p, 128, 0, 0); }},
        {"config invalid handle",
         [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(INVALID_HANDLE_VALUE, 0, p, 128, 0, 0); }},
        {"6390 config 64 bytes", [&] { return CKrvnUSBDev::SCSI6390_AccessConfigEEPROM(h, 0, p, 64, 0, 0); }},
        {"register 257 bytes", [&] { return CKrvnUSBDev::SCSI8574_AccessRegister(h, 0, 0x9000, p, 257); }},
        {"register read of 0 bytes", [&] { return CKrvnUSBDev::SCSI8574_AccessRegister(h, 0, 0x9000, p, 0); }},
        {"register write 257", [&] { return CKrvnUSBDev::SCSI6390_AccessRegister(h, 1, 0x9000, p, 257); }},
        {"register ReadWrite 2", [&] { return CKrvnUSBDev::SCSI8574_AccessRegister(h, 2, 0x9000, p, 1); }},
        {"register NULL buffer", [&] { return CKrvnUSBDev::SCSI8574_AccessRegister(h, 0, 0x9000, nullptr, 1); }},
        {"firmware part 2", [&] { return CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(h, 0, p, 16, 0, 2); }},
        {"firmware image 2", [&] { return CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(h, 0, p, 16, 2, 0); }},
        {"firmware 0 bytes", [&] { return CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(h, 1, p, 0, 0, 0); }},
        {"firmware 65537 bytes",
         [&] { return CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(h, 1, p, 0x10001, 0, 0); }},
        {"firmware ReadWrite 2", [&] { return CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(h, 2, p, 16, 0, 0); }},
        {"ATA NULL handle",
         [&] {
             std::string s;
             return CKrvnUSBDev::ATAPassThrough_GetHDDFW(nullptr, s);
         }},
    };
    const size_t nBefore = commandCount();
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), SCSI_RESULT_BAD_ARGUMENT) << c.pszName;
    EXPECT_EQ(commandCount(), nBefore);
}

TEST_F(Transport, AFailedRegisterReadIsSentAgainTwentyMillisecondsApart)
{
    DebugLevel level;
    addFault(bench, 1, FaultKind::Fail, {0xE4}, 3);
    const uint64_t tStart = bench.clock().monotonicMs();
    uint8_t value = 0xEE;
    EXPECT_EQ(CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_READ, 0xC8FF, &value, 1), SCSI_RESULT_OK);
    EXPECT_EQ(value, 0x10);
    EXPECT_EQ(bench.clock().monotonicMs() - tStart, 60u);
    EXPECT_TRUE(bench.capture().contains("::DeviceIoControl success after retry: 3"));

    auto commands = commandsOf(bench, 1);
    ASSERT_EQ(commands.size(), 4u);
    for (size_t i = 1; i < commands.size(); ++i)
        EXPECT_EQ(commands[i].ms - commands[i - 1].ms, 20u);
    EXPECT_EQ(commands[0].result, LogEntry::Result::TransportFailed);
    EXPECT_EQ(commands[3].result, LogEntry::Result::Good);
}

TEST_F(Transport, ARegisterReadGivesUpAfterThirtyRetriesWithAZeroedBuffer)
{
    addFault(bench, 1, FaultKind::Fail, {0xE4}, 31);
    const uint64_t tStart = bench.clock().monotonicMs();
    uint8_t values[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_READ, 0xC8FF, values, 4), SCSI_RESULT_FAIL);
    for (uint8_t v : values)
        EXPECT_EQ(v, 0);
    EXPECT_EQ(commandCount(), 31u);
    EXPECT_EQ(bench.clock().monotonicMs() - tStart, 600u);
}

TEST_F(Transport, RefusalsAndWritesAreNotRetried)
{
    struct Case {
        const char* pszName;
        FaultKind eKind;
        std::vector<uint8_t> prefix;
        std::function<int()> call;
        const char* pszLine;
    };
    uint8_t value = 0x5A;
    std::vector<uint8_t> config(128, 0);
    // Each failure is logged under its routine's name as the trace has
    // always shown it.
    const Case cases[] = {
        {"check condition on a read", FaultKind::Check, {0xE4},
         [&] { return CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_READ, 0x9000, &value, 1); },
         ": SCSI8574_AccessRegister: (status = Fail) hDev:"},
        {"time-out of a read", FaultKind::Timeout, {0xE0},
         [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(hDev.get(), ACCESS_READ, config.data(), 128, 0, 0); },
         ": SCSI8574_AccessConfigEEPROM: (status = FAIL) hDev:"},
        {"failed register write", FaultKind::Fail, {0xE5},
         [&] { return CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_WRITE, 0x9000, &value, 1); },
         ": SCSI8574_AccessRegister: (status = Fail) hDev:"},
        {"failed register write of an older bridge", FaultKind::Fail, {0xE5},
         [&] { return CKrvnUSBDev::SCSI6390_AccessRegister(hDev.get(), ACCESS_WRITE, 0x9000, &value, 1); },
         "SCSI6390_AccessRegister:__LINE__: (status = Fail) hDev:"},
        {"refused configuration write", FaultKind::Check, {0xE1},
         [&] { return CKrvnUSBDev::SCSI8574_AccessConfigEEPROM(hDev.get(), ACCESS_WRITE, config.data(), 128, 0, 0); },
         ": SCSI8574_AccessConfigEEPROM: (status = FAIL) hDev:"},
    };
    vDEBUG_SetLevel(1);
    for (const Case& c : cases) {
        addFault(bench, 1, c.eKind, c.prefix, 1);
        bench.capture().clear();
        const size_t nBefore = commandCount();
        EXPECT_EQ(c.call(), SCSI_RESULT_FAIL) << c.pszName;
        EXPECT_EQ(commandCount(), nBefore + 1) << c.pszName;
        const std::string strLine = bench.capture().joined();
        const std::string strExpected = c.pszLine;
        const size_t nLineAt = strExpected.find("__LINE__");
        if (nLineAt == std::string::npos) {
            EXPECT_NE(strLine.find(strExpected), std::string::npos) << c.pszName << ": " << strLine;
        } else {
            // No name before the message: "Class::Method:NNN: (status".
            EXPECT_NE(strLine.find(strExpected.substr(0, nLineAt)), std::string::npos) << strLine;
            EXPECT_NE(strLine.find(strExpected.substr(nLineAt + 8)), std::string::npos) << strLine;
            EXPECT_EQ(strLine.find("SCSI6390_AccessRegister: ("), std::string::npos) << strLine;
        }
    }
    vDEBUG_SetLevel(0);
    EXPECT_EQ(value, 0) << "a refused register read leaves zeros";
}

TEST_F(Transport, AVanishedDeviceFailsEveryCommand)
{
    addFault(bench, 1, FaultKind::Drop);
    uint8_t value = 0xEE;
    EXPECT_EQ(CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_READ, 0x9000, &value, 1), SCSI_RESULT_FAIL);
    EXPECT_EQ(lastError(), winerr::kDeviceNotConnected);
    EXPECT_EQ(value, 0);
    uint8_t inquiry[38];
    EXPECT_EQ(CKrvnUSBDev::SCSI6390_Inquiry(hDev.get(), inquiry, sizeof inquiry), SCSI_RESULT_FAIL);
    EXPECT_EQ(CKrvnUSBDev::SCSI8574_CPURST(hDev.get(), CPURST_CPU_RESET), SCSI_RESULT_FAIL);
    // Nor does it open again.
    EXPECT_EQ(CreateDriveHandle(DriveKind::PhysicalDrive, 1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(lastError(), winerr::kFileNotFound);
}

TEST(TransportChips, InquiryCarriesTheChipIdentity)
{
    struct Case {
        const char* pszChip;
        const char* pszLink;
        const char* pszIdentity;
    } cases[] = {{"KRV8574", "USB3", "8574"},
                 {"KRV8574", "USB4-U3", "8576"},
                 {"KRV752B", "USB3", "7520"},
                 {"KRV6390", "USB3", "6390"}};
    for (const Case& c : cases) {
        BenchFixture bench(1, c.pszChip, c.pszLink);
        CDriveHandle hDev(CreateDriveHandle(DriveKind::PhysicalDrive, bench.physicalDrive(1)));
        uint8_t data[38];
        ASSERT_EQ(CKrvnUSBDev::SCSI6390_Inquiry(hDev.get(), data, sizeof data), SCSI_RESULT_OK) << c.pszChip;
        char szChip[8];
        std::snprintf(szChip, sizeof szChip, "%02X%02X", data[37], data[36]);
        EXPECT_STREQ(szChip, c.pszIdentity) << c.pszChip << " on " << c.pszLink;

        addFault(bench, 1, FaultKind::Check, {0x12});
        EXPECT_EQ(CKrvnUSBDev::SCSI6390_Inquiry(hDev.get(), data, sizeof data), SCSI_RESULT_FAIL);
        EXPECT_EQ(data[36], 0) << "a failed INQUIRY leaves zeros";
    }
}

TEST(TransportDisk, IdentifyTextsOfTheDriveBehindTheBridge)
{
    BenchFixture bench;
    const int nDrive = bench.physicalDrive(1);
    const bench::DiskIdentity disk = bench.devices().state(1).disk;
    ASSERT_FALSE(disk.serial.empty());
    CDriveHandle hDev(CreateDriveHandle(DriveKind::PhysicalDrive, nDrive));

    std::string strSN = "HDD:";
    EXPECT_EQ(CKrvnUSBDev::ATAPassThrough_GetHDSerialNumber(hDev.get(), strSN), SCSI_RESULT_OK);
    EXPECT_EQ(strSN, "HDD:" + disk.serial);
    std::string strFW;
    EXPECT_EQ(CKrvnUSBDev::ATAPassThrough_GetHDDFW(hDev.get(), strFW), SCSI_RESULT_OK);
    EXPECT_EQ(strFW, disk.firmware);

    EXPECT_EQ(CKRV752xNVME::strGetNVMESerialNumber(nDrive), disk.serial);
    EXPECT_EQ(CKRV752xNVME::strGetNVMEFirmwareRevision(nDrive), disk.firmware);
    std::string strSSD = "old";
    EXPECT_EQ(CKrvnUSBDev::ATAPassThrough_GetSSDSerialNumber(nDrive, strSSD), SCSI_RESULT_OK);
    std::string strUpper = disk.serial;
    for (char& c : strUpper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(strSSD, strUpper);

    // A refused IDENTIFY is a failure that leaves the text as it was.
    addFault(bench, 1, FaultKind::Check, {0xA1});
    std::string strKept = "kept";
    EXPECT_EQ(CKrvnUSBDev::ATAPassThrough_GetHDSerialNumber(hDev.get(), strKept), SCSI_RESULT_FAIL);
    EXPECT_EQ(strKept, "kept");
    addFault(bench, 1, FaultKind::Check, {0xE6});
    EXPECT_EQ(CKRV752xNVME::strGetNVMESerialNumber(nDrive), "");

    // No such drive: no text, and a failure rather than an empty success.
    EXPECT_EQ(CKRV752xNVME::strGetNVMEFirmwareRevision(42), "");
    EXPECT_EQ(CKrvnUSBDev::ATAPassThrough_GetSSDSerialNumber(42, strSSD), SCSI_RESULT_FAIL);
    EXPECT_EQ(strSSD, "");
}

TEST(TransportDisk, StandbyAndFlushOpenTheDriveThemselves)
{
    BenchFixture bench;
    const int nDrive = bench.physicalDrive(1);
    EXPECT_TRUE(CKrvnUSBDev::bSendFlushCache(nDrive));
    EXPECT_TRUE(CKrvnUSBDev::bSendStandbyImmediate(nDrive));
    auto commands = commandsOf(bench, 1);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].cdb, cdbOf({0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE7, 0, 0}));
    EXPECT_EQ(commands[1].cdb, cdbOf({0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0, 0}));
    EXPECT_EQ(commands[1].direction, DataDirection::None);

    EXPECT_FALSE(CKrvnUSBDev::bSendFlushCache(42));
    addFault(bench, 1, FaultKind::Check, {0xA1});
    EXPECT_FALSE(CKrvnUSBDev::bSendStandbyImmediate(nDrive));
}

}  // namespace
}  // namespace krv::test
