#include "platform/bench/ChipCatalog.h"

#include <cctype>
#include <cstdio>

namespace krv::bench {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

template <typename List>
std::string joinNames(const List& items)
{
    std::string text;
    for (const auto& item : items) {
        if (!text.empty())
            text += ", ";
        text += item.name;
    }
    return text;
}

bool isUsb4Family(LinkKind kind)
{
    return kind == LinkKind::Usb4PcieTunnel || kind == LinkKind::Usb4UsbTunnel || kind == LinkKind::Tbt3;
}

}  // namespace

std::string_view familyName(ChipFamily family)
{
    switch (family) {
    case ChipFamily::Krv857x: return "KRV857x";
    case ChipFamily::Krv752x: return "KRV752x";
    case ChipFamily::Krv6390: return "KRV6390";
    }
    return "?";
}

const std::vector<ChipModel>& allChips()
{
    // The KRV857x members are the PCIe device IDs the tool recognises; the
    // KRV752x members are the two revisions it tells apart ("752A", "752B");
    // KRV419x bridges speak the KRV6390 command set.
    // Shipped revisions: the KRV857x parts are major revision 1 ("857B"),
    // the KRV752x revision is its name, the KRV6390 is an "A" and the KRV419x
    // an "E" part. Only the NVMe bridges answer NVMe Identify, and only the
    // KRV857x keeps a SHA-256 key.
    static const std::vector<ChipModel> chips = {
        {"KRV8571", ChipFamily::Krv857x, 0x8571, true, 0x10, -1, true, true},
        {"KRV8572", ChipFamily::Krv857x, 0x8572, true, 0x10, -1, true, true},
        {"KRV8573", ChipFamily::Krv857x, 0x8573, true, 0x10, -1, true, true},
        {"KRV8574", ChipFamily::Krv857x, 0x8574, true, 0x10, -1, true, true},
        {"KRV8575", ChipFamily::Krv857x, 0x8575, true, 0x10, -1, true, true},
        {"KRV752A", ChipFamily::Krv752x, 0, false, 0x00, 0, true, false},
        {"KRV752B", ChipFamily::Krv752x, 0, true, 0x10, 1, true, false},
        {"KRV6390", ChipFamily::Krv6390, 0, false, 0x00, -1, false, false},
        {"KRV419x", ChipFamily::Krv6390, 0, false, 0x50, -1, false, false},
    };
    return chips;
}

const std::vector<LinkModel>& allLinks()
{
    static const std::vector<LinkModel> links = {
        {"USB4", LinkKind::Usb4PcieTunnel, "Gen3x2", {"Gen2x1", "Gen2x2", "Gen3x1", "Gen3x2"}, 2},
        {"USB4-U3", LinkKind::Usb4UsbTunnel, "Gen3x2", {"Gen2x1", "Gen2x2", "Gen3x1", "Gen3x2"}, 3},
        {"TBT3", LinkKind::Tbt3, "Gen3x2", {"Gen2x1", "Gen2x2", "Gen3x1", "Gen3x2"}, 1},
        {"USB3", LinkKind::Usb3, "Gen2x1", {"Gen1x1", "Gen1x2", "Gen2x1", "Gen2x2"}, 0},
        {"USB2", LinkKind::Usb2, "High", {"High", "Full"}, 0},
    };
    return links;
}

const ChipModel* findChip(std::string_view name)
{
    for (const auto& chip : allChips())
        if (sameIgnoringCase(chip.name, name))
            return &chip;
    return nullptr;
}

const LinkModel* findLink(std::string_view name)
{
    for (const auto& link : allLinks())
        if (sameIgnoringCase(link.name, name))
            return &link;
    return nullptr;
}

std::string_view findSpeed(const LinkModel& link, std::string_view speed)
{
    for (auto s : link.speeds)
        if (sameIgnoringCase(s, speed))
            return s;
    return {};
}

std::string chipNameList() { return joinNames(allChips()); }
std::string linkNameList() { return joinNames(allLinks()); }

std::string speedNameList(const LinkModel& link)
{
    std::string text;
    for (auto s : link.speeds) {
        if (!text.empty())
            text += ", ";
        text += s;
    }
    return text;
}

std::string linkRefusal(const ChipModel& chip, const LinkModel& link)
{
    if (isUsb4Family(link.kind) && chip.family != ChipFamily::Krv857x)
        return "link " + std::string(link.name) + " needs a KRV857x bridge; " + std::string(chip.name) + " is a " +
               std::string(familyName(chip.family)) + " bridge (USB3 or USB2 only)";
    return {};
}

std::string speedRefusal(const ChipModel& chip, const LinkModel& link, std::string_view speed)
{
    bool pair = speed.size() >= 2 && speed.substr(speed.size() - 2) == "x2";
    if (link.kind == LinkKind::Usb3 && pair && !chip.lanePairs)
        return std::string(chip.name) + " runs USB3 on one lane only (Gen1x1 or Gen2x1), not " + std::string(speed);
    return {};
}

std::string revisionRefusal(const ChipModel& chip, uint8_t revision)
{
    int major = (revision >> 4) & 7;
    if (chip.fixedMajorRevision >= 0 && major != chip.fixedMajorRevision) {
        char text[8];
        std::snprintf(text, sizeof text, "%02X", revision);
        return "revision " + std::string(text) + " has major revision " + std::to_string(major) + ", but a " +
               std::string(chip.name) + " is major revision " + std::to_string(chip.fixedMajorRevision) +
               " (bits 4-6 of the revision byte)";
    }
    return {};
}

ChipIdentity identityOf(const ChipModel& chip, const LinkModel& link)
{
    ChipIdentity id;
    switch (chip.family) {
    case ChipFamily::Krv857x:
        // The bridge is a PCIe function when USB4 or Thunderbolt tunnels PCIe;
        // otherwise a USB storage device whose INQUIRY tells legacy USB 3 from
        // the USB 3 tunnel of a USB4 link.
        if (link.kind == LinkKind::Usb4PcieTunnel || link.kind == LinkKind::Tbt3) {
            id.pcieVendorId = kPcieVendorId;
            id.pcieDeviceId = chip.pcieDeviceId;
        } else {
            id.inquiry = link.kind == LinkKind::Usb4UsbTunnel ? "8576" : "8574";
        }
        break;
    case ChipFamily::Krv752x: id.inquiry = "7520"; break;
    case ChipFamily::Krv6390: id.inquiry = "6390"; break;
    }
    return id;
}

}  // namespace krv::bench
