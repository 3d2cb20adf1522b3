// Fuzz target: the PD firmware files, ".cyacd" rows and the ".bin" version,
// read by both of their readers' rules. The first byte picks the rules; the
// rest is the file. Whatever the bytes, the readers keep to their tables and
// to the lines they were given, and agree where their rules agree.
// seed-corpus: tests/device/seeds/*.cyacd
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/PDFirmwareFile.h"
#include "fuzz/FuzzPlatform.h"

using fuzz::vCheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pucData, size_t nSize)
{
    fuzz::vInstallPlatform();
    if (nSize == 0)
        return 0;
    const uint8_t ucPick = pucData[0];
    const std::string strContent(reinterpret_cast<const char*>(pucData + 1), nSize - 1);
    const PDFileRules rules = ucPick & 1 ? PDRulesOfUpdateDialog() : PDRulesOfPowerDelivery(ucPick & 2 ? 5 : 4);

    PDCypressImage image;
    int nShortLine = 0;
    std::string strError;
    const int nResult = nParseCyacd(strContent, rules, image, nShortLine, strError);
    vCheck(nResult == 0 || nResult == -10);
    vCheck(nResult != 0 || strError.empty());
    vCheck(image.rows.size() <= rules.nRowEntries);
    for (size_t i = 1; i < image.rows.size(); ++i) {
        const PDRow& row = image.rows[i];
        vCheck(row.data.size() <= rules.nRowDataMax);
        vCheck(!rules.bDataFromLengthField || row.data.size() == row.wDataLen || row.ucArrayID == 0xFF);
    }
    if (nShortLine)
        vCheck(nResult == -10 && nShortLine < static_cast<int>(PD_ROW_LINE_MIN));

    for (uint8_t ucKind : {PD_FILE_BIN, PD_FILE_CYACD, PD_FILE_UNKNOWN}) {
        bool bRefused = false;
        const std::string strVersion = strPDVersionOfContent(ucKind, strContent, rules, bRefused);
        vCheck(strVersion == PD_VERSION_NONE || strVersion.size() == (ucKind == PD_FILE_BIN ? 4u : 16u));
        vCheck(!bRefused || ucKind == PD_FILE_BIN);
        // The ids both readers know give both the same version.
        bool bOther = false;
        const std::string strDevice = strPDVersionOfContent(ucKind, strContent, PDRulesOfPowerDelivery(4), bOther);
        if (strContent.compare(0, 12, "1F0111AF0000") != 0)
            vCheck(strDevice == strVersion);
    }
    return 0;
}
