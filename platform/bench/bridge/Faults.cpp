#include "platform/bench/bridge/Faults.h"

#include <charconv>
#include <cstdio>

#include "platform/bench/bridge/Images.h"

namespace krv::bench {

namespace {

struct KindName {
    FaultKind kind;
    std::string_view name;
};

constexpr KindName kKinds[] = {
    {FaultKind::Fail, "fail"},       {FaultKind::Check, "check"}, {FaultKind::Timeout, "timeout"},
    {FaultKind::Corrupt, "corrupt"}, {FaultKind::Drop, "drop"},       {FaultKind::NoReturn, "no-return"},
    {FaultKind::Stuck, "stuck"},
    {FaultKind::CorruptStore, "corrupt-store"},
};

// The command a no-return fault waits for: the CPU reset, E8 50.
bool isCpuReset(const uint8_t* cdb, size_t cdbLength) { return cdbLength >= 2 && cdb[0] == 0xE8 && cdb[1] == 0x50; }

bool parseNumber(std::string_view text, uint32_t& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string senseText(SenseCode sense)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X", sense.key, sense.asc, sense.ascq);
    return text;
}

bool parseSense(std::string_view text, SenseCode& sense)
{
    Bytes bytes;
    std::string digits;
    for (char c : text)
        if (c != '/')
            digits += c;
    if (text.size() != 8 || text[2] != '/' || text[5] != '/' || !fromHex(digits, bytes) || bytes.size() != 3)
        return false;
    sense = {bytes[0], bytes[1], bytes[2]};
    return true;
}

std::string spacedHex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    for (uint8_t b : bytes)
        text += (text.empty() ? "" : " ") + toHex(&b, 1);
    return text;
}

}  // namespace

std::string_view faultKindName(FaultKind kind)
{
    for (const auto& k : kKinds)
        if (k.kind == kind)
            return k.name;
    return "?";
}

bool parseFaultKind(std::string_view text, FaultKind& kind)
{
    for (const auto& k : kKinds)
        if (k.name == text) {
            kind = k.kind;
            return true;
        }
    return false;
}

std::map<std::string, std::string> faultFields(const Fault& fault)
{
    std::map<std::string, std::string> fields;
    fields["kind"] = std::string(faultKindName(fault.kind));
    fields["count"] = std::to_string(fault.count);
    if (fault.after)
        fields["after"] = std::to_string(fault.after);
    if (!fault.cdbPrefix.empty())
        fields["cdb"] = toHex(fault.cdbPrefix.data(), fault.cdbPrefix.size());
    if (fault.kind == FaultKind::Corrupt || fault.kind == FaultKind::CorruptStore)
        fields["byte"] = std::to_string(fault.byteIndex);
    if (fault.kind == FaultKind::Check)
        fields["sense"] = senseText(fault.sense);
    if (fault.offset)
        fields["offset"] = std::to_string(*fault.offset);
    if (fault.files)
        fields["files"] = "yes";
    return fields;
}

bool faultFromFields(const std::map<std::string, std::string>& fields, Fault& fault, std::string& why)
{
    Fault result;
    auto kind = fields.find("kind");
    if (kind == fields.end() || !parseFaultKind(kind->second, result.kind)) {
        why = "fault kind '" + (kind == fields.end() ? std::string() : kind->second) +
              "' is not one of fail, check, timeout, corrupt, drop, no-return, corrupt-store";
        return false;
    }
    for (const auto& [key, value] : fields) {
        if (key == "kind")
            continue;
        if (key == "count") {
            if (!parseNumber(value, result.count) || result.count == 0 || result.count > 1'000'000) {
                why = "fault count '" + value + "' is not a number 1..1000000";
                return false;
            }
        } else if (key == "after") {
            if (!parseNumber(value, result.after)) {
                why = "fault 'after' value '" + value + "' is not a whole number";
                return false;
            }
        } else if (key == "byte") {
            if (!parseNumber(value, result.byteIndex) || result.byteIndex >= 65536) {
                why = "fault byte '" + value + "' is not a byte index 0..65535";
                return false;
            }
        } else if (key == "cdb") {
            if (!fromHex(value, result.cdbPrefix) || result.cdbPrefix.empty() || result.cdbPrefix.size() > 16) {
                why = "fault CDB prefix '" + value + "' is not 1..16 bytes of hex";
                return false;
            }
        } else if (key == "offset") {
            uint64_t offset = 0;
            std::string_view v = value;
            int base = 10;
            if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
                v.remove_prefix(2);
                base = 16;
            }
            auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), offset, base);
            if (v.empty() || ec != std::errc() || end != v.data() + v.size()) {
                why = "fault offset '" + value + "' is not a byte offset (decimal, or hex with 0x)";
                return false;
            }
            result.offset = offset;
        } else if (key == "files") {
            if (value != "yes" && value != "no") {
                why = "fault 'files' value '" + value + "' is not yes or no";
                return false;
            }
            result.files = value == "yes";
        } else if (key == "sense") {
            if (!parseSense(value, result.sense)) {
                why = "fault sense '" + value + "' is not KK/AA/QQ in hex (such as 04/44/00)";
                return false;
            }
        } else {
            why = "unknown fault field '" + key + "'";
            return false;
        }
    }
    if (result.kind == FaultKind::Drop)
        result.count = 1;
    fault = std::move(result);
    return true;
}

