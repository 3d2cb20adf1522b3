#include "app/IniCodec.h"

#include <cstdio>
#include <limits>

namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trim(std::string_view s)
{
    const size_t nFirst = s.find_first_not_of(kBlanks);
    if (nFirst == std::string_view::npos)
        return {};
    const size_t nLast = s.find_last_not_of(kBlanks);
    return s.substr(nFirst, nLast - nFirst + 1);
}

std::string_view TrimRight(std::string_view s)
{
    const size_t nLast = s.find_last_not_of(kBlanks);
    return nLast == std::string_view::npos ? std::string_view{} : s.substr(0, nLast + 1);
}

struct SplitLine {
    std::string_view key;
    std::string_view value;
};

SplitLine Split(std::string_view line)
{
    const size_t nEq = line.find('=');
    std::string_view key = nEq == std::string_view::npos ? line : line.substr(0, nEq);
    std::string_view rest = nEq == std::string_view::npos ? std::string_view{} : line.substr(nEq + 1);
    // A "//" after the start of the value begins a remark; one at its very
    // start is part of the value.
    const size_t nRemark = rest.find("//");
    if (nRemark != std::string_view::npos && nRemark > 0)
        rest = rest.substr(0, nRemark);
    return {Trim(key), Trim(rest)};
}

class Parser {
public:
    Parser(const IniProfile& profile, IniParseResult& result) : m_profile(profile), m_result(result)
    {
        m_seen.assign(profile.layout.size(), false);
    }

    // False once reading has to stop.
    bool bLine(std::string_view line, int nLine)
    {
        const SplitLine split = Split(line);
        const IniLayoutLine* pLine = m_profile.pFindLine(split.key);
        if (!pLine) {
            vUnrecognised(split, nLine);
            return true;
        }
        m_seen[static_cast<size_t>(pLine - m_profile.layout.data())] = true;
        if (pLine->eKind != EIniLineKind::eKey) {
            if (pLine->bCounted)
                ++m_result.nCountedLines;
            return true;
        }
        ++m_result.nKeyLines;
        if (!bKey(*pLine->pKey, split.value, nLine))
            return false;
        ++m_result.nCountedLines;
        return true;
    }

    void vFinish()
    {
        for (size_t i = 0; i < m_profile.layout.size(); ++i) {
            const IniLayoutLine& line = m_profile.layout[i];
            if (line.eKind == EIniLineKind::eKey && !m_seen[i])
                m_result.missingKeys.push_back(line.pKey);
        }
    }

private:
    void vUnrecognised(const SplitLine& split, int nLine)
    {
        if (m_result.unrecognised.size() < INI_MAX_NOTES)
            m_result.unrecognised.push_back(
                {EIniNote::eNotANumber, nLine, m_result.nCountedLines, std::string(split.key), std::string(split.value), 0});
        else
            ++m_result.nUnrecognisedLeftOut;
        ++m_result.nCountedLines;
    }

    void vNote(EIniNote eKind, const IniKey& key, std::string_view value, int nLine, int64_t llStored = 0)
    {
        if (m_result.notes.size() < INI_MAX_NOTES)
            m_result.notes.push_back(
                {eKind, nLine, m_result.nCountedLines, key.pszName, std::string(value), llStored});
        else
            ++m_result.nNotesLeftOut;
    }

    bool bKey(const IniKey& key, std::string_view value, int nLine)
    {
        IniRecord& r = m_result.record;
        switch (key.eKind) {
        case EIniValueKind::eText:
            vText(key, value, nLine);
            return true;
        case EIniValueKind::eU8: {
            const uint8_t ucValue = ucByte(key, value, nLine);
            r.*key.pucField = ucValue;
            return true;
        }
        case EIniValueKind::eI32:
            return bInt(key, value, nLine);
        }
        return true;
    }

