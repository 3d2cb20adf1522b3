#include "app/U4ConfigTable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/SettingsValidation.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "platform/Platform.h"

namespace {

uint8_t ucDigit(std::string_view strText, size_t nAt)
{
    uint8_t ucValue = 0;
    if (nAt < strText.size())
        bHexCharToValue(strText[nAt], ucValue);
    return ucValue;
}

// Two hex digits of either case as one byte (a missing or foreign
// character counts 0; the field check refuses such texts before a build).
uint8_t ucHexPair(std::string_view strText, size_t nAt = 0)
{
    return static_cast<uint8_t>(ucDigit(strText, nAt) * 16 + ucDigit(strText, nAt + 1));
}

void vCopyName(ConfigImage& ucImage, size_t nOffset, std::string_view strName)
{
    std::memcpy(ucImage + nOffset, strName.data(), std::min(strName.size(), U4CONFIG_NAME_LENGTH));
}

bool bAllHex(std::string_view strText)
{
    uint8_t ucIgnored = 0;
    return std::all_of(strText.begin(), strText.end(), [&](char c) { return bHexCharToValue(c, ucIgnored); });
}

}  // namespace

U4ConfigTexts U4ConfigTexts::FromIni(const IniRecord& ini)
{
    U4ConfigTexts texts;
    texts.m_strU4VendorName = ini.USB4_VendorName.str();
    texts.m_strU4ModelName = ini.USB4_ModelName.str();
    texts.m_strU4ComponentID = ini.USB4_ComponentID.str();
    texts.m_strU4VendorID = ini.USB4_VendorID.str();
    texts.m_strU4ProductID = ini.USB4_ProductID.str();
    texts.m_strU4TestID = ini.USB4_TestID.str();
    texts.m_strU4BcdProductFWRevision = ini.USB4_BcdProductFWRevision.str();
    texts.m_strU4ProductHWRevision = ini.USB4_ProductHWRevision.str();
    texts.m_strU4MinorFWVersion = ini.USB4_MinorFWVersion.str();
    texts.m_strU4TBT3VendorID = ini.USB4_TBT3VendorID.str();
    texts.m_strU4TBT3ModelID = ini.USB4_TBT3ModelID.str();
    texts.m_strU4TBT3ModelRevision = ini.USB4_TBT3ModelRevision.str();
    texts.m_strU4PcieVendorID = ini.PCIE_VendorID.str();
    texts.m_strU4PcieDeviceID = ini.PCIE_DeviceID.str();
    return texts;
}

std::string strUSB4FieldLengthFailure(const U4ConfigTexts& texts)
{
    struct Field {
        const std::string& strText;
        size_t nLength;
        const char* pszMessage;
    };
    const Field fields[] = {
        {texts.m_strU4ComponentID, U4_COMPONENT_ID_LENGTH, "USB4 Component ID lenth check fail"},
        {texts.m_strU4VendorID, 4, "USB4 vendor ID lenth check fail"},
        {texts.m_strU4ProductID, 4, "USB4 product ID lenth check fail"},
        {texts.m_strU4TestID, 8, "USB4 test ID lenth check fail"},
        {texts.m_strU4BcdProductFWRevision, 4, "USB4 device release number lenth check fail"},
        {texts.m_strU4ProductHWRevision, 2, "USB4 major fw version lenth check fail"},
        {texts.m_strU4MinorFWVersion, 2, "USB4 minor fw version lenth check fail"},
        {texts.m_strU4TBT3VendorID, 4, "USB4 TBT3 vendor ID lenth check fail"},
        {texts.m_strU4TBT3ModelID, 4, "USB4 TBT3 model ID lenth check fail"},
        {texts.m_strU4TBT3ModelRevision, 2, "USB4 TBT3 model revision lenth check fail"},
    };
    for (const Field& field : fields) {
        // A foreign character would be read as a shorter number than the
        // text's length promises, so it fails the field as well.
        if (field.strText.size() != field.nLength || !bAllHex(field.strText)) {
            vDEBUG_ERR_printf("%s:%d: %s [%s]", "bCheckUSB4FieldLength", __LINE__, field.pszMessage,
                              field.strText.c_str());
            return field.pszMessage;
        }
    }
    return {};
}

bool bCheckUSB4FieldLength(const U4ConfigTexts& texts)
{
    const std::string strMessage = strUSB4FieldLengthFailure(texts);
    if (strMessage.empty())
        return true;
    pUtility.nShowProgramMessage(strMessage, MSG_TYPE_WARNING, 0, CUSBUtility::EMessageTarget::eMessageBox);
    return false;
}

std::string strComponentIDOfU4Config(const ConfigImage& ucImage)
{
    char szText[2 * 6 + 1];
    std::snprintf(szText, sizeof szText, "%02X%02X%02X%02X%02X%02X", ucImage[89], ucImage[88], ucImage[87],
                  ucImage[86], ucImage[85], ucImage[84]);
    return std::string(szText + 1);
}

bool bIsPlaceholderComponentID(std::string_view strID, std::span<const std::string_view> placeholders)
{
    return std::find(placeholders.begin(), placeholders.end(), strID) != placeholders.end();
}

std::string strNewComponentID(const krv::LocalTime& date, krv::Clock& clock)
{
    char szID[32];
    int n = std::snprintf(szID, sizeof szID, "%X%X%02X", static_cast<unsigned>(date.year % 10),
                          static_cast<unsigned>(date.month), static_cast<unsigned>(date.day));
    // The random source is the process's own, seeded once: ports built in
    // the same second still get different IDs.
    for (int i = 0; i < 7 && n > 0 && static_cast<size_t>(n) < sizeof szID - 1; ++i)
        n += std::snprintf(szID + n, sizeof szID - static_cast<size_t>(n), "%X", clock.random() % 16);
    return szID;
}