std::string describeFault(const Fault& fault)
{
    std::string text(faultKindName(fault.kind));
    if (fault.kind != FaultKind::Drop && fault.count != 1)
        text += " x" + std::to_string(fault.count);
    if (fault.kind == FaultKind::Check)
        text += " sense " + senseText(fault.sense);
    if (fault.kind == FaultKind::Corrupt || fault.kind == FaultKind::CorruptStore)
        text += " byte " + std::to_string(fault.byteIndex);
    text += fault.cdbPrefix.empty() ? " on any command" : " on " + spacedHex(fault.cdbPrefix);
    if (fault.offset)
        text += " at disk byte " + std::to_string(*fault.offset);
    if (fault.files)
        text += " of file data";
    if (fault.after)
        text += " after " + std::to_string(fault.after);
    if (fault.immediate())
        text = "drop now";
    return text;
}

std::optional<Fault> FaultList::hit(const uint8_t* cdb, size_t cdbLength, bool bringsDataIn, bool sendsDataOut,
                                    std::optional<std::pair<uint64_t, uint64_t>> diskRange, bool fileData)
{
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        Fault& f = *it;
        if (f.files != fileData)
            continue;
        if (f.cdbPrefix.size() > cdbLength || !std::equal(f.cdbPrefix.begin(), f.cdbPrefix.end(), cdb))
            continue;
        if (f.offset && (!diskRange || *f.offset < diskRange->first ||
                         *f.offset - diskRange->first >= diskRange->second))
            continue;
        if (f.kind == FaultKind::Corrupt && !bringsDataIn)
            continue;
        if (f.kind == FaultKind::CorruptStore && (diskRange || !sendsDataOut))
            continue;
        if (f.kind == FaultKind::NoReturn && (diskRange || !isCpuReset(cdb, cdbLength)))
            continue;
        if (f.kind == FaultKind::Stuck)
            continue;
        if (f.after > 0) {
            --f.after;
            continue;
        }
        Fault applied = f;
        if (--f.count == 0)
            faults_.erase(it);
        return applied;
    }
    return std::nullopt;
}

std::optional<Fault> FaultList::hitEvent(FaultKind kind)
{
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->kind != kind)
            continue;
        Fault applied = *it;
        if (--it->count == 0)
            faults_.erase(it);
        return applied;
    }
    return std::nullopt;
}

std::string FaultList::format() const
{
    std::string text = "# Faults waiting on this device, in the order they hit (krvbench fault).\n";
    for (const Fault& f : faults_) {
        text += "fault =";
        for (const auto& [key, value] : faultFields(f))
            text += " " + key + "=" + value;
        text += "\n";
    }
    return text;
}

bool FaultList::parse(std::string_view text, std::string& why)
{
    std::vector<Fault> faults;
    int lineNo = 0;
    while (!text.empty()) {
        auto nl = text.find('\n');
        std::string_view line = trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        if (line.empty() || line.front() == '#')
            continue;
        auto eq = line.find('=');
        if (eq == std::string_view::npos || trim(line.substr(0, eq)) != "fault") {
            why = "line " + std::to_string(lineNo) + ": expected 'fault = kind=... count=...'";
            return false;
        }
        std::map<std::string, std::string> fields;
        std::string_view rest = trim(line.substr(eq + 1));
        while (!rest.empty()) {
            auto blank = rest.find(' ');
            std::string_view item = rest.substr(0, blank);
            rest = blank == std::string_view::npos ? std::string_view{} : trim(rest.substr(blank + 1));
            auto sep = item.find('=');
            if (sep == std::string_view::npos) {
                why = "line " + std::to_string(lineNo) + ": '" + std::string(item) + "' is not key=value";
                return false;
            }
            fields[std::string(item.substr(0, sep))] = std::string(item.substr(sep + 1));
        }
        Fault fault;
        if (!faultFromFields(fields, fault, why)) {
            why = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        }
        faults.push_back(std::move(fault));
    }
    faults_ = std::move(faults);
    return true;
}

}  // namespace krv::bench
