#include "device/PDFirmwareFile.h"
#include "device/TextUtil.h"

#include <cstdio>
#include <cstring>

#include "device/DebugLog.h"
#include "platform/FileSystem.h"

namespace {

// A ".cyacd" image id and where its version text stands in the file.
struct ImageVersionPlace {
    const char* pszId;
    size_t nOffset;
    bool bOnlyPowerDelivery;   // known to CPowerDelivery's reader only
};

constexpr ImageVersionPlace kVersionPlaces[] = {
    {"140411A40000", 0x237, false},
    {"1D0311AD0000", 0x1E8, false},
    {"1D0411AD0000", 0x1E8, false},
    {"1F0111AF0000", 0x1D9, true},
};
constexpr size_t IMAGE_ID_LENGTH = 12;
constexpr size_t VERSION_TEXT_LENGTH = 16;
constexpr uint16_t SHORT_ROW_LIMIT = 0x24;
// Larger than any firmware file the readers take (65535 rows of 271
// characters); a larger file is refused before it is read.
constexpr uint64_t PD_FILE_SIZE_MAX = 32ull << 20;

// Reads hex byte pairs from a line, left to right.
class HexFields {
public:
    HexFields(const std::string& strLine, size_t nAt) : m_strLine(strLine), m_nAt(nAt) {}
    bool bByte(uint8_t& ucOut)
    {
        if (m_nAt + 2 > m_strLine.size())
            return false;
        const int nHigh = nHexDigit(m_strLine[m_nAt]), nLow = nHexDigit(m_strLine[m_nAt + 1]);
        if (nHigh < 0 || nLow < 0)
            return false;
        ucOut = static_cast<uint8_t>(nHigh << 4 | nLow);
        m_nAt += 2;
        m_ucSum = static_cast<uint8_t>(m_ucSum + ucOut);
        return true;
    }
    bool bWord(uint16_t& wOut)
    {
        uint8_t ucHigh = 0, ucLow = 0;
        if (!bByte(ucHigh) || !bByte(ucLow))
            return false;
        wOut = static_cast<uint16_t>(ucHigh << 8 | ucLow);
        return true;
    }
    // The two's complement of the byte sum so far: what the checksum must be.
    uint8_t ucExpected() const { return static_cast<uint8_t>(0x100 - m_ucSum); }

private:
    const std::string& m_strLine;
    size_t m_nAt;
    uint8_t m_ucSum = 0;
};

// The file's lines without their line ends, empty ones included.
std::vector<std::string> vLines(const std::string& strContent)
{
    std::vector<std::string> lines;
    size_t nStart = 0;
    while (nStart < strContent.size()) {
        size_t nEnd = strContent.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strContent.size();
        std::string strLine = strContent.substr(nStart, nEnd - nStart);
        while (!strLine.empty() && (strLine.back() == '\r' || strLine.back() == '\n'))
            strLine.pop_back();
        lines.push_back(std::move(strLine));
        nStart = nEnd + 1;
    }
    return lines;
}

void vChecksumWarning(const char* pszTrace, uint8_t ucChkSum, uint8_t ucExpected)
{
    vDEBUG_WRN_printf("%s:%d:  The Row checksum is different ucChkSum=[%02x], liFWCheckSum[%02x]", pszTrace, __LINE__,
                      ucChkSum, ucExpected);
}

}  // namespace

PDFileRules PDRulesOfPowerDelivery(uint8_t ucPDVendor)
{
    PDFileRules rules;
    // Table B's rows have room for a full row of up to 255 bytes.
    if (ucPDVendor == 5)
        rules.nRowDataMax = 255;
    return rules;
}

PDFileRules PDRulesOfUpdateDialog()
{
    PDFileRules rules;
    rules.bKnowsImage1F01 = false;
    rules.nRowEntries = 65535;
    rules.bDataFromLengthField = false;
    rules.pszTrace = "CPDUpdateDlg";
    return rules;
}

uint8_t ucPDFileKindOfPath(const std::string& strPath)
{
    const size_t nCyacd = strPath.find(".cyacd");
    if (nCyacd != std::string::npos && nCyacd > 0)
        return PD_FILE_CYACD;
    if (strPath.find(".bin") != std::string::npos)
        return PD_FILE_BIN;
    return PD_FILE_UNKNOWN;
}

bool bIsMCUFilePath(const std::string& strPath) { return strPath.find(".hex") != std::string::npos; }

std::string strPDVersionOfContent(uint8_t ucKind, const std::string& strContent, const PDFileRules& rules,
                                  bool& bSizeRefused)
{
    bSizeRefused = false;
    if (ucKind == PD_FILE_BIN) {
        if (strContent.size() != PD_RICHTEK_ROM_SIZE) {
            bSizeRefused = true;
            return PD_VERSION_NONE;
        }
        char szVersion[8];
        std::snprintf(szVersion, sizeof szVersion, "%02x%02x", static_cast<uint8_t>(strContent[0x1001]),
                      static_cast<uint8_t>(strContent[0x1000]));
        return szVersion;
    }
    if (ucKind != PD_FILE_CYACD || strContent.size() < IMAGE_ID_LENGTH)
        return PD_VERSION_NONE;
    const std::string strId = strContent.substr(0, IMAGE_ID_LENGTH);
    for (const ImageVersionPlace& place : kVersionPlaces) {
        if (strId != place.pszId || (place.bOnlyPowerDelivery && !rules.bKnowsImage1F01))
            continue;
        // A file too short to hold the text has no version.
        if (strContent.size() < place.nOffset + VERSION_TEXT_LENGTH)
            return PD_VERSION_NONE;
        return strContent.substr(place.nOffset, VERSION_TEXT_LENGTH);
    }
    return PD_VERSION_NONE;
}