    void vText(const IniKey& key, std::string_view value, int nLine)
    {
        std::string_view kept = value;
        const size_t nZero = kept.find('\0');
        if (nZero != std::string_view::npos) {
            kept = TrimRight(kept.substr(0, nZero));
            vNote(EIniNote::eValueHasZero, key, value, nLine);
        }
        if (kept.size() > IniText::kCapacity) {
            // Cut, then trimmed again so that the text the store writes reads
            // back as the same text.
            kept = TrimRight(kept.substr(0, IniText::kCapacity));
            vNote(EIniNote::eValueTooLong, key, value, nLine);
        }
        IniText& slot = m_result.record.*key.pText;
        slot.set(kept);
        if (key.eLoad == EIniLoadRule::eMinorFWVersion) {
            // The minor version is the device's own; whatever the file says,
            // its two digits are "FF".
            const std::string strText = slot.str();
            slot.set(strText.size() <= 2 ? std::string("FF") : "FF" + strText.substr(2));
        }
    }

    // The number of a value, with a note when it was not one clean number
    // (the rules that ignore the value need none).
    IniNumber number(const IniKey& key, std::string_view value, int nLine)
    {
        const IniNumber n = IniParseNumber(value);
        const bool bIgnoresValue = key.eLoad == EIniLoadRule::eAlways0 || key.eLoad == EIniLoadRule::eAlways1 ||
                                   key.eLoad == EIniLoadRule::eAlways5 || key.eLoad == EIniLoadRule::eVersion;
        if (!n.bClean && !bIgnoresValue)
            vNote(n.bOutOfRange ? EIniNote::eNumberTooLarge : EIniNote::eNotANumber, key, value, nLine, n.nValue);
        return n;
    }

    uint8_t ucByte(const IniKey& key, std::string_view value, int nLine)
    {
        switch (key.eLoad) {
        case EIniLoadRule::eAlways0:
            return 0;
        case EIniLoadRule::eAlways1:
            return 1;
        default:
            break;
        }
        const IniNumber n = number(key, value, nLine);
        // A byte keeps the low 8 bits of the number, as the file has always
        // been read.
        const uint8_t ucValue = static_cast<uint8_t>(n.nValue);
        if (n.bClean && (n.nValue < 0 || n.nValue > 255))
            vNote(EIniNote::eNumberTooLarge, key, value, nLine, ucValue);
        if (key.eLoad == EIniLoadRule::eFwReload && m_result.record.fw_enable == 0)
            return 0;
        return ucValue;
    }

    bool bInt(const IniKey& key, std::string_view value, int nLine)
    {
        const IniNumber n = number(key, value, nLine);
        int32_t nValue = n.nValue;
        const auto uValue = static_cast<uint32_t>(nValue);
        switch (key.eLoad) {
        case EIniLoadRule::eVersion:
            m_result.record.*key.pnField = nValue;
            if (nValue != m_profile.nVersion) {
                m_result.bWrongVersion = true;
                m_result.nVersionRead = nValue;
                m_result.nVersionLine = nLine;
                return false;
            }
            return true;
        case EIniLoadRule::eAlways5:
            nValue = 5;
            break;
        case EIniLoadRule::eAtMost20:
            nValue = uValue > 20 ? 20 : nValue;
            break;
        case EIniLoadRule::eFixLength:
            nValue = (nValue == 0 || (nValue >= 12 && nValue <= 20)) ? nValue : 0;
            break;
        case EIniLoadRule::eAtMost3:
            nValue = uValue > 3 ? 3 : nValue;
            break;
        case EIniLoadRule::ePcieScan:
            nValue = (nValue >= 0 && nValue <= 2) ? nValue : 1;
            break;
        case EIniLoadRule::eZeroOrOne:
            nValue = (nValue == 0 || nValue == 1) ? nValue : 1;
            break;
        default:
            break;
        }
        m_result.record.*key.pnField = nValue;
        return true;
    }

    const IniProfile& m_profile;
    IniParseResult& m_result;
    std::vector<bool> m_seen;
};

// "key=value" and CR LF: the store's "%s=%d" and "%s=%s" lines.
void vAppendLine(std::string& out, const char* pszName, std::string_view value)
{
    out += pszName;
    out += '=';
    out += value;
    out += "\r\n";
}

void vAppendNumber(std::string& out, const char* pszName, long long llValue)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%lld", llValue);
    vAppendLine(out, pszName, sz);
}

}  // namespace

