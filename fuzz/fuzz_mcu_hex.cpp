// Fuzz target: the MCU's Intel HEX file. Whatever the bytes, the reader keeps
// to its 4096 records and to the lines it was given, and each record holds
// exactly the data its count names.
// seed-corpus: tests/device/seeds/*.hex
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/PDFirmwareFile.h"
#include "fuzz/FuzzPlatform.h"

using fuzz::vCheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pucData, size_t nSize)
{
    fuzz::vInstallPlatform();
    const std::string strContent(reinterpret_cast<const char*>(pucData), nSize);
    std::vector<MCUHexRecord> records;
    std::string strError;
    const int nResult = nParseIntelHex(strContent, "CPowerDelivery", records, strError);
    vCheck(nResult == 0 || nResult == -10);
    vCheck(records.size() <= MCU_RECORD_SLOTS);
    for (const MCUHexRecord& record : records) {
        vCheck(record.data.size() == record.ucDataLen);
        vCheck(record.dwAddress <= 0xFFFF);
    }
    return 0;
}
