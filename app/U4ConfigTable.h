#pragma once
// The bridge's 128-byte USB4 configuration image (U4ConfigTable): USB4
// vendor and model names, the component ID, the USB4, TBT3 and PCIe identity
// numbers, the USB4 mode and link options, and the relink signature by which
// a port finds its drive again after the bridge CPU is reset.
//
// Layout (little-endian numbers; bytes not listed are 0xFF):
//   4-43    vendor name          44-83   model name
//   84..88  component ID digits d9d10, d7d8, d5d6, d3d4, d1d2
//   89      d0 in bits 0-3, USB4 mode code in bits 4-5, 20G option bit 6,
//           X2 option bit 7
//   90      link-power value (USB4_CLx) - 4
//   92 VID, 94 PID, 96 test ID (32 bits), 100 BCD product FW revision,
//   102 product HW revision, 103 minor FW version, 108 TBT3 VID,
//   110 TBT3 model ID, 112 TBT3 model revision, 116 PCIe VID,
//   118 PCIe device ID (32 bits)
//   124     relink signature: devices present when the image was built
//   125     relink signature: the port slot it was built for
//   126     0xA5
//   127     sum of bytes 4..126, modulo 256
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "app/ConfigTable.h"
#include "app/IniRecord.h"
#include "device/DevList.h"
#include "platform/Clock.h"

constexpr size_t U4CONFIG_VENDOR_NAME_OFFSET = 4;
constexpr size_t U4CONFIG_MODEL_NAME_OFFSET = 44;
constexpr size_t U4CONFIG_NAME_LENGTH = 40;
constexpr size_t U4CONFIG_COMPONENT_ID_OFFSET = 84;   // bytes 84..89
constexpr size_t U4CONFIG_MODE_OFFSET = 89;
constexpr size_t U4CONFIG_LINK_POWER_OFFSET = 90;
constexpr size_t U4CONFIG_VID_OFFSET = 92;
constexpr size_t U4CONFIG_PID_OFFSET = 94;
constexpr size_t U4CONFIG_TEST_ID_OFFSET = 96;
constexpr size_t U4CONFIG_BCD_REVISION_OFFSET = 100;
constexpr size_t U4CONFIG_HW_REVISION_OFFSET = 102;
constexpr size_t U4CONFIG_MINOR_FW_OFFSET = 103;
constexpr size_t U4CONFIG_TBT3_VID_OFFSET = 108;
constexpr size_t U4CONFIG_TBT3_MODEL_OFFSET = 110;
constexpr size_t U4CONFIG_TBT3_REVISION_OFFSET = 112;
constexpr size_t U4CONFIG_PCIE_VID_OFFSET = 116;
constexpr size_t U4CONFIG_PCIE_DID_OFFSET = 118;
constexpr size_t U4CONFIG_RELINK_COUNT_OFFSET = RELINK_SIG_OFFSET;   // 124
constexpr size_t U4CONFIG_RELINK_PORT_OFFSET = RELINK_SIG_OFFSET + 1;
constexpr uint8_t CONFIG_U4_MARK = 0xA5;

constexpr size_t U4_COMPONENT_ID_LENGTH = 11;

// The component IDs a bridge carries before it has been given its own.
inline constexpr std::string_view U4_PLACEHOLDER_COMPONENT_IDS[] = {"00000000000", "FFFFFFFFFFF", "CCDDEEFF321",
                                                                    "AAAABBBBCCC"};

// Which ids read back from a drive stand for "none given yet", and the word
// the trace uses for an id the drive keeps.
struct U4ComponentIDRule {
    std::span<const std::string_view> placeholders = U4_PLACEHOLDER_COMPONENT_IDS;
    const char* pszKeptWord = "kpcid";
};

// The main dialog's USB4 identity texts, from which the image is built.
struct U4ConfigTexts {
    std::string m_strU4VendorName;
    std::string m_strU4ModelName;
    std::string m_strU4ComponentID;
    std::string m_strU4VendorID;
    std::string m_strU4ProductID;
    std::string m_strU4TestID;
    std::string m_strU4BcdProductFWRevision;
    std::string m_strU4ProductHWRevision;
    std::string m_strU4MinorFWVersion;
    std::string m_strU4TBT3VendorID;
    std::string m_strU4TBT3ModelID;
    std::string m_strU4TBT3ModelRevision;
    std::string m_strU4PcieVendorID;
    std::string m_strU4PcieDeviceID;

    // The texts as the settings hold them.
    static U4ConfigTexts FromIni(const IniRecord& ini);
};

// Empty when every identity text has its length (and is hex); else the
// message of the first that does not.
std::string strUSB4FieldLengthFailure(const U4ConfigTexts& texts);
// The check with its report: the first failure is shown as a warning (in
// command-line mode it goes to the message file).
bool bCheckUSB4FieldLength(const U4ConfigTexts& texts);

// The component ID an image carries: bytes 89 down to 84 as hex, the mode
// and option digit dropped.
std::string strComponentIDOfU4Config(const ConfigImage& ucImage);
bool bIsPlaceholderComponentID(std::string_view strID,
                               std::span<const std::string_view> placeholders = U4_PLACEHOLDER_COMPONENT_IDS);
// A new component ID: the date as year % 10, month and day ("%X%X%02X"),
// then seven random hex digits.
std::string strNewComponentID(const krv::LocalTime& date, krv::Clock& clock);

// Lays the image down from the settings' mode and link options, the texts
// and the component ID (11 hex digits), with the relink signature.
void vFillU4ConfigTable(const IniRecord& ini, const U4ConfigTexts& texts, std::string_view strComponentID,
                        uint8_t ucDeviceCount, uint8_t ucTargetNumber, ConfigImage& ucImage);

// Sets the relink signature (bytes 124 and 125) and makes the checksum
// right again.
void vSetRelinkSignatureAndChkSum(ConfigImage& ucImage, uint8_t ucDeviceCount, uint8_t ucTargetNumber);

// One port's image (bSetUSB4DeviceConfigurationByGUI without the window):
// the port's drive keeps its own component ID unless it carries a
// placeholder, in which case it gets a new one, USB4_ComponentID_EditType
// becomes 5 and texts.m_strU4ComponentID shows it. The image is written to
// `ucImage` and into the port's m_ucU4Config. ucDeviceCount is DevNums plus
// the PCIe targets.
void vBuildU4ConfigForPort(IniRecord& ini, U4ConfigTexts& texts, DevInfo& port, uint8_t ucDeviceCount,
                           uint8_t ucTargetNumber, ConfigImage& ucImage, const U4ComponentIDRule& rule = {});

// The image the engineering buttons write for `ucPort`, from the window's
// texts alone: the typed component id, advanced by the port for serial edit
// types 1 (hex) and 2 (decimal), and no relink signature (124 and 125 stay
// 0xFF).
void vBuildU4TestConfig(const IniRecord& ini, const U4ConfigTexts& texts, uint8_t ucPort, ConfigImage& ucImage);
