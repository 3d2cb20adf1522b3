// The PD and MCU firmware files as both readers take them: the kind a path
// names, the version a file carries, the ".cyacd" rows and the Intel HEX
// records, and the files refused before anything could be written from them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/DebugLog.h"
#include "device/PDFirmwareFile.h"
#include "platform/CaptureDebugOutput.h"
#include "tests/device/DeviceBenchSupport.h"
#include "tests/device/PdFileSupport.h"
#include "tests/support/TestPlatform.h"

namespace krv::test {
namespace {

TEST(PDFirmwareFile, TheKindComesFromThePath)
{
    struct Case {
        const char* path;
        uint8_t kind;
        bool mcu;
    } cases[] = {
        {"fw.cyacd", PD_FILE_CYACD, false},   {"fw.bin", PD_FILE_BIN, false},
        {"fw.bin.cyacd", PD_FILE_CYACD, false}, {"fw.cyacd.bin", PD_FILE_CYACD, false},
        {".cyacd", PD_FILE_UNKNOWN, false},     {"fw.txt", PD_FILE_UNKNOWN, false},
        {"mcu.hex", PD_FILE_UNKNOWN, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ucPDFileKindOfPath(c.path), c.kind) << c.path;
        EXPECT_EQ(bIsMCUFilePath(c.path), c.mcu) << c.path;
    }
}

TEST(PDFirmwareFile, VersionsAreTheFilesOwnBytes)
{
    const PDFileRules device = PDRulesOfPowerDelivery(4), dialog = PDRulesOfUpdateDialog();
    auto bin = [](size_t size) {
        std::vector<uint8_t> image = richtekImage(0xAB, 0x0C);
        image.resize(size, 0xFF);
        return std::string(image.begin(), image.end());
    };
    const std::string ccg2 = cyacdImage("140411A40000", 0x24, 4).text;
    const std::string ccg3 = cyacdImage("1D0311AD0000", 0x200, 4).text;
    std::string ccg1F = "1F0111AF0000" + std::string(0x1D9 - 12, 'x') + "0123456789ABCDEF";
    struct Case {
        const char* name;
        uint8_t kind;
        std::string content;
        const char* device;
        const char* dialog;
        bool sizeRefused;
    } cases[] = {
        // Lower-case hex of bytes 0x1001 then 0x1000.
        {"bin", PD_FILE_BIN, bin(16384), "0cab", "0cab", false},
        {"bin one short", PD_FILE_BIN, bin(16383), "NULL", "NULL", true},
        {"bin one long", PD_FILE_BIN, bin(16385), "NULL", "NULL", true},
        {"ccg2", PD_FILE_CYACD, ccg2, "123456789ABCDEF0", "123456789ABCDEF0", false},
        {"ccg3", PD_FILE_CYACD, ccg3, "123456789ABCDEF0", "123456789ABCDEF0", false},
        // Only CPowerDelivery's reader knows this image.
        {"1F01", PD_FILE_CYACD, ccg1F, "0123456789ABCDEF", "NULL", false},
        {"unknown id", PD_FILE_CYACD, "ABCDEF000000\r\n" + ccg2.substr(14), "NULL", "NULL", false},
        {"cut before the version", PD_FILE_CYACD, ccg2.substr(0, 0x237 + 15), "NULL", "NULL", false},
        {"empty", PD_FILE_CYACD, "", "NULL", "NULL", false},
    };
    for (const Case& c : cases) {
        bool refused = false;
        EXPECT_EQ(strPDVersionOfContent(c.kind, c.content, device, refused), c.device) << c.name;
        EXPECT_EQ(refused, c.sizeRefused) << c.name;
        EXPECT_EQ(strPDVersionOfContent(c.kind, c.content, dialog, refused), c.dialog) << c.name;
    }
}

TEST(PDFirmwareFile, CyacdRowsFillTheTableAfterTheHeaderEntry)
{
    TestPlatform platform;
    DebugLevel level;
    const CyacdImage file = cyacdImage("1D0311AD0000", 0x20, 3);
    PDCypressImage image;
    int shortLine = -1;
    std::string error;
    ASSERT_EQ(nParseCyacd(file.text, PDRulesOfPowerDelivery(4), image, shortLine, error), 0) << error;
    EXPECT_EQ(image.dwSiliconID, 0x1D0311ADu);
    ASSERT_EQ(image.rows.size(), 4u);
    EXPECT_EQ(image.rows[0].ucArrayID, 0xFF);
    EXPECT_EQ(image.rows[0].wRowNum, 0);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(image.rows[i + 1].wRowNum, 0x20 + i);
        EXPECT_EQ(image.rows[i + 1].data, file.rows[i]);
    }
    EXPECT_TRUE(image.bShortRow) << "row 0x20 is below 0x24";
    EXPECT_FALSE(platform.capture().contains("checksum"));

