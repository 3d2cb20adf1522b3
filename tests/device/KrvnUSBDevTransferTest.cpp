// Configuration and firmware transfer against a bench bridge: what lands in
// its EEPROMs, how an image is split and spaced on the wire, the write
// retries and the read-back check, and what a refused, corrupted or
// vanished transfer gives. Also the KRV752x factory page and power
// configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/UtilityTestSupport.h"

namespace krv::test {
namespace {

using bench::FaultKind;
using bench::LogEntry;
using Bytes = std::vector<uint8_t>;

// A firmware image as a maker ships it: code bytes, the version at 0x204 and
// the signature byte of chip major revision 1 (the bench's KRV8574) six
// bytes before the end.
Bytes firmwareImage(size_t nSize, uint8_t ucSeed = 7)
{
    Bytes image(nSize);
    for (size_t i = 0; i < nSize; ++i)
        image[i] = static_cast<uint8_t>(i * 31 + ucSeed + (i >> 8));
    const uint8_t ucVersion[6] = {0x24, 0x05, 0x17, 0x80, 0x02, ucSeed};
    if (nSize >= 0x20A)
        std::copy(ucVersion, ucVersion + 6, image.begin() + 0x204);
    if (nSize >= 6)
        image[nSize - 6] = 0x4B;
    return image;
}

std::vector<LogEntry> commandsStartingWith(BenchFixture& bench, int port, uint8_t ucOpcode)
{
    std::vector<LogEntry> out;
    for (const LogEntry& e : commandsOf(bench, port))
        if (!e.cdb.empty() && e.cdb[0] == ucOpcode)
            out.push_back(e);
    return out;
}

// The firmware file g_strFWFileName names, for the length of a test.
class FirmwareFile {
public:
    explicit FirmwareFile(const Bytes& image) : m_strSaved(pUtility.g_strFWFileName)
    {
        writeAll(m_Dir.file("KV_USB4_test.bin"), std::string(image.begin(), image.end()));
        pUtility.g_strFWFileName = m_Dir.file("KV_USB4_test.bin");
    }
    ~FirmwareFile() { pUtility.g_strFWFileName = m_strSaved; }

private:
    TempDir m_Dir;
    std::string m_strSaved;
};

class Transfer : public ::testing::Test {
protected:
    Transfer() : table(bench, dev) {}
    const Bytes& storedBank(int bank) { return stored = bench.devices().state(1).stored.firmware[bank]; }