void vSetRelinkSignatureAndChkSum(ConfigImage& ucImage, uint8_t ucDeviceCount, uint8_t ucTargetNumber)
{
    ucImage[U4CONFIG_RELINK_COUNT_OFFSET] = ucDeviceCount;
    ucImage[U4CONFIG_RELINK_PORT_OFFSET] = ucTargetNumber;
    ucImage[CONFIG_CHECKSUM_OFFSET] = ucConfigChecksum(ucImage);
}

void vFillU4ConfigTable(const IniRecord& ini, const U4ConfigTexts& texts, std::string_view strComponentID,
                        uint8_t ucDeviceCount, uint8_t ucTargetNumber, ConfigImage& ucImage)
{
    std::memset(ucImage, 0xFF, sizeof(ConfigImage));
    vCopyName(ucImage, U4CONFIG_VENDOR_NAME_OFFSET, texts.m_strU4VendorName);
    vCopyName(ucImage, U4CONFIG_MODEL_NAME_OFFSET, texts.m_strU4ModelName);

    // Digit d0 is the ID's first character; the pairs run backwards from 88.
    for (size_t nPair = 0; nPair < 5; ++nPair)
        ucImage[88 - nPair] = ucHexPair(strComponentID, 1 + 2 * nPair);
    const uint32_t dwMode = static_cast<uint32_t>(ini.USB4_U4Mode) > 2 ? 3u : static_cast<uint32_t>(ini.USB4_U4Mode);
    const uint32_t dwOptions = 2u * static_cast<uint32_t>(ini.USB4_X2) + static_cast<uint32_t>(ini.USB4_20G);
    ucImage[U4CONFIG_MODE_OFFSET] = static_cast<uint8_t>(ucDigit(strComponentID, 0) + dwMode * 16 + dwOptions * 64);
    ucImage[U4CONFIG_LINK_POWER_OFFSET] = static_cast<uint8_t>(ini.USB4_CLx - 4);

    // Stored in this order, each 32 bits wide: a later field overwrites what
    // the one before spilled.
    vStoreHex32(ucImage, U4CONFIG_VID_OFFSET, texts.m_strU4VendorID);
    vStoreHex32(ucImage, U4CONFIG_PID_OFFSET, texts.m_strU4ProductID);
    vStoreHex32(ucImage, U4CONFIG_TEST_ID_OFFSET, texts.m_strU4TestID);
    vStoreHex32(ucImage, U4CONFIG_BCD_REVISION_OFFSET, texts.m_strU4BcdProductFWRevision);
    ucImage[U4CONFIG_HW_REVISION_OFFSET] = ucHexPair(texts.m_strU4ProductHWRevision);
    ucImage[U4CONFIG_MINOR_FW_OFFSET] = ucHexPair(texts.m_strU4MinorFWVersion);
    vStoreHex32(ucImage, U4CONFIG_TBT3_VID_OFFSET, texts.m_strU4TBT3VendorID);
    vStoreHex32(ucImage, U4CONFIG_TBT3_MODEL_OFFSET, texts.m_strU4TBT3ModelID);
    std::memset(ucImage + 113, 0xFF, 3);
    ucImage[U4CONFIG_TBT3_REVISION_OFFSET] = ucHexPair(texts.m_strU4TBT3ModelRevision);
    vStoreHex32(ucImage, U4CONFIG_PCIE_VID_OFFSET, texts.m_strU4PcieVendorID);
    vStoreHex32(ucImage, U4CONFIG_PCIE_DID_OFFSET, texts.m_strU4PcieDeviceID);

    ucImage[CONFIG_MARK_OFFSET] = CONFIG_U4_MARK;
    vSetRelinkSignatureAndChkSum(ucImage, ucDeviceCount, ucTargetNumber);
}

void vBuildU4ConfigForPort(IniRecord& ini, U4ConfigTexts& texts, DevInfo& port, uint8_t ucDeviceCount,
                           uint8_t ucTargetNumber, ConfigImage& ucImage, const U4ComponentIDRule& rule)
{
    std::string strID = strComponentIDOfU4Config(port.m_ucU4Config);
    if (bIsPlaceholderComponentID(strID, rule.placeholders)) {
        krv::Clock& clock = krv::Platform::current().clock();
        ini.USB4_ComponentID_EditType = 5;
        strID = strNewComponentID(clock.localTime(), clock);
    } else {
        vDEBUG_MSG_printf("%s:%d: %s[%s]", "bSetUSB4DeviceConfigurationByGUI", __LINE__, rule.pszKeptWord,
                          strID.c_str());
    }
    // The ID typed in the window never reaches a drive; it shows the one that does.
    texts.m_strU4ComponentID = strID;
    vFillU4ConfigTable(ini, texts, strID, ucDeviceCount, ucTargetNumber, ucImage);
    std::memcpy(port.m_ucU4Config, ucImage, sizeof(ConfigImage));
}

void vBuildU4TestConfig(const IniRecord& ini, const U4ConfigTexts& texts, uint8_t ucPort, ConfigImage& ucImage)
{
    std::string strID = texts.m_strU4ComponentID;
    if (ini.SN_EditType == 1 || ini.SN_EditType == 2)
        strID = pUtility.vAddLimitSN(strID, ucPort, ini.SN_EditType == 1 ? 1 : 0);
    vFillU4ConfigTable(ini, texts, strID, 0xFF, 0xFF, ucImage);
}
