#pragma once
// The settings file's text and the settings record, both ways, with no file
// access, no messages and no global state: the loader and the store of `Ini`
// wrap these, and the fuzz target drives them directly.
//
// Reading follows the file's own grammar: a line ends at LF (a CR before it
// is dropped); empty lines are skipped and not counted; the key is the text
// before the first "=", the value the rest, cut at a "//" that does not open
// it; both are trimmed; keys are case-sensitive and sections do not scope
// them. Every line but the empty ones and the first two section lines is
// counted, recognised or not, and the count decides whether the file is
// longer than a settings file can be.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/IniProfile.h"
#include "app/IniRecord.h"

// Something about one line the operator should hear of. Keys and values are
// kept as read (possibly binary); IniPrintable makes them fit for a message.
enum class EIniNote : uint8_t {
    eValueTooLong,    // a text longer than a slot holds; the first 254 characters were kept
    eValueHasZero,    // a text with a zero byte; what precedes it was kept
    eNotANumber,      // a number with no digits or with other characters after them
    eNumberTooLarge,  // a number outside what the field holds; the Part's conversion applied
};

struct IniLineNote {
    EIniNote eKind = EIniNote::eNotANumber;
    int nLine = 0;            // physical line, from 1
    int nCountedBefore = 0;   // counted lines before this one
    std::string strKey;
    std::string strValue;
    int64_t llStored = 0;     // the number the field got (numbers only)
};

struct IniParseResult {
    IniRecord record = IniRecordCleared();
    int nCountedLines = 0;
    // Lines that named a key of the profile (the version included).
    int nKeyLines = 0;
    // The text ended without a line end: a stored file never does, so with
    // keys missing as well the file was cut short.
    bool bEndsMidLine = false;
    // The version line named another layout: reading stopped there.
    bool bWrongVersion = false;
    int32_t nVersionRead = 0;
    int nVersionLine = 0;
    // Lines that are no key, section or comment of the profile.
    std::vector<IniLineNote> unrecognised;
    // Values that were cut or were not clean numbers.
    std::vector<IniLineNote> notes;
    // Entries beyond the most either list keeps (a file of garbage must not
    // make a message of megabytes).
    int nUnrecognisedLeftOut = 0;
    int nNotesLeftOut = 0;
    // Keys of the profile that no line named, in store order.
    std::vector<const IniKey*> missingKeys;

    bool bTooManyLines(const IniProfile& profile) const { return nCountedLines > profile.nMaxCountedLines; }
    bool bCutShort() const { return bEndsMidLine && !missingKeys.empty(); }
};

// The most entries each note list keeps.
constexpr size_t INI_MAX_NOTES = 64;

// Reads a whole settings file's text into a cleared record (the load's steps
// up to and including the forced fields of the production file).
IniParseResult IniParseText(std::string_view strText, const IniProfile& profile);

// The whole text the store writes for the record: every line of the profile
// in order, CR LF after each, the profile's version and SN_Numbers=12 always.
std::string IniFormatText(const IniRecord& record, const IniProfile& profile);

// The device-option and link-option bytes at their factory values.
void IniResetDeviceOptions(IniRecord& record);
// The values the production file has no keys for, set after every load.
void IniForceKeylessFields(IniRecord& record);

// atoi as the file means it: leading blanks, an optional sign, digits;
// anything else ends the number and no digits give 0. A number beyond the
// 32-bit range saturates (atoi leaves that undefined). bClean is false when
// the text was anything but one plain in-range number.
struct IniNumber {
    int32_t nValue = 0;
    bool bClean = false;
    bool bOutOfRange = false;
};
IniNumber IniParseNumber(std::string_view strText);

// A key or value fit for a message or log line: other bytes than printable
// ASCII become '?', and a long text is cut with "...".
std::string IniPrintable(std::string_view strText, size_t nMax = 64);