    BenchFixture bench;
    CKrvnUSBDev dev;
    DeviceTable table;
    DebugLevel level;
    Bytes stored;
};

TEST_F(Transfer, ConfigurationImagesOfBothBanksAndTypesRoundTrip)
{
    for (uint8_t ucImage = 0; ucImage < 2; ++ucImage) {
        for (uint8_t ucType = 0; ucType < 2; ++ucType) {
            Bytes config(CONFIG_BIN_SIZE);
            for (size_t i = 0; i < config.size(); ++i)
                config[i] = static_cast<uint8_t>(i + 16 * ucImage + 64 * ucType);
            ASSERT_EQ(dev.b8574WrRdConfiguration(0, 1, config.data(), ucImage, ucType), 1);
            EXPECT_EQ(bench.devices().state(1).stored.config[ucImage][ucType], config);
            LogEntry write = commandsOf(bench, 1).back();
            EXPECT_EQ(write.cdb, cdbOf({0xE1, static_cast<uint8_t>(0x50 + ucImage), ucType, 0, 0, 0}));

            Bytes readBack(CONFIG_BIN_SIZE, 0xEE);
            ASSERT_EQ(dev.b8574WrRdConfiguration(0, 0, readBack.data(), ucImage, ucType), 1);
            EXPECT_EQ(readBack, config);
        }
    }
}

TEST_F(Transfer, AFailedConfigurationReadLeavesNoImage)
{
    Bytes config(CONFIG_BIN_SIZE, 0xEE);
    addFault(bench, 1, FaultKind::Check, {0xE0});
    EXPECT_EQ(dev.b8574WrRdConfiguration(0, 0, config.data(), 0, 1), 0);
    EXPECT_EQ(config, Bytes(CONFIG_BIN_SIZE, 0));
    EXPECT_TRUE(bench.capture().contains("SCSI8574_AccessConfigEEPROM Fail"));

    table.list.Devs[1].m_ucPhysicalAddress = 42;   // nothing there
    EXPECT_EQ(dev.b8574WrRdConfiguration(1, 1, config.data(), 0, 1), 0);
    EXPECT_TRUE(bench.capture().contains("b8574WrRdConfiguration: [1] CreateFile Fail"));
    EXPECT_EQ(dev.b8574WrRdConfiguration(0, 1, config.data(), 2, 1), 0) << "no third bank";
}

TEST_F(Transfer, AWholeImageGoesInTwoPartsASecondApartAndIsReadBack)
{
    const Bytes image = firmwareImage(FW_IMAGE_MAX_SIZE);
    FirmwareFile file(image);
    ASSERT_EQ(dev.v8574UpdateFirmware(0, 1, 1), 1);
    EXPECT_EQ(storedBank(1), image);

    auto writes = commandsStartingWith(bench, 1, 0xE3);
    auto reads = commandsStartingWith(bench, 1, 0xE2);
    ASSERT_EQ(writes.size(), 2u);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(writes[0].cdb, cdbOf({0xE3, 0x51, 0x00, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(writes[1].cdb, cdbOf({0xE3, 0xD1, 0x00, 0x00, 0x7F, 0xE0}));
    EXPECT_EQ(reads[0].cdb, cdbOf({0xE2, 0x51, 0x00, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(reads[1].cdb, cdbOf({0xE2, 0xD1, 0x00, 0x00, 0x7F, 0xE0}));
    // The bridge gets its programming time after each part and before the
    // read-back.
    EXPECT_EQ(writes[1].ms - writes[0].ms, 1000u);
    EXPECT_EQ(reads[0].ms - writes[1].ms, 2000u);
    EXPECT_EQ(reads[1].ms - reads[0].ms, 1000u);
    EXPECT_TRUE(bench.capture().contains("CheckFirmware: [0] iResult 0 dwErrorCode 0, Retry 0"));
}

TEST(TransferSplit, AWriteGoesWholeUpToTheTransferBufferAndReadsSplitAtTheFirstRegion)
{
    struct Case {
        size_t nSize;
        std::vector<uint32_t> writes;
        std::vector<uint32_t> reads;
    } cases[] = {
        {60000, {60000}, {60000}},
        {65280, {65280}, {65280}},
        {65281, {65281}, {65280, 1}},
        {65536, {65536}, {65280, 256}},
        {65537, {65280, 257}, {65280, 257}},
        {FW_IMAGE_MAX_SIZE, {65280, 32736}, {65280, 32736}},
    };
    for (const Case& c : cases) {
        BenchFixture bench;
        CKrvnUSBDev dev;
        DeviceTable table(bench, dev);
        const Bytes image = firmwareImage(c.nSize);
        FirmwareFile file(image);
        ASSERT_EQ(dev.v8574UpdateFirmware(0, 0, 1), 1) << c.nSize;
        for (auto [ucOpcode, expected] : {std::pair{uint8_t{0xE3}, c.writes}, std::pair{uint8_t{0xE2}, c.reads}}) {
            std::vector<uint32_t> parts;
            for (const LogEntry& e : commandsStartingWith(bench, 1, ucOpcode))
                parts.push_back(e.dataLength);
            EXPECT_EQ(parts, expected) << c.nSize << " opcode " << int(ucOpcode);
        }
        const Bytes bank = bench.devices().state(1).stored.firmware[0];
        EXPECT_TRUE(std::equal(image.begin(), image.end(), bank.begin())) << c.nSize;
    }
}

TEST(TransferSplit, AHostAdapterWithASmallerLimitFailsTheWholeTransfer)
{
    // The bridge takes 64 KiB in one command, but this host's adapter moves
    // at most the first region's size: the update says so, never passes.
    bench::BenchSettings settings;
    settings.ports.resize(1);
    settings.ports[0].maxTransfer = 65280;
    BenchFixture bench(settings);
    CKrvnUSBDev dev;
    DeviceTable table(bench, dev);
    const Bytes before = bench.devices().state(1).stored.firmware[0];
    FirmwareFile file(firmwareImage(65536));
    EXPECT_EQ(dev.v8574UpdateFirmware(0, 0, 1), 0);
    const auto writes = commandsStartingWith(bench, 1, 0xE3);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front().result, LogEntry::Result::TransportFailed);
    EXPECT_EQ(bench.devices().state(1).stored.firmware[0], before);
}

TEST_F(Transfer, AFileOfTheWrongSizeIsRefusedBeforeTheBridgeIsTouched)
{
    const Bytes before = storedBank(0);
    for (size_t nSize : {size_t{0}, size_t{0x209}, size_t{FW_IMAGE_MAX_SIZE + 1}, size_t{200000}}) {
        FirmwareFile file(firmwareImage(nSize));
        EXPECT_EQ(dev.v8574UpdateFirmware(0, 0, 1), 0) << nSize;
    }
    const std::string strSaved = pUtility.g_strFWFileName;
    pUtility.g_strFWFileName = "/nonexistent/KV_USB4_x.bin";
    EXPECT_EQ(dev.v8574UpdateFirmware(0, 0, 1), 0);
    pUtility.g_strFWFileName = strSaved;

    EXPECT_TRUE(commandsOf(bench, 1).empty());
    EXPECT_EQ(storedBank(0), before);
}

TEST_F(Transfer, AFailedTryFailsTheUpdateEvenWhenTheNextSucceeds)
{
    const Bytes image = firmwareImage(FW_IMAGE_MAX_SIZE);
    FirmwareFile file(image);
    addFault(bench, 1, FaultKind::Fail, {0xE3}, 1);
    EXPECT_EQ(dev.v8574UpdateFirmware(0, 0, 1), 0);
    EXPECT_EQ(storedBank(0), image) << "the second try wrote the image";
    const auto lines = bench.capture().lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("AccessFirmwareEEPROM Fail Retry[") !=
                                                              std::string::npos; }),
              1);
    EXPECT_TRUE(bench.capture().contains("Fail Retry[0]"));
    // The failed try still sent its second part after the pause.
    const auto writes = commandsStartingWith(bench, 1, 0xE3);
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0].result, LogEntry::Result::TransportFailed);
    EXPECT_EQ(writes[1].dataLength, FW_PART1_SIZE);
    EXPECT_GE(writes[1].ms - writes[0].ms, 1000u);   // the programming pause
    // The result was already lost, so both read-back passes run.
    EXPECT_EQ(commandsStartingWith(bench, 1, 0xE2).size(), 4u);
}

TEST_F(Transfer, TenFailedTriesGiveUp)
{
    FirmwareFile file(firmwareImage(FW_IMAGE_MAX_SIZE));
    addFault(bench, 1, FaultKind::Check, {0xE3}, 100);
    EXPECT_EQ(dev.v8574UpdateFirmware(0, 0, 0), 0);
    EXPECT_EQ(commandsStartingWith(bench, 1, 0xE3).size(), 20u);   // both parts of every try
    EXPECT_TRUE(bench.capture().contains("Fail Retry[9]"));
    EXPECT_TRUE(commandsStartingWith(bench, 1, 0xE2).empty());
}

TEST_F(Transfer, ACorruptedReadBackIsAFailure)
{
    const Bytes image = firmwareImage(FW_IMAGE_MAX_SIZE);
    FirmwareFile file(image);
    bench::Fault corrupt;
    corrupt.kind = FaultKind::Corrupt;
    corrupt.cdbPrefix = {0xE2, 0xD0};
    corrupt.byteIndex = 5;
    std::string outcome;
    ASSERT_TRUE(bench.devices().addFault(1, corrupt, outcome)) << outcome;

    EXPECT_EQ(dev.v8574UpdateFirmware(0, 0, 1), 0);
    EXPECT_TRUE(bench.capture().contains("MEMCMP failed 0xff05["));
    EXPECT_TRUE(bench.capture().contains("CheckFirmware: [0] iResult 0 dwErrorCode 0, Retry 1"));
    EXPECT_EQ(commandsStartingWith(bench, 1, 0xE2).size(), 4u);
    EXPECT_EQ(storedBank(0), image);
}

TEST_F(Transfer, WithoutVerifyNothingIsReadBack)
{
    FirmwareFile file(firmwareImage(FW_IMAGE_MAX_SIZE));
    EXPECT_EQ(dev.v8574UpdateFirmware(0, 0, 0), 1);
    EXPECT_TRUE(commandsStartingWith(bench, 1, 0xE2).empty());
}

TEST_F(Transfer, ReadFirmwareGivesTheBankOrNothing)
{
    Bytes part0(FW_PART0_SIZE, 0xEE);
    Bytes part1(FW_PART1_SIZE, 0xEE);
    ASSERT_EQ(dev.v8574ReadFirmware(0, 1, part0.data(), part1.data()), 1);
    Bytes whole = part0;
    whole.insert(whole.end(), part1.begin(), part1.end());
    EXPECT_EQ(whole, storedBank(1));

    // Second part refused: neither part is handed out.
    addFault(bench, 1, FaultKind::Check, {0xE2, 0xD1});
    EXPECT_EQ(dev.v8574ReadFirmware(0, 1, part0.data(), part1.data()), 0);
    EXPECT_EQ(part0, Bytes(FW_PART0_SIZE, 0));
    EXPECT_EQ(part1, Bytes(FW_PART1_SIZE, 0));

    std::fill(part0.begin(), part0.end(), 0xEE);
    addFault(bench, 1, FaultKind::Drop);
    EXPECT_EQ(dev.v8574ReadFirmware(0, 0, part0.data(), part1.data()), 0);
    EXPECT_EQ(part0, Bytes(FW_PART0_SIZE, 0));
}

TEST(TransferPaths, ACdromTargetUsesItsCdromUnitButThePowerConfigurationThePhysicalDrive)
{
    bench::BenchSettings settings;
    settings.ports.resize(1);
    settings.ports[0].cdrom = true;
    BenchFixture bench(settings);
    CKrvnUSBDev dev;
    DeviceTable table(bench, dev);
    table.list.Devs[0].m_bIsCDROM = 1;
    table.list.Devs[0].m_ucCDROMAddress = static_cast<uint8_t>(bench.cdrom(1));
    ASSERT_GE(bench.cdrom(1), 0);

    Bytes config(CONFIG_BIN_SIZE);
    EXPECT_EQ(dev.b8574WrRdConfiguration(0, 0, config.data(), 0, 0), 1);
    EXPECT_TRUE(commandsOf(bench, 1).back().cdrom);

    TempDir dir;
    writeAll(dir.file("PowerConfiguration.bin"), "cfg,0x01");
    dev.vFactoryConfigure_PowerConfigWrite(0, dir.file("PowerConfiguration.bin"));
    EXPECT_FALSE(commandsOf(bench, 1).back().cdrom);
    EXPECT_EQ(commandsOf(bench, 1).back().cdb[0], 0xC3);
}

TEST(PowerConfiguration, TheFileTextBecomesThePayload)
{
    struct Case {
        const char* pszName;
        std::string strText;
        std::vector<std::pair<size_t, uint8_t>> bytes;   // payload bytes to check
        size_t nFirstUnset;                              // from here on 0xFF
    } cases[] = {
        {"label then fields", "PowerCfg,0x01,0x02,,0x10", {{4, 0x01}, {5, 0x02}, {6, 0xFF}, {7, 0x10}}, 8},
        {"no comma: the whole text is field 0", "  0x3C  ", {{4, 0x3C}}, 5},
        {"low byte, stops at a non-hex", "x,0x1A2,7g,0X0b", {{4, 0xA2}, {5, 0x07}, {6, 0x0B}}, 7},
        {"blanks and line ends around values", "cfg,\r\n 0x11 ,\t0x22\r\n", {{4, 0x11}, {5, 0x22}}, 6},
        {"text ends at a NUL", std::string("cfg,0x01\0,0x02", 14), {{4, 0x01}}, 5},
        {"empty file", "", {}, 4},
    };
    for (const Case& c : cases) {
        uint8_t payload[POWER_CONFIG_SIZE];
        std::memset(payload, 0xEE, sizeof payload);
        CKrvnUSBDev::vBuildPowerConfigPayload(c.strText, payload);
        EXPECT_EQ(payload[0], 0x60) << c.pszName;
        EXPECT_EQ(payload[1], 0x01) << c.pszName;
        EXPECT_EQ(payload[2], 0x00) << c.pszName;
        EXPECT_EQ(payload[3], 0x00) << c.pszName;
        for (auto [nIndex, ucValue] : c.bytes)
            EXPECT_EQ(payload[nIndex], ucValue) << c.pszName << " byte " << nIndex;
        for (size_t i = c.nFirstUnset; i < POWER_CONFIG_SIZE; ++i)
            ASSERT_EQ(payload[i], 0xFF) << c.pszName << " byte " << i;
    }

    // Fields after the 300th are ignored.
    std::string strMany = "cfg";
    for (int i = 0; i < 310; ++i)
        strMany += ",0x" + std::to_string(i % 10);
    uint8_t payload[POWER_CONFIG_SIZE];
    CKrvnUSBDev::vBuildPowerConfigPayload(strMany, payload);
    EXPECT_EQ(payload[303], 299 % 10);
}

TEST(Factory752x, PowerConfigurationAndFactoryPage)
{
    BenchFixture bench(1, "KRV752B");
    CKrvnUSBDev dev;
    DeviceTable table(bench, dev);
    TempDir dir;
    writeAll(dir.file("PowerConfiguration.bin"), "KRV752B power,0x05,0x06");

    EXPECT_EQ(dev.vFactoryConfigure_PowerConfigWrite(0, dir.file("PowerConfiguration.bin")), 0);
    const Bytes stored = bench.devices().state(1).stored.powerConfig;
    ASSERT_EQ(stored.size(), POWER_CONFIG_SIZE);
    EXPECT_EQ(stored[4], 0x05);
    EXPECT_EQ(stored[5], 0x06);
    EXPECT_EQ(stored[6], 0xFF);
    const size_t nCommands = commandsOf(bench, 1).size();
    EXPECT_EQ(dev.vFactoryConfigure_PowerConfigWrite(0, dir.file("missing.bin")), -1);
    EXPECT_EQ(commandsOf(bench, 1).size(), nCommands);
    addFault(bench, 1, FaultKind::Check, {0xC3});
    EXPECT_EQ(dev.vFactoryConfigure_PowerConfigWrite(0, dir.file("PowerConfiguration.bin")), SCSI_RESULT_FAIL);

    // The factory page carries the serial at byte 9; a drive handed in is
    // used and closed here.
    Bytes page(FACTORY_PAGE_SIZE, 0xEE);
    CDriveHandle hDev(CreateDriveHandle(DriveKind::PhysicalDrive, bench.physicalDrive(1)));
    EXPECT_TRUE(dev.vFactoryConfigure_Read(0, page.data(), std::move(hDev)));
    EXPECT_EQ(page[1], 0xC8);
    const std::string strSerial(page.begin() + 9, page.begin() + 29);
    EXPECT_EQ(commandsOf(bench, 1).back().cdb, cdbOf({0x12, 0x01, 0xC8, 0x00, 0x81, 0x00}));
    EXPECT_NE(strSerial.find_first_not_of(' '), std::string::npos);

    addFault(bench, 1, FaultKind::Check, {0x12, 0x01});
    EXPECT_TRUE(dev.vFactoryConfigure_Read(0, page.data()));
    EXPECT_EQ(page, Bytes(FACTORY_PAGE_SIZE, 0)) << "a refused page reads as zeros, never as the last one";

    table.list.Devs[0].m_ucPhysicalAddress = 42;
    EXPECT_FALSE(dev.vFactoryConfigure_Read(0, page.data()));
    EXPECT_EQ(dev.vFactoryConfigure_PowerConfigWrite(0, dir.file("PowerConfiguration.bin")), -1);
}

}  // namespace
}  // namespace krv::test
