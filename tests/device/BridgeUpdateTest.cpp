// A bridge update from start to end, on a bench bridge: new firmware written
// and verified by reading it back, new configuration images written and read
// back, then the raw CPU reset. The bridge leaves, comes back under a new
// drive number and runs what was written; after the bench is closed another
// process (krvbench) finds the same state in the bench folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/UtilityTestSupport.h"

namespace krv::test {
namespace {

using Bytes = std::vector<uint8_t>;

// Signature bytes of a firmware image (byte-sum form) by chip major revision.
constexpr uint8_t kChecksumSignature[8] = {0x5A, 0x4B, 0x3C, 0x2D, 0x1E, 0x0F, 0x69, 0x78};

std::string hexOf(const Bytes& bytes)
{
    std::string text;
    char sz[4];
    for (uint8_t b : bytes) {
        std::snprintf(sz, sizeof sz, "%02X", b);
        text += sz;
    }
    return text;
}

size_t occurrences(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
        ++n;
    return n;
}

std::string krvbenchPath()
{
    const char* pszBuild = std::getenv("KRV_BUILD_DIR");
    std::filesystem::path build = pszBuild ? std::filesystem::path(pszBuild)
                                           : std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
    return (build / "tools" / "krvbench" / "krvbench").string();
}

// Runs a program and gives what it printed; exit code in nExit.
std::string runAndRead(const std::string& strCommand, int& nExit)
{
    std::string out;
    FILE* pipe = ::popen(strCommand.c_str(), "r");
    if (!pipe) {
        nExit = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    nExit = ::pclose(pipe);
    return out;
}

TEST(BridgeUpdate, VerifiedFirmwareAndConfigurationRunAfterTheCpuResetAndPersist)
{
    bench::BenchSettings settings;
    settings.ports.resize(1);
    settings.ports[0].renumber = true;
    BenchFixture bench(settings);
    CKrvnUSBDev dev;
    DeviceTable table(bench, dev);
    TempDir dir;

    CDriveHandle hDev(CreateDriveHandle(DriveKind::PhysicalDrive, bench.physicalDrive(1)));
    const uint8_t ucMajorRev = dev.ucGet8574VariantCode(hDev.get());
    ASSERT_LT(ucMajorRev, 8);

    // The new firmware: version 24 05 17 80 02 01, signed for this chip.
    Bytes firmware(FW_IMAGE_MAX_SIZE);
    for (size_t i = 0; i < firmware.size(); ++i)
        firmware[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
    const Bytes version = {0x24, 0x05, 0x17, 0x80, 0x02, 0x01};
    std::copy(version.begin(), version.end(), firmware.begin() + 0x204);
    firmware[firmware.size() - 6] = kChecksumSignature[ucMajorRev];
    writeAll(dir.file("KV_USB4_240517_80_02_01.bin"), std::string(firmware.begin(), firmware.end()));
    const std::string strSaved = pUtility.g_strFWFileName;
    pUtility.g_strFWFileName = dir.file("KV_USB4_240517_80_02_01.bin");
    const uint8_t ucUpdated = dev.v8574UpdateFirmware(0, 0, 1);
    pUtility.g_strFWFileName = strSaved;
    ASSERT_EQ(ucUpdated, 1);

    // New configuration: the USB 3 image with other T10 texts, the USB4
    // image with another relink signature; each read back and compared.
    Bytes u3(CONFIG_BIN_SIZE), u4(CONFIG_BIN_SIZE);
    ASSERT_EQ(dev.b8574WrRdConfiguration(0, 0, u3.data(), 0, CONFIG_TYPE_U3), 1);
    ASSERT_EQ(dev.b8574WrRdConfiguration(0, 0, u4.data(), 0, CONFIG_TYPE_U4), 1);
    const std::string strVendor = "E2EVENDR";
    std::copy(strVendor.begin(), strVendor.end(), u3.begin() + 60);
    u4[RELINK_SIG_OFFSET] = 0x07;
    u4[RELINK_SIG_OFFSET + 1] = 0x03;
    for (auto [pImage, ucType] : {std::pair{&u3, CONFIG_TYPE_U3}, std::pair{&u4, CONFIG_TYPE_U4}}) {
        ASSERT_EQ(dev.b8574WrRdConfiguration(0, 1, pImage->data(), 0, ucType), 1);
        Bytes readBack(CONFIG_BIN_SIZE, 0);
        ASSERT_EQ(dev.b8574WrRdConfiguration(0, 0, readBack.data(), 0, ucType), 1);
        ASSERT_EQ(readBack, *pImage);
    }

    // Written but not yet running.
    uint8_t ucRunning[6];
    ASSERT_EQ(CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_READ, 0x07F0, ucRunning, 6), SCSI_RESULT_OK);
    EXPECT_NE(Bytes(ucRunning, ucRunning + 6), version);

    const int nDriveBefore = bench.physicalDrive(1);
    ASSERT_EQ(CKrvnUSBDev::SCSI8574_CPURST(hDev.get(), CPURST_CPU_RESET), SCSI_RESULT_OK);
    EXPECT_EQ(commandsOf(bench, 1).back().cdb, cdbOf({0xE8, 0x50, 0, 0, 0, 0}));
    bench.clock().sleepMs(10000);
    const int nDriveAfter = bench.physicalDrive(1);
    ASSERT_GE(nDriveAfter, 1);
    EXPECT_NE(nDriveAfter, nDriveBefore);
    EXPECT_NE(CKrvnUSBDev::SCSI8574_AccessRegister(hDev.get(), ACCESS_READ, 0x07F0, ucRunning, 6), SCSI_RESULT_OK)
        << "the old handle does not follow the bridge";

    CDriveHandle hAfter(CreateDriveHandle(DriveKind::PhysicalDrive, nDriveAfter));
    ASSERT_TRUE(hAfter.bIsValid());
    ASSERT_EQ(CKrvnUSBDev::SCSI8574_AccessRegister(hAfter.get(), ACCESS_READ, 0x07F0, ucRunning, 6), SCSI_RESULT_OK);
    EXPECT_EQ(Bytes(ucRunning, ucRunning + 6), version);
    uint8_t ucSig[2];
    ASSERT_EQ(CKrvnUSBDev::SCSI8574_AccessRegister(hAfter.get(), ACCESS_READ, 0xCA02, ucSig, 2), SCSI_RESULT_OK);
    EXPECT_EQ(ucSig[0], 0x07);
    EXPECT_EQ(ucSig[1], 0x03);
    uint8_t ucInquiry[38];
    ASSERT_EQ(CKrvnUSBDev::SCSI6390_Inquiry(hAfter.get(), ucInquiry, sizeof ucInquiry), SCSI_RESULT_OK);
    EXPECT_EQ(std::string(ucInquiry + 8, ucInquiry + 16), strVendor);
    hDev.reset();
    hAfter.reset();

    // Another process reads the closed bench.
    bench.close();
    const std::string strTool = krvbenchPath();
    ASSERT_TRUE(std::filesystem::exists(strTool)) << strTool << " not built";
    int nExit = -1;
    const std::string strJson = runAndRead("'" + strTool + "' show '" + bench.folder() + "' --json", nExit);
    ASSERT_EQ(nExit, 0) << strJson;
    EXPECT_NE(strJson.find("\"running\": \"240517800201\""), std::string::npos) << strJson;
    EXPECT_NE(strJson.find("\"version\": \"240517800201\""), std::string::npos);
    // Each new image is both stored and running.
    EXPECT_EQ(occurrences(strJson, hexOf(u3)), 2u);
    EXPECT_EQ(occurrences(strJson, hexOf(u4)), 2u);
}

}  // namespace
}  // namespace krv::test
