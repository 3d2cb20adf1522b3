#include <gtest/gtest.h>

#include <string>

#include "app/SettingsValidation.h"

namespace {

using E = ESettingsEdit;

TEST(SettingsValidation, EditFiltersKeepTheirClassUpToTheirMaximum)
{
    struct Case {
        E edit;
        uint8_t checkSerial;
        uint8_t driveType;
        std::string typed;
        std::string kept;
    };
    const Case cases[] = {
        {E::eVendorID, 0, 1, "12G4", "124"},
        {E::eVendorID, 0, 1, "abCD9", "abCD"},
        {E::eProductID, 0, 1, "01ZZ", "01"},
        // The revision is alphanumeric: letters beyond F stay.
        {E::eDeviceRevision, 0, 1, "01ZZ", "01ZZ"},
        {E::eDeviceRevision, 0, 1, "0.1-A", "01A"},
        // The serial keeps anything unless it must be hex; hex is kept upper case.
        {E::eSerialNumber, 0, 1, "sn-0001 x", "sn-0001 x"},
        {E::eSerialNumber, 1, 1, "sn-00ab01", "00AB01"},
        {E::eSerialNumber, 0, 1, std::string(25, '7'), std::string(20, '7')},
        // Printable: bytes from 0x80 and DEL go.
        {E::eManufacturerString, 0, 1, "Caf\xE9 Co\x7F", "Caf Co"},
        {E::eManufacturerString, 0, 1, std::string(40, 'M'), std::string(36, 'M')},
        {E::eProductString, 0, 1, std::string(40, 'P'), std::string(32, 'P')},
        {E::eT10ManufacturerString, 0, 1, "KRVN LONG", "KRVN LON"},
        {E::eT10ProductString, 0, 1, std::string(17, 'T'), std::string(16, 'T')},
        {E::eUSB4VendorName, 0, 1, std::string(33, 'V'), std::string(32, 'V')},
        {E::eSeconds, 0, 1, "12345", "1234"},
        {E::eSeconds, 0, 1, "1.5", "15"},
        {E::eReadSpeed, 0, 1, "12.5", "12.5"},
        {E::eWriteSpeed, 0, 1, "1x0.25", "10.2"},
        {E::eUSB4ComponentID, 0, 1, "123456789ABCD", "123456789AB"},
        {E::eUSB4TestID, 0, 1, "0000066G6", "00000666"},
        {E::eUSB4ProductHWRevision, 0, 1, "5aX", "5a"},
        {E::ePcieDeviceID, 0, 1, "85 73 1", "8573"},
        // NTFS labels take 32 characters.
        {E::eDriveLabel, 0, 0, std::string(32, 'L'), std::string(32, 'L')},
    };
    for (const Case& c : cases) {
        const EditFilterResult r = filterEditText(c.typed, c.typed.size(),
                                                  ruleForSettingsEdit(c.edit, c.checkSerial, c.driveType));
        EXPECT_EQ(r.strText, c.kept) << c.typed;
        EXPECT_FALSE(r.bRefused) << c.typed;
        EXPECT_EQ(r.nCaret, c.kept.size()) << c.typed;
    }
}

TEST(SettingsValidation, EditReadsAtMost127Characters)
{
    const std::string typed = std::string(127, '.') + "9";
    EXPECT_EQ(filterEditText(typed, typed.size(), ruleForSettingsEdit(E::eSeconds, 0, 0)).strText, "");
}

TEST(SettingsValidation, CaretStaysBehindTheCharacterItFollowed)
{
    const EditFilterRule hex = ruleForSettingsEdit(E::eVendorID, 0, 0);
    // "1G|24": the refused G was typed before the caret; it lands after the 1.
    EditFilterResult r = filterEditText("1G24", 2, hex);
    EXPECT_EQ(r.strText, "124");
    EXPECT_EQ(r.nCaret, 1u);
    // A refused character after the caret does not move it.
    r = filterEditText("12G4", 2, hex);
    EXPECT_EQ(r.nCaret, 2u);
    // A caret beyond the text is clamped.
    r = filterEditText("12", 9, hex);
    EXPECT_EQ(r.nCaret, 2u);
}

TEST(SettingsValidation, DriveLabelTooLongIsRefusedWhole)
{
    const EditFilterRule fat = ruleForSettingsEdit(E::eDriveLabel, 0, 1);
    const EditFilterRule exfat = ruleForSettingsEdit(E::eDriveLabel, 0, 2);
    EXPECT_EQ(fat.nMaxLength, 11u);
    EXPECT_EQ(exfat.nMaxLength, 11u);

    EditFilterResult r = filterEditText("ELEVEN_CHRS", 11, fat);
    EXPECT_FALSE(r.bRefused);
    EXPECT_EQ(r.strText, "ELEVEN_CHRS");

    r = filterEditText("TWELVE_CHARS", 12, fat);
    EXPECT_TRUE(r.bRefused);
    EXPECT_EQ(r.strText, "");
    // Refused characters do not count toward the limit.
    r = filterEditText("ELEVEN_CHRS\xE9", 12, fat);
    EXPECT_FALSE(r.bRefused);
    r = filterEditText(std::string(33, 'L'), 33, ruleForSettingsEdit(E::eDriveLabel, 0, 0));
    EXPECT_TRUE(r.bRefused);
}

TEST(SettingsValidation, HexCharToValue)
{
    const struct {
        char c;
        bool ok;
        uint8_t value;
    } cases[] = {{'0', true, 0}, {'9', true, 9}, {'a', true, 10}, {'A', true, 10},
                 {'f', true, 15}, {'F', true, 15}, {'G', false, 0}, {'/', false, 0}, {'\0', false, 0}};
    for (const auto& c : cases) {
        uint8_t value = 0xEE;
        EXPECT_EQ(bHexCharToValue(c.c, value), c.ok) << c.c;
        EXPECT_EQ(value, c.value) << c.c;
    }
}

TEST(SettingsValidation, SerialCharsetBySNEditType)
{
    const struct {
        const char* serial;
        uint8_t type;
        bool ok;
    } cases[] = {
        {"0123456789ABCDEF", 1, true}, {"00000000ab01", 1, false}, {"00000000AB01", 1, true},
        {"0000-0001", 1, false},       {"000000000123", 2, true},  {"00000000000A", 2, false},
        {"", 1, true},                 {"", 2, true},              {"any text-", 0, true},
        {"any text-", 3, true},        {"any text-", 4, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bIsSNInCharset(c.serial, c.type), c.ok) << c.serial << " type " << int(c.type);
}

TEST(SettingsValidation, SaveIniNeedsFourCharacterIdentifiers)
{
    std::string message;
    EXPECT_TRUE(bValidateUSBIdentifiers("3E9A", "8573", "0100", message));
    EXPECT_EQ(message, "");
    EXPECT_FALSE(bValidateUSBIdentifiers("124", "8573", "0100", message));
    EXPECT_EQ(message, "VID Format not valid \r\n");
    EXPECT_FALSE(bValidateUSBIdentifiers("", "85733", "01", message));
    EXPECT_EQ(message, "VID Format not valid \r\nPID Format not valid \r\nDevice Revision Format not valid \r\n");
}

TEST(SettingsValidation, SerialIncreaseBoxes)
{
    // Checking Hex with a hex serial: Hex on, Dec off, nothing else.
    SNIncreaseBoxes b = snIncreaseBoxClicked(true, true, "0000000000AB", 0, 0, 1);
    EXPECT_EQ(b.ucIncreaseHex, 1);
    EXPECT_EQ(b.ucIncreaseDec, 0);
    EXPECT_FALSE(b.bClearSerialNumber);
    EXPECT_EQ(b.strWarning, "");

    // Unchecking Hex turns Dec on.
    b = snIncreaseBoxClicked(true, false, "anything", 0, 0, 1);
    EXPECT_EQ(b.ucIncreaseHex, 0);
    EXPECT_EQ(b.ucIncreaseDec, 1);
    EXPECT_FALSE(b.bClearSerialNumber);

    // Checking Dec with a serial that is not decimal under type 2: undone.
    b = snIncreaseBoxClicked(false, true, "00000000000A", 0, 0, 2);
    EXPECT_EQ(b.ucIncreaseDec, 0);
    EXPECT_EQ(b.ucIncreaseHex, 1);
    EXPECT_TRUE(b.bClearSerialNumber);
    EXPECT_EQ(b.strWarning, "SN digits should be all decimal");

    b = snIncreaseBoxClicked(true, true, "0000abcd", 0, 0, 1);
    EXPECT_EQ(b.ucIncreaseHex, 0);
    EXPECT_EQ(b.ucIncreaseDec, 1);
    EXPECT_EQ(b.strWarning, "SN digits should be all heximal");

    // The kept prefix is not counted, so letters there are fine.
    b = snIncreaseBoxClicked(false, true, "ZZ12000000", 1, 2, 2);
    EXPECT_EQ(b.ucIncreaseDec, 1);
    EXPECT_FALSE(b.bClearSerialNumber);
    // A prefix longer than the serial leaves nothing to check.
    b = snIncreaseBoxClicked(false, true, "ZZ", 1, 20, 2);
    EXPECT_FALSE(b.bClearSerialNumber);
}

}  // namespace
