// Fuzzes the settings file reader of both programs. Whatever the bytes, the
// reader must not crash, its notes stay bounded, the check must not crash, and
// the text the store writes for what was read must read back as the same
// record (as far as the file's rules allow) and, from then on, store as the
// same text again.
//
// seed-corpus: tests/app/golden/*.ini
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/IniCheck.h"
#include "app/IniCodec.h"
#include "app/IniProfile.h"

namespace {

void vRequire(bool bHolds, const char* pszWhat)
{
    if (!bHolds) {
        std::fprintf(stderr, "settings file round trip broken: %s\n", pszWhat);
        std::abort();
    }
}

// What the file's rules make of a record on its way through the store and a
// load: the store writes the profile's version and SN_Numbers=12, the lines
// of the forced keys are always present, and a reload switch needs a
// firmware update switch written before it.
IniRecord normalised(IniRecord r, const IniProfile& profile)
{
    r.version = profile.nVersion;
    r.SN_Numbers = 12;
    r.USB4_ComponentID_EditType = 5;
    r.image0 = 1;
    if (r.fw_enable == 0)
        r.fw_reload = 0;
    // An empty minor version (a variant file without the key) reads back as
    // the "FF" that every read puts in front.
    const std::string strMinor = r.USB4_MinorFWVersion.str();
    r.USB4_MinorFWVersion.set(strMinor.size() <= 2 ? std::string("FF") : "FF" + strMinor.substr(2));
    return r;
}

void vOneProfile(std::string_view text, const IniProfile& profile)
{
    const IniParseResult parsed = IniParseText(text, profile);
    vRequire(parsed.unrecognised.size() <= INI_MAX_NOTES && parsed.notes.size() <= INI_MAX_NOTES, "notes bounded");
    vRequire(parsed.nCountedLines >= 0, "count");

    IniRecord checked = parsed.record;
    CConfigFieldLength lengths;
    const IniCheckResult check = IniCheckRecord(checked, lengths);
    vRequire(check.ucCode <= INI_CHECK_DISK_LABEL, "check code");
    if (parsed.bWrongVersion)
        return;

    const std::string stored = IniFormatText(parsed.record, profile);
    const IniParseResult again = IniParseText(stored, profile);
    vRequire(!again.bWrongVersion, "stored version reads");
    vRequire(again.unrecognised.empty() && again.notes.empty(), "stored file reads clean");
    vRequire(again.missingKeys.empty() && !again.bEndsMidLine, "stored file complete");
    vRequire(again.nCountedLines == profile.nMaxCountedLines, "stored file line count");
    vRequire(again.record == normalised(parsed.record, profile), "same record");
    // From the first store on, the text is a fixed point.
    const std::string restored = IniFormatText(again.record, profile);
    vRequire(IniParseText(restored, profile).record == again.record, "same record again");
    vRequire(IniFormatText(IniParseText(restored, profile).record, profile) == restored, "same text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pucData, size_t nSize)
{
    const std::string_view text(reinterpret_cast<const char*>(pucData), nSize);
    vOneProfile(text, IniProfileProduction());
    vOneProfile(text, IniProfileVariant());
    return 0;
}
