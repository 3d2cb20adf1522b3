#pragma once
// The power-delivery and MCU firmware files: a Richtek ".bin" image, a
// Cypress/CCG ".cyacd" row file and an STM Intel HEX ".hex" file. One reader
// serves both of its users, `CPowerDelivery` and the PD update dialog; where
// they behave differently the caller says which way (PDFileRules).
//
// Every file is parsed whole into memory before anyone writes a byte of it to
// a device. A line whose fields run past its end, a field that is not hex, or
// a table that is full refuses the file; a checksum that does not add up is
// only logged, the row or record being kept.
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t PD_FILE_UNKNOWN = 0;
constexpr uint8_t PD_FILE_BIN = 1;      // Richtek binary image
constexpr uint8_t PD_FILE_CYACD = 2;    // Cypress / CCG rows
constexpr uint8_t MCU_FILE_HEX = 20;    // STM Intel HEX

constexpr uint32_t PD_RICHTEK_ROM_SIZE = 0x4000;
constexpr uint32_t PD_ROW_DATA_SIZE = 128;
constexpr uint32_t PD_ROW_LINE_MIN = 269;    // ':' + 5 bytes + 128 data bytes + checksum, in hex
constexpr uint32_t MCU_RECORD_SLOTS = 4096;
constexpr uint32_t MCU_RECORD_DATA_MAX = 255;

// The version texts of a file that has none, and of a ".bin" of the wrong size.
inline constexpr const char* PD_VERSION_NONE = "NULL";
inline constexpr const char* PD_BIN_SIZE_MESSAGE = "The PD FW file size is uncompatibie!!!";

// Where the two readers differ.
struct PDFileRules {
    bool bKnowsImage1F01 = true;      // the ".cyacd" id "1F0111AF0000" gives a version
    size_t nRowEntries = 256;         // row table entries, header entry included
    bool bDataFromLengthField = true; // a row holds as many data bytes as its length field says (else 128)
    size_t nRowDataMax = PD_ROW_DATA_SIZE;  // the most data bytes a row keeps
    const char* pszTrace = "CPowerDelivery";
};

// The rules of `CPowerDelivery` for its two row tables (vendor 4: table A,
// vendor 5: table B, whose rows have room for more than 128 data bytes), and
// of the update dialog.
PDFileRules PDRulesOfPowerDelivery(uint8_t ucPDVendor);
PDFileRules PDRulesOfUpdateDialog();

struct PDRow {
    uint8_t ucArrayID = 0xFF;
    uint16_t wRowNum = 0;
    uint16_t wDataLen = 0;
    std::vector<uint8_t> data;        // the row's data bytes
    uint8_t ucChkSum = 0;
};

struct PDCypressImage {
    uint32_t dwSiliconID = 0;
    uint8_t ucSiliconRev = 0;
    uint8_t ucChecksumType = 0;
    std::vector<PDRow> rows;          // entry 0 stands for the header line
    bool bShortRow = false;           // a row numbered below 0x24 was read
};

struct MCUHexRecord {
    uint8_t ucDataLen = 0;
    uint32_t dwAddress = 0;
    uint8_t ucDataType = 0;           // 0 data, 1 end of file, 4 extended linear address
    std::vector<uint8_t> data;
    uint8_t ucChkSum = 0;
};

// The kind a path names: ".cyacd" after the first character gives
// PD_FILE_CYACD, else ".bin" gives PD_FILE_BIN, else PD_FILE_UNKNOWN.
uint8_t ucPDFileKindOfPath(const std::string& strPath);
bool bIsMCUFilePath(const std::string& strPath);

// The version a PD file carries, from its whole content: a ".bin" of exactly
// 16384 bytes gives "%02x%02x" of bytes 0x1001 and 0x1000; a ".cyacd" gives
// 16 characters at the offset its 12-character image id names. Anything
// else gives "NULL"; `bSizeRefused` says a ".bin" had the wrong size.
std::string strPDVersionOfContent(uint8_t ucKind, const std::string& strContent, const PDFileRules& rules,
                                  bool& bSizeRefused);

// Parses ".cyacd" text. 0, or -10 with `nShortLine` the length of a row line
// that was too short (0 for other refusals) and `strError` the log text.
int nParseCyacd(const std::string& strContent, const PDFileRules& rules, PDCypressImage& image, int& nShortLine,
                std::string& strError);
// Parses Intel HEX text into at most 4096 records, in file order. 0 or -10.
int nParseIntelHex(const std::string& strContent, const char* pszTrace, std::vector<MCUHexRecord>& records,
                   std::string& strError);

// Reads a whole file; false when it cannot be opened or read.
bool bReadWholeFile(const std::string& strPath, std::string& strContent);
