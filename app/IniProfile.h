#pragma once
// What the two programs' settings files have in common and where they part.
// Both files share the line grammar, the key names and the per-key load
// rules; a profile says which keys a program's file carries and in which
// order, under which sections, the version it writes and accepts, how many
// counted lines a file may have, and whether the keyless fields are forced
// after a load. One codec serves both programs; `main` picks the profile.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "app/IniRecord.h"

// The default settings file, in the program folder, for both programs.
constexpr const char* INI_DEFAULT_FILE_NAME = "kv_mp_Toolv0.6.ini";

enum class EIniValueKind : uint8_t { eU8, eI32, eText };

// What the loader makes of a key's value beyond plain atoi or copy.
enum class EIniLoadRule : uint8_t {
    ePlain,
    eVersion,          // must equal the profile's version, else the load stops
    eAlways0,          // the field is 0 whatever the value
    eAlways1,          // the field is 1 whatever the value (the line's presence counts)
    eAlways5,          // the field is 5 whatever the value
    eFwReload,         // 0 unless a non-zero fw_enable came earlier in the file
    eAtMost20,         // above 20, compared unsigned, becomes 20
    eFixLength,        // kept when 0 or 12..20, else 0
    eAtMost3,          // above 3, compared unsigned, becomes 3
    ePcieScan,         // other than 0, 1, 2 becomes 1
    eZeroOrOne,        // other than 0 or 1 becomes 1
    eMinorFWVersion,   // the first two characters become "FF"
};

// What the store writes beyond the field's own value.
enum class EIniStoreRule : uint8_t {
    ePlain,
    eProfileVersion,   // the profile's version, whatever the record holds
    eAlways12,         // the number 12, whatever the record holds
};

struct IniKey {
    const char* pszName;
    EIniValueKind eKind;
    uint8_t IniRecord::*pucField;
    int32_t IniRecord::*pnField;
    IniText IniRecord::*pText;
    EIniLoadRule eLoad;
    EIniStoreRule eStore;
};

enum class EIniLineKind : uint8_t {
    eSection,   // "[name]"; counted unless bCounted is false
    eKey,       // "key=value"
    eBlank,     // an empty line (never counted)
    eComment,   // a fixed comment line, counted
};

struct IniLayoutLine {
    EIniLineKind eKind;
    const char* pszText;      // section or comment text; null for keys and blanks
    const IniKey* pKey;       // keys only
    bool bCounted;            // sections and comments
};

struct IniProfile {
    const char* pszProgram;            // for messages and logs
    int32_t nVersion;                  // written and required
    int nMaxCountedLines;              // a file with more fails the load
    bool bForceKeylessFields;          // set the fields the file has no key for after a load
    std::span<const IniLayoutLine> layout;   // the file in store order
    const char* pszDefaultUSB4ProductID = "8573";  // the factory default of USB4_ProductID

    // The layout line of a key or section or comment text, or null when the
    // text is not one of this profile's lines.
    const IniLayoutLine* pFindLine(std::string_view strText) const;
};

// The production tool's file: version 1009, 86 counted lines.
const IniProfile& IniProfileProduction();
// The variant build's file: version 1007, 101 counted lines, the device
// options and the USB4 link options as keys, no forced fields.
const IniProfile& IniProfileVariant();