IniParseResult IniParseText(std::string_view strText, const IniProfile& profile)
{
    IniParseResult result;
    Parser parser(profile, result);
    int nLine = 0;
    size_t nPos = 0;
    while (nPos < strText.size()) {
        const size_t nEnd = strText.find('\n', nPos);
        std::string_view line = nEnd == std::string_view::npos ? strText.substr(nPos)
                                                                : strText.substr(nPos, nEnd - nPos);
        nPos = nEnd == std::string_view::npos ? strText.size() : nEnd + 1;
        ++nLine;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (!parser.bLine(line, nLine))
            return result;
    }
    result.bEndsMidLine = !strText.empty() && strText.back() != '\n';
    parser.vFinish();
    if (profile.bForceKeylessFields)
        IniForceKeylessFields(result.record);
    return result;
}

void IniResetDeviceOptions(IniRecord& r)
{
    r.USBRemovable_enable = 0;
    r.eup_enable = 0;
    r.two_leds_enable = 0;
    r.WTG_enable = 0;
    r.U1U2_enable = 0;
    r.low_power_mode_enable = 0;
    r._2TB_enable = 0;
    r.slow_enumeration_enable = 0;
    r.LPIfIdle = 0;
    r.LPIfU3 = 3;
    r.PCIEASPM = 3;
    r.PCIESpeed = 3;
    r.PCIELane = 3;
}

void IniForceKeylessFields(IniRecord& r)
{
    r.USB4_ComponentID.set("FFFFFFFFFFF");
    r.USB4_MinorFWVersion.set("FF");
    IniResetDeviceOptions(r);
    r.USB4_20G = 1;
    r.USB4_X2 = 1;
    r.USB4_CLx = 3;
}

std::string IniFormatText(const IniRecord& record, const IniProfile& profile)
{
    std::string out;
    out.reserve(4096);
    for (const IniLayoutLine& line : profile.layout) {
        switch (line.eKind) {
        case EIniLineKind::eSection:
        case EIniLineKind::eComment:
            out += line.pszText;
            out += "\r\n";
            break;
        case EIniLineKind::eBlank:
            out += "\r\n";
            break;
        case EIniLineKind::eKey: {
            const IniKey& key = *line.pKey;
            if (key.eStore == EIniStoreRule::eProfileVersion)
                vAppendNumber(out, key.pszName, profile.nVersion);
            else if (key.eStore == EIniStoreRule::eAlways12)
                vAppendNumber(out, key.pszName, 12);
            else if (key.eKind == EIniValueKind::eU8)
                vAppendNumber(out, key.pszName, record.*key.pucField);
            else if (key.eKind == EIniValueKind::eI32)
                vAppendNumber(out, key.pszName, record.*key.pnField);
            else
                vAppendLine(out, key.pszName, (record.*key.pText).view());
            break;
        }
        }
    }
    return out;
}

IniNumber IniParseNumber(std::string_view s)
{
    IniNumber n;
    size_t i = 0;
    while (i < s.size() && kBlanks.find(s[i]) != std::string_view::npos)
        ++i;
    bool bNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        bNegative = s[i++] == '-';
    const size_t nFirstDigit = i;
    int64_t llValue = 0;
    constexpr int64_t llLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        llValue = llValue * 10 + (s[i] - '0');
        if (llValue > llLimit) {
            llValue = llLimit + 1;  // stays beyond the range however many digits follow
            n.bOutOfRange = true;
        }
        ++i;
    }
    if (bNegative)
        llValue = -llValue;
    if (llValue > std::numeric_limits<int32_t>::max()) {
        llValue = std::numeric_limits<int32_t>::max();
        n.bOutOfRange = true;
    } else if (llValue < std::numeric_limits<int32_t>::min()) {
        llValue = std::numeric_limits<int32_t>::min();
        n.bOutOfRange = true;
    }
    n.nValue = static_cast<int32_t>(llValue);
    n.bClean = i > nFirstDigit && i == s.size() && !n.bOutOfRange;
    return n;
}

std::string IniPrintable(std::string_view strText, size_t nMax)
{
    std::string out;
    const bool bCut = strText.size() > nMax;
    for (char c : strText.substr(0, nMax))
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    if (bCut)
        out += "...";
    return out;
}
