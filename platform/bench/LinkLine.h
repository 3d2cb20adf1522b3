#pragma once
// How fast the line between a port's drive and the host moves the data of a
// disk transfer. A real drive is only as fast as its link: a bridge on USB 2
// never moves more than about 40 MB/s however fast its NVMe drive is. Each
// port has one line; a transfer takes it for as long as its bytes need at
// the line's payload rate, after whatever the line still carries, and the
// caller is held on the bench clock until then.
#include <cstdint>
#include <string_view>

#include "platform/bench/BenchSettings.h"
#include "platform/bench/ChipCatalog.h"

namespace krv::bench {

// The payload rate, in Mbit/s, that `link` carries at `speed` (a canonical
// speed name of the link).
uint32_t linkPayloadMbps(const LinkModel& link, std::string_view speed);
// The port's line: its own link_mbps when set, else its link's rate at its
// speed; 0 for a port whose link or speed is unknown.
uint32_t portLineMbps(const PortSettings& port);

class LinkLine {
public:
    LinkLine() = default;
    explicit LinkLine(uint32_t mbps) : mbps_(mbps) {}

    // The bench time, in microseconds, at which a transfer of `bytes` handed
    // to the line at `nowUs` has crossed it. A line of 0 Mbit/s takes none.
    uint64_t carry(uint64_t nowUs, uint64_t bytes);

private:
    uint32_t mbps_ = 0;
    uint64_t freeAtUs_ = 0;   // when the line has carried everything handed to it
};

}  // namespace krv::bench