    // A wrong checksum is only a warning; the row stays.
    std::string text = file.text;
    const size_t checksumAt = text.find("\r\n", 14 + 1) - 2;
    text[checksumAt] = text[checksumAt] == '0' ? '1' : '0';
    ASSERT_EQ(nParseCyacd(text, PDRulesOfUpdateDialog(), image, shortLine, error), 0);
    EXPECT_EQ(image.rows.size(), 4u);
    EXPECT_TRUE(platform.capture().contains("CPDUpdateDlg:")) << platform.capture().joined();
    EXPECT_TRUE(platform.capture().contains("The Row checksum is different"));
}

TEST(PDFirmwareFile, MalformedCyacdFilesAreRefused)
{
    TestPlatform platform;
    const std::string good = cyacdRow(0x30, std::vector<uint8_t>(128, 0x11));
    ASSERT_EQ(good.size(), PD_ROW_LINE_MIN);
    std::string nonHex = good;
    nonHex[100] = 'G';
    const std::string longRow = cyacdRow(0x30, std::vector<uint8_t>(129, 0x11));
    struct Case {
        const char* name;
        std::string text;
        int result;
        int shortLine;
        const char* error;
    } cases[] = {
        {"269 characters", "1D0311AD0000\r\n" + good + "\r\n", 0, 0, ""},
        {"268 characters", "1D0311AD0000\r\n" + good.substr(0, 268) + "\r\n", -10, 268,
         "The FW ROW length too short..[268]"},
        // A CR is no character of the row.
        {"268 and a lone CR", "1D0311AD0000\r\n" + good.substr(0, 268) + "\r\r\n", -10, 268, "too short"},
        {"not hex", "1D0311AD0000\r\n" + nonHex + "\r\n", -10, 0, "not whole hex"},
        {"header not hex", "1D03ZZAD0000\r\n" + good + "\r\n", -10, 0, "header"},
        {"length past the line", "1D0311AD0000\r\n" + good.substr(0, 7) + "0100" + good.substr(11) + "\r\n", -10, 0,
         "too long"},
        {"129 data bytes", "1D0311AD0000\r\n" + longRow + "\r\n", -10, 0, "too long"},
    };
    for (const Case& c : cases) {
        PDCypressImage image;
        int shortLine = -1;
        std::string error;
        EXPECT_EQ(nParseCyacd(c.text, PDRulesOfPowerDelivery(4), image, shortLine, error), c.result) << c.name;
        EXPECT_EQ(shortLine, c.shortLine) << c.name;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    }
    // The CCG table B takes longer rows; the dialog reads 128 bytes of any row.
    PDCypressImage image;
    int shortLine = 0;
    std::string error;
    EXPECT_EQ(nParseCyacd("1F0111AF0000\r\n" + longRow + "\r\n", PDRulesOfPowerDelivery(5), image, shortLine, error), 0)
        << error;
    EXPECT_EQ(image.rows.back().data.size(), 129u);
    // ... but not more than its line holds.
    EXPECT_EQ(nParseCyacd("1F0111AF0000\r\n" + good.substr(0, 7) + "00C0" + good.substr(11) + "\r\n",
                          PDRulesOfPowerDelivery(5), image, shortLine, error),
              -10);
    EXPECT_NE(error.find("not whole hex"), std::string::npos) << error;

    // A table that is full refuses the file rather than growing past it.
    std::string many = "1D0311AD0000\r\n";
    for (int i = 0; i < 256; ++i)
        many += good + "\r\n";
    EXPECT_EQ(nParseCyacd(many, PDRulesOfPowerDelivery(4), image, shortLine, error), -10);
    EXPECT_NE(error.find("full"), std::string::npos) << error;
    EXPECT_EQ(nParseCyacd(many, PDRulesOfUpdateDialog(), image, shortLine, error), 0) << error;
}

TEST(PDFirmwareFile, IntelHexRecordsInFileOrder)
{
    TestPlatform platform;
    std::vector<uint8_t> bytes(40);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 3);
    std::vector<MCUHexRecord> records;
    std::string error;
    ASSERT_EQ(nParseIntelHex(mcuHexFile(bytes), "CPowerDelivery", records, error), 0) << error;
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].ucDataType, 4);
    EXPECT_EQ(records[0].data, (std::vector<uint8_t>{0x08, 0x00}));
    EXPECT_EQ(records[1].dwAddress, 0u);
    EXPECT_EQ(records[3].dwAddress, 32u);
    EXPECT_EQ(records[3].ucDataLen, 8);
    EXPECT_EQ(records[3].data, std::vector<uint8_t>(bytes.begin() + 32, bytes.end()));
    EXPECT_EQ(records[4].ucDataType, 1);

    const std::string line = hexRecord(0, 0x10, {1, 2, 3, 4});
    struct Case {
        const char* name;
        std::string text;
        int result;
    } cases[] = {
        {"cut inside the data", line.substr(0, line.size() - 4) + "\r\n", -10},
        {"not hex", ":04001000010Z030400E5\r\n", -10},
        {"bad checksum kept", line.substr(0, line.size() - 2) + "00\r\n", 0},
        {"other lines ignored", "; comment\r\n" + line + "\r\n", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(nParseIntelHex(c.text, "CPowerDelivery", records, error), c.result) << c.name;

    std::string many;
    for (uint32_t i = 0; i <= MCU_RECORD_SLOTS; ++i)
        many += line + "\n";
    EXPECT_EQ(nParseIntelHex(many, "CPowerDelivery", records, error), -10);
}

}  // namespace
}  // namespace krv::test
