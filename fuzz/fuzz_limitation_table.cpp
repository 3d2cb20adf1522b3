// Fuzz target: the limitation table's reader and its check. Whatever the
// text, the reader must stay inside it and keep every value it takes in
// range, and the check must answer one of its results.
// seed-corpus: tests/app/seeds/LimitationTable.ini
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/LimitationTable.h"
#include "fuzz/FuzzPlatform.h"

using fuzz::vCheck;
using fuzz::vInstallPlatform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pucData, size_t nSize)
{
    vInstallPlatform();
    const std::string_view strText(reinterpret_cast<const char*>(pucData), nSize);

    CLimitationTable table;
    table.vParseFeatureText(strText);
    vCheck(table.m_iDisplayResultFWLength <= LIMITATION_FW_LENGTH_MAX);
    for (const std::string& strEntry : table.m_arrFWVersion)
        for (char c : strEntry)
            vCheck(!(c >= 'A' && c <= 'Z'));

    // Devices whose texts are pieces of the input, so that the checks meet
    // versions and strings of every length, including the table's own.
    std::vector<LimitationDevice> devices;
    const std::string strWhole(strText);
    devices.push_back({strWhole.substr(0, 12), strWhole.substr(0, 7), strWhole, "0411", "03AA"});
    if (!table.m_arrFWVersion.empty())
        devices.push_back({table.m_arrFWVersion.back(), table.m_strLimitManufactureString,
                           table.m_strLimitProductString, table.m_strLimitVID, table.m_strLimitPID});
    devices.push_back({});

    const int32_t iResult = table.iCheckLimitation(devices);
    vCheck(iResult == LIMITATION_PASS || iResult == LIMITATION_FW_NOT_LISTED || iResult == LIMITATION_MISMATCH);
    vCheck((iResult == LIMITATION_PASS) == table.strCheckFailure().empty());
    vCheck(table.iCheckLimitation({}) == LIMITATION_PASS);
    return 0;
}
