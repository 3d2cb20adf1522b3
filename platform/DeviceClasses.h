#pragma once
// The class identifiers the system's device code names: device-interface
// classes (what a device offers: a disk, a hub, a host controller...) and
// setup classes (what kind of device a node is, the first 38 characters of
// its driver key). Written out as the window system writes them, so that a
// driver key or a device path can be compared with them as text.
#include <optional>
#include <string>
#include <string_view>

#include "platform/Guid.h"

namespace krv {

namespace interfaceclass {
// {3ABF6F2D-71C4-462A-8A92-1E6861E6AF27}
inline constexpr Guid kUsbHostController{0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};
// {F18A0E88-C30C-11D0-8815-00A0C906BED8}
inline constexpr Guid kUsbHub{0xF18A0E88, 0xC30C, 0x11D0, {0x88, 0x15, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0xD8}};
// {A5DCBF10-6530-11D2-901F-00C04FB951ED}
inline constexpr Guid kUsbDevice{0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}
inline constexpr Guid kDisk{0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
// {53F56308-B6BF-11D0-94F2-00A0C91EFB8B}
inline constexpr Guid kCdRom{0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
// {53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}
inline constexpr Guid kVolume{0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
}  // namespace interfaceclass

namespace setupclass {
// {36FC9E60-C465-11CF-8056-444553540000}: USB controllers, hubs and devices
inline constexpr Guid kUsb{0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {4D36E967-E325-11CE-BFC1-08002BE10318}: disk drives
inline constexpr Guid kDiskDrive{0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// {4D36E965-E325-11CE-BFC1-08002BE10318}: CD-ROM drives
inline constexpr Guid kCdRom{0x4D36E965, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// {745A17A0-74D3-11D0-B6FE-00A0C90F57DA}: human interface devices
inline constexpr Guid kHid{0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};
// {4D36E97D-E325-11CE-BFC1-08002BE10318}: system devices (PCI bridges, the root)
inline constexpr Guid kSystem{0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// {4D36E97B-E325-11CE-BFC1-08002BE10318}: storage controllers (NVMe, SATA)
inline constexpr Guid kScsiAdapter{0x4D36E97B, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
}  // namespace setupclass

// "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}" (upper case) or, with
// `lowerCase`, as driver keys and device paths carry it.
std::string guidText(const Guid& guid, bool lowerCase = false);
// Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in either case; none on
// anything else.
std::optional<Guid> parseGuid(std::string_view text);

}  // namespace krv