int nParseCyacd(const std::string& strContent, const PDFileRules& rules, PDCypressImage& image, int& nShortLine,
                std::string& strError)
{
    nShortLine = 0;
    image = PDCypressImage{};
    char szError[160];
    for (const std::string& strLine : vLines(strContent)) {
        if (strLine.empty())
            continue;
        if (image.rows.size() >= rules.nRowEntries) {
            std::snprintf(szError, sizeof szError, "The FW row table is full..[%zu]", rules.nRowEntries);
            strError = szError;
            return -10;
        }
        if (strLine[0] != ':') {
            // The header: silicon id (4 bytes), revision, checksum type.
            HexFields fields(strLine, 0);
            uint8_t ucId[4] = {};
            bool bOk = true;
            for (uint8_t& b : ucId)
                bOk = bOk && fields.bByte(b);
            bOk = bOk && fields.bByte(image.ucSiliconRev) && fields.bByte(image.ucChecksumType);
            if (!bOk) {
                strError = "The FW header line is not hex..";
                return -10;
            }
            image.dwSiliconID = uint32_t{ucId[0]} << 24 | uint32_t{ucId[1]} << 16 | uint32_t{ucId[2]} << 8 | ucId[3];
            PDRow header;
            header.data.assign(PD_ROW_DATA_SIZE, 0xFF);
            image.rows.push_back(std::move(header));
            continue;
        }
        if (strLine.size() < PD_ROW_LINE_MIN) {
            nShortLine = static_cast<int>(strLine.size());
            std::snprintf(szError, sizeof szError, "The FW ROW length too short..[%d]", nShortLine);
            strError = szError;
            return -10;
        }
        // Data rows start after the header entry, even when a file has none.
        if (image.rows.empty()) {
            PDRow header;
            header.data.assign(PD_ROW_DATA_SIZE, 0xFF);
            image.rows.push_back(std::move(header));
        }
        HexFields fields(strLine, 1);
        PDRow row;
        bool bOk = fields.bByte(row.ucArrayID) && fields.bWord(row.wRowNum) && fields.bWord(row.wDataLen);
        const size_t nData = rules.bDataFromLengthField ? row.wDataLen : PD_ROW_DATA_SIZE;
        if (bOk && nData > rules.nRowDataMax) {
            std::snprintf(szError, sizeof szError, "The FW ROW data length too long..[%u]", row.wDataLen);
            strError = szError;
            return -10;
        }
        row.data.assign(nData, 0xFF);
        for (size_t i = 0; bOk && i < nData; ++i)
            bOk = fields.bByte(row.data[i]);
        const uint8_t ucExpected = fields.ucExpected();
        bOk = bOk && fields.bByte(row.ucChkSum);
        if (!bOk) {
            std::snprintf(szError, sizeof szError, "The FW ROW is not whole hex..[%zu]", image.rows.size());
            strError = szError;
            return -10;
        }
        if (row.ucChkSum != ucExpected)
            vChecksumWarning(rules.pszTrace, row.ucChkSum, ucExpected);
        if (row.wRowNum < SHORT_ROW_LIMIT)
            image.bShortRow = true;
        image.rows.push_back(std::move(row));
    }
    return 0;
}

int nParseIntelHex(const std::string& strContent, const char* pszTrace, std::vector<MCUHexRecord>& records,
                   std::string& strError)
{
    records.clear();
    char szError[160];
    for (const std::string& strLine : vLines(strContent)) {
        if (strLine.empty() || strLine[0] != ':')
            continue;
        if (records.size() >= MCU_RECORD_SLOTS) {
            std::snprintf(szError, sizeof szError, "The MCU FW has more than %u records", MCU_RECORD_SLOTS);
            strError = szError;
            return -10;
        }
        HexFields fields(strLine, 1);
        MCUHexRecord record;
        uint16_t wAddress = 0;
        bool bOk = fields.bByte(record.ucDataLen) && fields.bWord(wAddress) && fields.bByte(record.ucDataType);
        record.dwAddress = wAddress;
        record.data.assign(record.ucDataLen, 0xFF);
        for (size_t i = 0; bOk && i < record.data.size(); ++i)
            bOk = fields.bByte(record.data[i]);
        const uint8_t ucExpected = fields.ucExpected();
        bOk = bOk && fields.bByte(record.ucChkSum);
        if (!bOk) {
            std::snprintf(szError, sizeof szError, "The MCU FW record is not whole hex..[%zu]", records.size());
            strError = szError;
            return -10;
        }
        if (record.ucChkSum != ucExpected)
            vChecksumWarning(pszTrace, record.ucChkSum, ucExpected);
        records.push_back(std::move(record));
    }
    return 0;
}

bool bReadWholeFile(const std::string& strPath, std::string& strContent)
{
    krv::File file;
    uint64_t ullSize = 0;
    if (!file.open(strPath, krv::File::Mode::Read) || !file.size(ullSize) || ullSize > PD_FILE_SIZE_MAX)
        return false;
    strContent.assign(static_cast<size_t>(ullSize), '\0');
    size_t nDone = 0;
    if (!file.read(strContent.data(), strContent.size(), nDone))
        return false;
    strContent.resize(nDone);
    return true;
}
