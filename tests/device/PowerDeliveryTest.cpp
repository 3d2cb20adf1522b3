// The PD controller commands against bench controllers of every vendor:
// detection, versions from exactly the bytes the controller sends, the
// command blocks on the wire, and the firmware files built into images in
// the order Start uses them.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "device/PowerDelivery.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/DiscoveryBenchSupport.h"
#include "tests/device/PdFileSupport.h"

namespace krv::test {
namespace {

using Bytes = std::vector<uint8_t>;

bench::BenchSettings pdBench(std::vector<std::pair<bench::PdChip, bench::McuChip>> parts)
{
    bench::BenchSettings settings = benchOf(std::vector<std::pair<std::string, std::string>>(parts.size(), {"KRV8574", "USB3"}));
    for (size_t i = 0; i < parts.size(); ++i) {
        settings.ports[i].pd = parts[i].first;
        settings.ports[i].mcu = parts[i].second;
    }
    return settings;
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::vector<bench::LogEntry> pdCommands(BenchFixture& bench, int port)
{
    std::vector<bench::LogEntry> out;
    for (const bench::LogEntry& e : commandsOf(bench, port))
        if (!e.cdb.empty() && e.cdb[0] == 0xEC)
            out.push_back(e);
    return out;
}

TEST(PowerDelivery, DetectionAndVersionOfEachController)
{
    using bench::McuChip;
    using bench::PdChip;
    BenchFixture bench(pdBench({{PdChip::Richtek, McuChip::None},
                                {PdChip::Cypress, McuChip::None},
                                {PdChip::Ccg3, McuChip::None},
                                {PdChip::Ccg, McuChip::Stm},
                                {PdChip::Richtek, McuChip::Stm},
                                {PdChip::Richtek, McuChip::Stm}}));
    struct Case {
        int port;
        uint8_t pdEnable, mcuEnable;
        uint8_t vendor, mcu, mode;
        const char* version;
    } cases[] = {
        {1, 1, 0, PD_VENDOR_RICHTEK, 0, 0, "0001"},
        {2, 1, 0, PD_VENDOR_CYPRESS, 0, 0, "0001000000000001"},
        {3, 1, 0, PD_VENDOR_CCG3, 0, 1, "0001000000000001"},
        {4, 1, 1, PD_VENDOR_CCG, MCU_VENDOR_STM, 1, "0001000000000001/FFFF"},
        {5, 0, 1, PD_VENDOR_RICHTEK, MCU_VENDOR_STM, 0, "FFFF"},
        {6, 1, 0, PD_VENDOR_RICHTEK, MCU_VENDOR_STM, 0, "0001"},
    };
    for (const Case& c : cases) {
        CPowerDelivery pd;
        pd.m_ucPDUpdateEnable = c.pdEnable;
        pd.m_ucMCUUpdateEnable = c.mcuEnable;
        const int drive = bench.physicalDrive(c.port);
        ASSERT_EQ(pd.nInitializedPDI2CBus(drive), 0) << c.port;
        EXPECT_EQ(pd.m_nPDChipVendor, c.vendor) << c.port;
        EXPECT_EQ(pd.m_nMCUChipVendor, c.mcu) << c.port;
        EXPECT_EQ(pd.m_ucCCG3DeviceMode, c.mode) << c.port;
        EXPECT_EQ(pd.nGetPDFWVersion(drive), 0) << c.port;
        EXPECT_EQ(pd.m_strVersion, c.version) << c.port;
    }
}

TEST(PowerDelivery, AVersionIsTheControllersBytesInThePartsOrder)
{
    BenchFixture bench(pdBench({{bench::PdChip::Richtek, bench::McuChip::None}}));
    Bytes flash(16384, 0xFF);
    flash[0x1000] = 0x12;  // byte 0 of the answer
    flash[0x1001] = 0x34;
    writeFile(bench.portFolder(1) + "/pd-flash.bin", std::string(flash.begin(), flash.end()));
    bench.reopen();
    CPowerDelivery pd;
    pd.m_ucPDUpdateEnable = 1;
    const int drive = bench.physicalDrive(1);
    ASSERT_EQ(pd.nInitializedPDI2CBus(drive), 0);
    ASSERT_EQ(pd.nGetPDFWVersion(drive), 0);
    EXPECT_EQ(pd.m_strVersion, "3412");
}

TEST(PowerDelivery, DetectionRetriesAndABadSignature)
{
    BenchFixture bench(pdBench({{bench::PdChip::Cypress, bench::McuChip::Stm}}));
    const int drive = bench.physicalDrive(1);
    DebugLevel level;
    {
        // Two failures are absorbed by the third try, 10 ms apart.
        CPowerDelivery pd;
        ASSERT_EQ(pd.nInitializedPDI2CBus(drive), 0);
        addFault(bench, 1, bench::FaultKind::Fail, {0xEC, 0x07}, 2);
        const size_t before = pdCommands(bench, 1).size();
        EXPECT_EQ(pd.nGetPDChipVendor(drive), 0);
        std::vector<bench::LogEntry> sent = pdCommands(bench, 1);
        ASSERT_EQ(sent.size() - before, 3u);
        EXPECT_GE(sent.back().ms - sent[before].ms, 20u);
        EXPECT_TRUE(bench.capture().contains("PD_GET_PD_CONTROL Retry[1]"));
    }
    {
        CPowerDelivery pd;
        ASSERT_EQ(pd.nInitializedPDI2CBus(drive), 0);
        // Three failures leave a cleared block: refused for its signature,
        // the vendors taken from it.
        addFault(bench, 1, bench::FaultKind::Fail, {0xEC, 0x07}, 3);
        EXPECT_EQ(pd.nGetPDChipVendor(drive), -3);
        EXPECT_EQ(pd.m_nPDChipVendor, PD_VENDOR_NONE);
        EXPECT_EQ(pd.m_nMCUChipVendor, 0);
    }
    {
        // A control block without its 5A is refused, its vendor bytes kept.
        CPowerDelivery pd;
        ASSERT_EQ(pd.nInitializedPDI2CBus(drive), 0);
        addFault(bench, 1, bench::FaultKind::Corrupt, {0xEC, 0x07});
        EXPECT_EQ(pd.nGetPDChipVendor(drive), -3);
        EXPECT_EQ(pd.m_nPDChipVendor, PD_VENDOR_CYPRESS);
        EXPECT_EQ(pd.m_nMCUChipVendor, MCU_VENDOR_STM);
    }
    // Without an open bus the controller answers nothing.
    bench.unplug(1);
    bench.plug(1);
    CPowerDelivery pd;
    EXPECT_EQ(pd.nGetPDChipVendor(bench.physicalDrive(1)), -3);
    EXPECT_EQ(pd.nGetPDFWVersion(bench.physicalDrive(1)), 0);
    EXPECT_EQ(pd.m_strVersion, "NULL");
}

TEST(PowerDelivery, CommandBlocksOnTheWire)
{
    BenchFixture bench(pdBench({{bench::PdChip::Richtek, bench::McuChip::Stm}}));
    const int drive = bench.physicalDrive(1);
    CPowerDelivery pd;
    ASSERT_EQ(pd.nInitializedPDI2CBus(drive), 0);
    auto hDev = CreateDriveHandle(DriveKind::PhysicalDrive, drive);
    CDriveHandle handle(hDev);
    uint8_t buf[256] = {};
    const size_t before = pdCommands(bench, 1).size();
    // A zero-length read and an over-long one send nothing.
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(hDev, 0, PD_READ_DATA, 0x1000, 0, buf, 0), 0);
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(hDev, 0, PD_READ_DATA, 0x1000, 0, buf, 257), -10);
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(nullptr, 0, PD_READ_DATA, 0x1000, 0, buf, 32), -10);
    EXPECT_EQ(pdCommands(bench, 1).size(), before);

