#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/FWFileRules.h"
#include "device/DebugLog.h"
#include "device/USBUtility.h"
#include "tests/support/TestPlatform.h"

namespace {

// A firmware file as the bridge tools lay it out: `size` bytes of filler,
// the version at 0x204 (when it fits) and the signature 6 bytes before the
// end (when it fits).
std::string makeImage(size_t size, const std::vector<uint8_t>& version, uint8_t signature)
{
    std::string bytes(size, '\x11');
    for (size_t i = 0; i < version.size() && 0x204 + i < size; ++i)
        bytes[0x204 + i] = static_cast<char>(version[i]);
    if (size >= 6)
        bytes[size - 6] = static_cast<char>(signature);
    return bytes;
}

class FWFileRules : public ::testing::Test {
protected:
    void SetUp() override { vDEBUG_SetLevel(4); }
    void TearDown() override { vDEBUG_SetLevel(0); }

    std::string write(const std::string& relative, const std::string& bytes)
    {
        const std::string path = dir.file(relative);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    krv::test::TestPlatform platform;
    krv::test::TempDir dir;
    const std::vector<uint8_t> version{0x23, 0x09, 0x15, 0x01, 0x02, 0x03};
};

TEST_F(FWFileRules, SignatureAndVersionAreReadFromWhereTheyStand)
{
    const std::string path = write("KV_USB4_230915_01_02_03.bin", makeImage(FWFILE_SIZE, version, 0xC3));
    EXPECT_EQ(uGet8574FWSignatureFromeBin(path), 0xC3);
    EXPECT_EQ(strGetFWVersionFromBin(path), "230915010203");

    const std::string upper = write("up.bin", makeImage(FWFILE_SIZE, {0xAB, 0xCD, 0xEF, 0x82, 0x0A, 0xFB}, 0x5A));
    EXPECT_EQ(strGetFWVersionFromBin(upper), "abcdef820afb");
}

TEST_F(FWFileRules, ShortOrMissingFilesAreRefusedNotOverread)
{
    // Too short for the signature: the answer of a missing file.
    EXPECT_EQ(uGet8574FWSignatureFromeBin(write("five.bin", std::string(5, '\x5A'))), FWFILE_NO_SIGNATURE);
    EXPECT_EQ(uGet8574FWSignatureFromeBin(write("empty.bin", "")), FWFILE_NO_SIGNATURE);
    EXPECT_EQ(uGet8574FWSignatureFromeBin(write("six.bin", std::string("\x5A\0\0\0\0\0", 6))), 0x5A);
    EXPECT_EQ(uGet8574FWSignatureFromeBin(dir.file("missing.bin")), FWFILE_NO_SIGNATURE);
    EXPECT_TRUE(platform.capture().contains("missing.bin"));
    // A folder is no firmware file.
    EXPECT_EQ(uGet8574FWSignatureFromeBin(dir.path()), FWFILE_NO_SIGNATURE);

    // The version needs bytes up to 0x209.
    const std::string justShort = write("KV_USB4_230915_01_02_03.bin", makeImage(0x209, version, 0));
    EXPECT_EQ(strGetFWVersionFromBin(justShort), "");
    EXPECT_FALSE(bCheckFWFile(justShort));
    // (In a file this short the signature byte is the version's first byte.)
    const std::string justEnough = write("b/KV_USB4_230915_01_02_03.bin", makeImage(0x20A, version, 0x23));
    EXPECT_EQ(strGetFWVersionFromBin(justEnough), "230915010203");
    EXPECT_TRUE(bCheckFWFile(justEnough));

    // The same rules on bytes in memory.
    const std::string image = makeImage(0x20A, version, 0x23);
    const auto* data = reinterpret_cast<const uint8_t*>(image.data());
    std::string text;
    EXPECT_TRUE(bFWVersionOfImage(data, image.size(), text));
    EXPECT_EQ(text, "230915010203");
    EXPECT_FALSE(bFWVersionOfImage(data, 0x209, text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(ucFWSignatureOfImage(data, image.size()), 0x23);
    EXPECT_EQ(ucFWSignatureOfImage(data, 6), 0x11);
    EXPECT_EQ(ucFWSignatureOfImage(data, 5), FWFILE_NO_SIGNATURE);
    EXPECT_EQ(ucFWSignatureOfImage(nullptr, 100), FWFILE_NO_SIGNATURE);
}

TEST_F(FWFileRules, FileNameMustCarryTheVersionTheFileHolds)
{
    const std::string image = makeImage(FWFILE_SIZE, version, 0x5A);
    const struct {
        const char* relative;
        std::vector<uint8_t> version;
        bool ok;
    } cases[] = {
        {"fw/KV_USB4_230915_01_02_03.bin", version, true},
        // Upper-case name digits against the lower-case text the bytes give.
        {"KV_USB4_AB0915_82_0A_FB.bin", {0xAB, 0x09, 0x15, 0x82, 0x0A, 0xFB}, true},
        {"KV_USB4_ab0915_82_0a_fb.bin", {0xAB, 0x09, 0x15, 0x82, 0x0A, 0xFB}, true},
        {"KV_USB4_230915_01_02_04.bin", version, false},
        // The prefix must be there in its own case.
        {"kv_usb4_230915_01_02_03.bin", version, false},
        {"USB4_230915_01_02_03.bin", version, false},
        // The prefix in a folder's name passes the name check, but the
        // version is taken from the file's own name.
        {"KV_USB4_230915_01_02_03/fw.bin", version, false},
        // A name too short to hold the version.
        {"x/KV_USB4_.bin", version, false},
    };
    for (const auto& c : cases) {
        const std::string path = write(c.relative, makeImage(FWFILE_SIZE, c.version, 0x5A));
        EXPECT_EQ(bCheckFWFile(path), c.ok) << c.relative;
    }
    // A Windows separator in a stored path names the same file.
    const std::string path = write("win/KV_USB4_230915_01_02_03.bin", image);
    std::string windows = path;
    windows.replace(windows.rfind('/'), 1, "\\");
    EXPECT_TRUE(bCheckFWFile(windows));
    EXPECT_FALSE(bCheckFWFile(dir.file("KV_USB4_230915_01_02_03_missing.bin")));
}

// The variant judges only the path's last 27 characters, the length of a
// firmware file's name: a shorter path fails before anything is read.
TEST_F(FWFileRules, WithANameTailOnlyThePathsEndIsJudged)
{
    const std::string image = makeImage(FWFILE_SIZE, version, 0x5A);
    EXPECT_TRUE(bCheckFWFile(write("fw/KV_USB4_230915_01_02_03.bin", image), 27));
    EXPECT_TRUE(bCheckFWFile(write("KV_USB4_old/KV_USB4_230915_01_02_03.bin", image), 27));
    EXPECT_FALSE(bCheckFWFile(write("KV_USB4_230915_01_02_03/fw.bin", image), 27));
    EXPECT_FALSE(bCheckFWFile("KV_USB4_230915_01_02_03.bi", 27));
    EXPECT_FALSE(bCheckFWFile("", 27));
}

TEST_F(FWFileRules, NameOfAVersion)
{
    const uint8_t bytes[6] = {0x23, 0x09, 0x15, 0xab, 0x02, 0x0c};
    EXPECT_EQ(strFWFileNameOfVersion(bytes), "KV_USB4_230915_AB_02_0C.bin");
}

TEST_F(FWFileRules, SignatureMustBelongToTheChipRevision)
{
    const struct {
        uint8_t rev;
        uint8_t sig;
        bool ok;
    } cases[] = {
        {0, 0x5A, true},  {0, 0xA5, true},  {1, 0x4B, true},  {1, 0xB4, true},  {2, 0x3C, true},
        {2, 0xC3, true},  {3, 0x2D, true},  {3, 0xD2, true},  {4, 0x1E, true},  {4, 0xE1, true},
        {5, 0x0F, true},  {5, 0xF0, true},  {6, 0x69, true},  {6, 0x96, true},  {7, 0x78, true},
        {7, 0x87, true},  {3, 0x5A, false}, {0, 0x4B, false}, {7, 0xFF, false}, {8, 0x5A, false},
        {0x7F, 0x5A, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bCmp8574ChipAndFWVersion(c.rev, c.sig), c.ok) << int(c.rev) << " " << int(c.sig);

    platform.capture().clear();
    EXPECT_FALSE(bCmp8574ChipAndFWVersion(0xFF, 0x5A));
    EXPECT_TRUE(platform.capture().contains("unmatch chip maj rev:255"));
    EXPECT_FALSE(bCmp8574ChipAndFWVersion(3, 0x5A));
    EXPECT_TRUE(platform.capture().contains("FW sig from bin:5A, FW sig(chk sum):2D, FW sig(CRC32):D2"));
}

TEST_F(FWFileRules, PDTypeOfTheFileMustFitEveryDevice)
{
    // SS 0x82: PD, external. Device SS bytes stand at characters 6-7.
    const std::string pdExternal = "D:\\fw\\KV_USB4_230915_82_02_03.bin";
    const std::string pdxInternal = "/fw/KV_USB4_230915_00_02_03.bin";
    const FWDevicePDInfo pdExt{"230915820203", 1};
    const FWDevicePDInfo pdInt{"230915800203", 1};
    const FWDevicePDInfo pdxExt{"230915020203", 0};
    const FWDevicePDInfo pdxInt{"230915000203", 0};
    const struct {
        std::string path;
        std::vector<FWDevicePDInfo> devices;
        const char* message;
    } cases[] = {
        {pdExternal, {pdExt}, ""},
        {pdExternal, {pdExt, pdExt}, ""},
        {pdExternal, {}, ""},
        {pdxInternal, {}, ""},
        {pdExternal, {pdxExt}, "can not update PD FW to PDX device"},
        {pdExternal, {pdExt, pdxExt}, "can not update PD FW to PDX device"},
        {pdxInternal, {pdInt}, "can not update PDX FW to PD device"},
        {pdExternal, {pdInt}, "can not update external PD FW to internal PD device"},
        {pdxInternal, {pdxExt}, "can not update internal PD FW to external PD device"},
        {pdxInternal, {pdxInt}, ""},
        // Lower-case digits read the same.
        {"KV_USB4_230915_8a_02_03.bin", {{"2309158a0203", 1}}, ""},
        // The name's SS pair must be hex digits.
        {"KV_USB4_230915_G2_02_03.bin", {}, "check FW path [47,32]"},
        {"KV_USB4_23", {}, "check FW path [0,0]"},
        {"fw.bin", {}, "check FW path [0,0]"},
        // So must the device's.
        {pdExternal, {{"230915Z20203", 1}}, "check FW dev [5A,32]"},
        {pdExternal, {{"2309", 1}}, "check FW dev [0,0]"},
        {pdExternal, {{"", 1}}, "check FW dev [0,0]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(strFWPDTypeMismatch(c.path, c.devices), c.message) << c.path;
}

TEST_F(FWFileRules, PDTypeRefusalIsShownAndLogged)
{
    pUtility.m_bCommandLineMode = false;
    platform.capture().clear();
    EXPECT_TRUE(bIsFWmatchPDtype("KV_USB4_230915_82_02_03.bin", {{"230915820203", 1}}));
    EXPECT_FALSE(bIsFWmatchPDtype("KV_USB4_230915_82_02_03.bin", {{"230915020203", 0}}));
    EXPECT_TRUE(platform.capture().contains("can not update PD FW to PDX device"));
}

TEST_F(FWFileRules, PDTypeOfTheDevicesFound)
{
    DevList devList;
    devList.Devs[0].m_strFWVersion = "230915820203";
    devList.Devs[0].m_ucPDType = 1;
    devList.Devs[1].m_strFWVersion = "230915020203";  // a PDX device, beyond the count
    devList.Devs[1].m_ucPDType = 0;
    EXPECT_TRUE(bIsFWmatchPDtype("KV_USB4_230915_82_02_03.bin", devList, 1));
    EXPECT_FALSE(bIsFWmatchPDtype("KV_USB4_230915_82_02_03.bin", devList, 2));
    EXPECT_TRUE(bIsFWmatchPDtype("KV_USB4_230915_82_02_03.bin", devList, 0));
}

TEST_F(FWFileRules, BcdRevisionFromTheFileName)
{
    const struct {
        const char* name;
        bool ok;
        const char* revision;
    } cases[] = {
        {"KV_USB4_230915_01_02_03.bin", true, "3915"},
        {"D:\\fw\\KV_USB4_231215_01_02_03.bin", true, "3C15"},
        {"old_KV_USB4_241001_01_02_03.bin", true, "4A01"},
        {"KV_USB4_230915", true, "3915"},
        {"KV_USB4_23091", false, ""},
        {"KV_USB4_2309AB_01_02_03.bin", false, ""},
        {"KV_USB4_231315_01_02_03.bin", false, ""},
        {"KV_USB4_230015_01_02_03.bin", false, ""},
        {"kv_usb4_230915_01_02_03.bin", false, ""},
    };
    for (const auto& c : cases) {
        std::string revision = "keep";
        EXPECT_EQ(bBcdRevisionFromFWFileName(c.name, revision), c.ok) << c.name;
        EXPECT_EQ(revision, c.ok ? c.revision : "keep") << c.name;
    }

    // From a setting: the file must exist.
    std::string revision;
    EXPECT_FALSE(bBcdRevisionFromFWFile(dir.file("KV_USB4_230915_01_02_03.bin"), revision));
    const std::string path = write("KV_USB4_230915_01_02_03.bin", makeImage(FWFILE_SIZE, version, 0x5A));
    EXPECT_TRUE(bBcdRevisionFromFWFile(path, revision));
    EXPECT_EQ(revision, "3915");

    // Into the settings; a name without a date leaves them alone.
    IniRecord ini{};
    ini.USB4_BcdProductFWRevision.set("1234");
    ini.fw_binary_name.set(path);
    EXPECT_EQ(strMakeFWFileName(ini), "3915");
    EXPECT_EQ(ini.USB4_BcdProductFWRevision, "3915");
    ini.fw_binary_name.set(write("KV_USB4_2309XX.bin", "x"));
    EXPECT_EQ(strMakeFWFileName(ini), "");
    EXPECT_EQ(ini.USB4_BcdProductFWRevision, "3915");
}

}  // namespace
