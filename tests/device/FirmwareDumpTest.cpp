// The firmware file a drive makes of itself: the bytes come from the bench
// bridge's bank, a failed or blank read makes no file, and an existing file
// of the name is only taken when it holds the same image.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/FirmwareDump.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/UtilityTestSupport.h"

namespace krv::test {
namespace {

using bench::FaultKind;
using Bytes = std::vector<uint8_t>;

class FirmwareDump : public ::testing::Test {
protected:
    FirmwareDump() : table(bench, dev) {}

    BenchFixture bench;
    CKrvnUSBDev dev;
    DeviceTable table;
    TempDir dir;
};

TEST_F(FirmwareDump, TheBankBecomesAFileOnce)
{
    Bytes image;
    ASSERT_TRUE(bReadDeviceFirmware(dev, 0, 0, image));
    EXPECT_EQ(image, bench.devices().state(1).stored.firmware[0]);
    uint8_t ucVersion[FW_DUMP_VERSION_LENGTH];
    vDeviceFirmwareVersion(image, ucVersion);
    EXPECT_EQ(Bytes(ucVersion, ucVersion + 6), (Bytes{0x23, 0x06, 0x01, 0x80, 0x01, 0x00}));

    const std::string strPath = dir.file("KV_USB4_230601_80_01_00.bin");
    EXPECT_EQ(eWriteDeviceFirmwareFile(strPath, image), EFirmwareDumpResult::eWritten);
    const std::string strFile = readAll(strPath);
    EXPECT_EQ(Bytes(strFile.begin(), strFile.end()), image);
    EXPECT_EQ(eWriteDeviceFirmwareFile(strPath, image), EFirmwareDumpResult::eExisted);

    // A file of that name holding something else is left as it is.
    std::string strOther = strFile;
    strOther[100] ^= 0x01;
    writeAll(strPath, strOther);
    EXPECT_EQ(eWriteDeviceFirmwareFile(strPath, image), EFirmwareDumpResult::eDiffers);
    writeAll(strPath, "short");
    EXPECT_EQ(eWriteDeviceFirmwareFile(strPath, image), EFirmwareDumpResult::eDiffers);
    EXPECT_EQ(readAll(strPath), "short");

    writeAll(dir.file("plain"), "x");
    EXPECT_EQ(eWriteDeviceFirmwareFile(dir.file("plain/KV_USB4_x.bin"), image), EFirmwareDumpResult::eWriteFailed);
}

TEST_F(FirmwareDump, AFailedReadMakesNoImage)
{
    addFault(bench, 1, FaultKind::Check, {0xE2, 0xD0});
    Bytes image(10, 0xEE);
    EXPECT_FALSE(bReadDeviceFirmware(dev, 0, 0, image));
    EXPECT_TRUE(image.empty());

    addFault(bench, 1, FaultKind::Drop);
    EXPECT_FALSE(bReadDeviceFirmware(dev, 0, 0, image));
}

TEST_F(FirmwareDump, ABlankBankHoldsNoFirmware)
{
    CDriveHandle hDev(CreateDriveHandle(DriveKind::PhysicalDrive, bench.physicalDrive(1)));
    Bytes blank(FW_PART0_SIZE, 0xFF);
    ASSERT_EQ(CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct(hDev.get(), ACCESS_WRITE, blank.data(), FW_PART0_SIZE,
                                                                1, FW_PART_FIRST),
              SCSI_RESULT_OK);
    bench.clock().sleepMs(1000);
    Bytes image;
    EXPECT_FALSE(bReadDeviceFirmware(dev, 0, 1, image));
    EXPECT_TRUE(bReadDeviceFirmware(dev, 0, 0, image));
}

}  // namespace
}  // namespace krv::test