    uint8_t word[4] = {0xA1, 0xB2, 0xC3, 0xD4};
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(hDev, 1, PD_MPT_AREA, 0, 0x3FFF, buf, 2), 0);
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(hDev, 1, PD_WRITE_DATA, 0x0005, 0, word, 4), 0);
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(hDev, 0, PD_READ_DATA, 0x1000, 0x0014, buf, 32), 0);
    EXPECT_EQ(Bytes(buf, buf + 4), Bytes(word, word + 4)) << "word 5 is bytes 20..23";
    uint8_t piece[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(hDev, 1, ST_MCU_ENTER_BOOTLOADER, 0, 0, buf, 2), 0);
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(hDev, 1, ST_MCU_WRITE_DATA, 0x0800, 0x0018, piece, 12), 0);
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(hDev, 0, ST_MCU_READ_DATA, 0, 0x0018, buf, 12), 0);
    EXPECT_EQ(Bytes(buf, buf + 12), Bytes(piece, piece + 12));
    EXPECT_EQ(pd.SCSI6390_PDVendorCmd(hDev, 0, PD_FW_VERSION, 0, 0, buf, 16), -1) << "no version while in MTP mode";

    std::vector<bench::LogEntry> sent = pdCommands(bench, 1);
    ASSERT_EQ(sent.size() - before, 7u);
    struct Wire {
        Bytes cdb;
        DataDirection direction;
        uint32_t length;
        uint32_t timeout;
    } expected[] = {
        {{0xEC, 0x00, 0x00, 0x00, 0x3F, 0xFF, 0x00, 0x00}, DataDirection::None, 0, 60},
        {{0xEC, 0x01, 0x00, 0x05, 0xA1, 0xB2, 0xC3, 0xD4}, DataDirection::None, 0, 60},
        {{0xEC, 0x06, 0x10, 0x00, 0x00, 0x14, 0x00, 0x20}, DataDirection::In, 32, 3},
        {{0xEC, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, DataDirection::None, 0, 60},
        {{0xEC, 0x34, 0x08, 0x00, 0x00, 0x18, 0x0C, 0x00}, DataDirection::Out, 12, 60},
        {{0xEC, 0x35, 0x00, 0x00, 0x00, 0x18, 0x0C, 0x00}, DataDirection::In, 12, 3},
        {{0xEC, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, DataDirection::In, 2, 3},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        const bench::LogEntry& e = sent[before + i];
        EXPECT_EQ(e.cdb, expected[i].cdb) << i;
        EXPECT_EQ(e.direction, expected[i].direction) << i;
        EXPECT_EQ(e.dataLength, expected[i].length) << i;
        EXPECT_EQ(e.timeoutSeconds, expected[i].timeout) << i;
    }
}

TEST(PowerDelivery, StartBuildsThePdImageAndThenTheMcuImage)
{
    BenchFixture bench(pdBench({{bench::PdChip::Ccg3, bench::McuChip::Stm}}));
    TempDir dir;
    const CyacdImage cyacd = cyacdImage("1D0311AD0000", 0x200, 6);
    writeFile(dir.file("pd.cyacd"), cyacd.text);
    Bytes mcuBytes(100, 0x3C);
    writeFile(dir.file("mcu.hex"), mcuHexFile(mcuBytes));
    CPowerDelivery pd;
    pd.m_ucPDUpdateEnable = 1;
    pd.m_ucMCUUpdateEnable = 1;
    ASSERT_EQ(pd.nInitializedPDI2CBus(bench.physicalDrive(1)), 0);
    EXPECT_EQ(pd.strGetPDFWVersionFromFile(dir.file("pd.cyacd")), "123456789ABCDEF0");
    ASSERT_EQ(pd.nCreatePDSPIROMBuffer(dir.file("pd.cyacd")), 0);
    (void)pd.strGetPDFWVersionFromFile(dir.file("mcu.hex"));
    ASSERT_EQ(pd.nCreatePDSPIROMBuffer(dir.file("mcu.hex")), 0);
    // The MCU file left the PD rows as the PD file made them.
    ASSERT_EQ(pd.m_RowTableA.rows.size(), 7u);
    EXPECT_EQ(pd.m_RowTableA.rows[1].wRowNum, 0x200);
    EXPECT_EQ(pd.m_RowTableA.rows[6].data, cyacd.rows[5]);
    EXPECT_EQ(pd.m_dwSiliconID, 0x1D0311ADu);
    ASSERT_EQ(pd.m_MCUImage.size(), 9u);
    EXPECT_EQ(pd.m_MCUImage[0].ucDataType, 4);
    EXPECT_EQ(pd.m_MCUImage.back().ucDataType, 1);
}

TEST(PowerDelivery, BadFilesAreRefusedWithTheirMessages)
{
    TestPlatform platform;
    DebugLevel level;
    TempDir dir;
    writeFile(dir.file("short.bin"), std::string(16383, 'x'));
    writeFile(dir.file("fw.txt"), "nothing");
    writeFile(dir.file("short.cyacd"), "1D0311AD0000\r\n" + cyacdRow(0x200, Bytes(128, 1)).substr(0, 268) + "\r\n");
    CPowerDelivery pd;
    pd.m_ucPDUpdateEnable = 1;
    pd.m_nPDChipVendor = PD_VENDOR_CCG3;
    EXPECT_EQ(pd.strGetPDFWVersionFromFile(dir.file("short.bin")), "The PD FW file size is uncompatibie!!!");
    EXPECT_TRUE(platform.capture().contains("The PD FW file size is uncompatibie!!! [3fff]"));
    EXPECT_EQ(pd.nCreatePDSPIROMBuffer(dir.file("short.bin")), -10);
    EXPECT_EQ(pd.nCreatePDSPIROMBuffer(dir.file("missing.bin")), -10);
    EXPECT_TRUE(platform.capture().contains("The PD FW file is not exist["));
    EXPECT_EQ(pd.nCreatePDSPIROMBuffer(dir.file("fw.txt")), -10);
    EXPECT_TRUE(platform.capture().contains("The PD FW file is Unknow"));
    EXPECT_EQ(pd.nCreatePDSPIROMBuffer(dir.file("short.cyacd")), -10);
    EXPECT_TRUE(platform.capture().contains("The FW ROW length too short..[268]"));
    EXPECT_TRUE(pd.m_RowTableA.rows.empty());
}

}  // namespace
}  // namespace krv::test
