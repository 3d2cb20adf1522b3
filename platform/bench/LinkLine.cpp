#include "platform/bench/LinkLine.h"

#include <algorithm>

namespace krv::bench {

namespace {

// What a line carries of its signalling rate as disk data, in Mbit/s (1 MB/s
// is 8 Mbit/s). The figures are what drives of this kind reach in sequential
// transfers of a few hundred KiB and more, not the line's raw rate: a link
// loses its line coding (8b/10b on USB 2 and USB 3 Gen1, 128b/132b on Gen2 and
// USB4), its packet and protocol overhead, and the bridge's own turnaround.
//
//   USB 2 Full Speed, 12 Mbit/s:                  ~1 MB/s          8
//   USB 2 High Speed, 480 Mbit/s:                 ~40 MB/s       320
//   USB 3 Gen1x1, 5 Gbit/s (500 MB/s coded):      ~450 MB/s     3600
//   USB 3 Gen1x2, 10 Gbit/s (1000 MB/s coded):    ~850 MB/s     6800
//   USB 3 Gen2x1, 10 Gbit/s (1212 MB/s coded):    ~1050 MB/s    8400
//   USB 3 Gen2x2, 20 Gbit/s (2424 MB/s coded):    ~2000 MB/s   16000
//
// A PCIe tunnel (USB4, Thunderbolt 3) carries the bridge's PCIe traffic in
// the USB4 link's bandwidth:
//   Gen2x1, 10 Gbit/s:                            ~900 MB/s     7200
//   Gen2x2 and Gen3x1, 20 Gbit/s:                 ~1800 MB/s   14400
//   Gen3x2, 40 Gbit/s:                            ~3200 MB/s   25600
//   Thunderbolt 3 at 40 Gbit/s: hosts give PCIe
//   at most 22 Gbit/s of it:                      ~2750 MB/s   22000
// A USB 3 tunnel (USB4-U3) carries a USB 3 Gen2 link inside the USB4 one:
// Gen2x1 speed at most, and less on a 10 Gbit/s USB4 link that also carries
// the tunnel's own framing:                       ~900 MB/s     7200
struct Rate {
    LinkKind kind;
    std::string_view speed;
    uint32_t mbps;
};

constexpr Rate kRates[] = {
    {LinkKind::Usb2, "Full", 8},
    {LinkKind::Usb2, "High", 320},
    {LinkKind::Usb3, "Gen1x1", 3600},
    {LinkKind::Usb3, "Gen1x2", 6800},
    {LinkKind::Usb3, "Gen2x1", 8400},
    {LinkKind::Usb3, "Gen2x2", 16000},
    {LinkKind::Usb4PcieTunnel, "Gen2x1", 7200},
    {LinkKind::Usb4PcieTunnel, "Gen2x2", 14400},
    {LinkKind::Usb4PcieTunnel, "Gen3x1", 14400},
    {LinkKind::Usb4PcieTunnel, "Gen3x2", 25600},
    {LinkKind::Tbt3, "Gen2x1", 7200},
    {LinkKind::Tbt3, "Gen2x2", 14400},
    {LinkKind::Tbt3, "Gen3x1", 14400},
    {LinkKind::Tbt3, "Gen3x2", 22000},
    {LinkKind::Usb4UsbTunnel, "Gen2x1", 7200},
    {LinkKind::Usb4UsbTunnel, "Gen2x2", 8400},
    {LinkKind::Usb4UsbTunnel, "Gen3x1", 8400},
    {LinkKind::Usb4UsbTunnel, "Gen3x2", 8400},
};

}  // namespace

uint32_t linkPayloadMbps(const LinkModel& link, std::string_view speed)
{
    for (const Rate& rate : kRates)
        if (rate.kind == link.kind && rate.speed == speed)
            return rate.mbps;
    return 0;
}

uint32_t portLineMbps(const PortSettings& port)
{
    if (port.linkMbps)
        return port.linkMbps;
    const LinkModel* link = findLink(port.link);
    if (!link)
        return 0;
    return linkPayloadMbps(*link, port.speed.empty() ? link->defaultSpeed : findSpeed(*link, port.speed));
}

uint64_t LinkLine::carry(uint64_t nowUs, uint64_t bytes)
{
    if (!mbps_)
        return nowUs;
    // Mbit/s is bits per microsecond: bytes x 8 / mbps microseconds, rounded up.
    const uint64_t takesUs = (bytes * 8 + mbps_ - 1) / mbps_;
    freeAtUs_ = std::max(nowUs, freeAtUs_) + takesUs;
    return freeAtUs_;
}

}  // namespace krv::bench
