#include <ostream>

#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/ChipCatalog.h"
#include "platform/bench/LinkLine.h"
#include "platform/bench/bridge/Images.h"
#include "tools/krvbench/Commands.h"

namespace krv::tool {

namespace {

std::string speedLines()
{
    std::string text;
    for (const auto& link : bench::allLinks())
        text += "                          " + std::string(link.name) + ": " + bench::speedNameList(link) +
                " (default " + std::string(link.defaultSpeed) + ")\n";
    return text;
}

std::string lineRateLines()
{
    std::string text;
    for (const auto& link : bench::allLinks()) {
        std::string rates;
        for (std::string_view speed : link.speeds)
            rates += (rates.empty() ? "" : ", ") + std::string(speed) + " " +
                     std::to_string(bench::linkPayloadMbps(link, speed));
        text += "                          " + std::string(link.name) + ": " + rates + "\n";
    }
    return text;
}

std::string chipLines()
{
    std::string text;
    for (auto family : {bench::ChipFamily::Krv857x, bench::ChipFamily::Krv752x, bench::ChipFamily::Krv6390}) {
        std::string names;
        for (const auto& chip : bench::allChips())
            if (chip.family == family)
                names += (names.empty() ? "" : ", ") + std::string(chip.name);
        text += "                          " + std::string(bench::familyName(family)) + ": " + names + "\n";
    }
    return text;
}

}  // namespace

std::string usageText()
{
    bench::PortSettings defaults;
    return "Usage: krvbench COMMAND DIR [OPTIONS]\n"
           "\n"
           "Creates, shows and changes an emulated KRV857x production bench kept in the\n"
           "folder DIR. A program run with KRV_BENCH=DIR owns that bench while it runs;\n"
           "krvbench then hands its changes to the program through the bench's inbox.\n"
           "\n"
           "Commands:\n"
           "  create DIR --ports N [OPTIONS]  make a new bench in DIR (a new or empty folder)\n"
           "  show DIR [--json]               print the bench: ports, devices, owner, time scale,\n"
           "                                  the USB tree, disks, partitions, volumes, files\n"
           "  plug DIR PORT [--no-wait]       plug the device on PORT (1..N, or usb-disk) in; also\n"
           "                                  brings back a device that dropped off or disconnected\n"
           "  unplug DIR PORT [--no-wait]     unplug the device on PORT (1..N, or usb-disk)\n"
           "  power-cycle DIR PORT [--no-wait]\n"
           "                                  cut and restore the power of the device on PORT: it\n"
           "                                  leaves the bus and comes back running its stored\n"
           "                                  firmware, PD controller and MCU included\n"
           "  fault DIR PORT KIND [COUNT] [OPTIONS]\n"
           "                                  make the device on PORT misbehave (below)\n"
           "  fault DIR PORT clear            take back every fault set on PORT\n"
           "  log DIR PORT                    print the commands the device on PORT received\n"
           "                                  and what happened to it, with bench milliseconds\n"
           "  help, --help, -h                print this text\n"
           "\n"
           "Options of create. A per-port option takes P=VALUE for port P, or VALUE for\n"
           "every port; a value for one port wins over a value for all:\n"
           "  --ports N               number of ports, 1.." + std::to_string(bench::kMaxPorts) + " (required)\n"
           "  --chip [P=]CHIP         the bridge, by family (default " + defaults.chip + "):\n" + chipLines() +
           "  --link [P=]LINK         how the drive reaches the host (default " + defaults.link + "):\n"
           "                          USB4 (PCIe tunnel), USB4-U3 (USB 3 tunnel), TBT3 (Thunderbolt 3),\n"
           "                          USB3, USB2; USB4, USB4-U3 and TBT3 need a KRV857x bridge\n"
           "  --speed [P=]SPEED       link speed, by link:\n" + speedLines() +
           "                          (x2 on USB3 needs a KRV857x or KRV752B bridge)\n"
           "  --disk-size [P=]SIZE    the drive's size: bytes, or a number with K, M, G or T\n"
           "                          (powers of 1024), " + bench::formatDiskSize(bench::kMinDiskSize) + ".." +
           bench::formatDiskSize(bench::kMaxDiskSize) + " (default " + bench::formatDiskSize(defaults.diskSize) + ")\n"
           "  --sector-size [P=]BYTES the drive's logical sector, 512 or 4096 (default 512)\n"
           "  --present [P=]yes|no    whether the device is plugged in at first (default yes)\n"
           "  --revision [P=]HEX      the chip revision byte (register C8FF), e.g. 10: bits 4-6\n"
           "                          the major revision (default: the chip's own)\n"
           "  --registers [P=]LIST    register values instead of the model's: ADDR:VALUE in\n"
           "                          hex, separated by commas, e.g. E795:00,C895:02\n"
           "  --cdrom [P=]yes|no      the device also shows a CD-ROM unit (default no)\n"
           "  --renumber [P=]yes|no|stale-name\n"
           "                          after a CPU reset it comes back under another drive\n"
           "                          number (default no: the lowest free one); stale-name:\n"
           "                          and its old PhysicalDrive name still leads to it\n"
           "  --relink-ms [P=]MS      bench ms from a CPU reset until it is back (default " +
           std::to_string(bench::kDefaultRelinkMs) + ")\n"
           "  --drop-ms [P=]MS        bench ms from a CPU reset until it leaves the bus (default 0)\n"
           "  --command-ms [P=]MS     bench ms each command and disk transfer takes before the\n"
           "                          device answers (default 0); one longer than the\n"
           "                          command's time-out times out\n"
           "  --link-mbps [P=]MBPS    the payload rate of its line to the host in Mbit/s, " +
           std::to_string(bench::kMinLinkMbps) + ".." + std::to_string(bench::kMaxLinkMbps) + ",\n"
           "                          as a slower cable or host port gives: every disk\n"
           "                          transfer takes its bytes' time at this rate (default:\n"
           "                          what the link carries at its speed, in Mbit/s):\n" + lineRateLines() +
           "  --disk-serial [P=]TEXT  the NVMe drive's own serial, up to 20 characters\n"
           "                          (default: one made from the port number)\n"
           "  --firmware [P=]VERSION  the firmware it starts with, twelve hex digits\n"
           "                          YYMMDDSSCCTT (default " + bench::formatFirmwareVersion(bench::kDefaultFirmwareVersion) + ")\n"
           "  --serial [P=]TEXT       the USB serial of its configuration (up to 20\n"
           "                          characters; empty: blank, the bridge then goes by its\n"
           "                          drive's serial)\n"
           "  --config [P=]FILE       its USB 3 configuration image, a 128-byte file (it holds\n"
           "                          the serial: not together with --serial for one port)\n"
           "  --usb4-config [P=]FILE  its USB4 configuration image, a 128-byte file (KRV857x)\n"
           "  --port-location [P=]LOC where it sits on the USB tree: CONTROLLER-PORT[.PORT...],\n"
           "                          e.g. 0-3 (root port 3) or 0-8.7.2 (port 2 of the hub on\n"
           "                          port 7 of the hub on root port 8); default: the next free\n"
           "                          port, root ports first, then the chained hubs'\n"
           "  --usb-strings [P=]MODE  its USB strings: normal, no-serial (no serial-number\n"
           "                          string), unreadable (string requests stall), no-languages\n"
           "                          (the language table stalls too) (default normal)\n"
           "  --usb-status [P=]STATUS how its port fares with it: connected, or a failure the\n"
           "                          host never gets past: failed-enumeration, general-failure,\n"
           "                          overcurrent, not-enough-power (default connected)\n"
           "  --usb-serial [P=]FORM   how the bridge writes its serial into its USB serial\n"
           "                          string: text, lower (lower case), hex (the hex digits\n"
           "                          of its bytes) (default text)\n"
           "  --unit-serial [P=]WHAT  its unit serial number (INQUIRY page 80): serial (the\n"
           "                          one it goes by), disk (its drive's), reversed, none\n"
           "                          (no such page) (default serial)\n"
           "  --storage-driver [P=]D  the host's driver for it: bot (disk named by the USB\n"
           "                          serial, which the storage descriptor reports) or uas\n"
           "                          (named by its place; the descriptor reports the unit\n"
           "                          serial; USB 3 links only) (default bot)\n"
           "  --storage-serial [P=]F  the host reports the descriptor's serial as text or\n"
           "                          hex (the hex digits of its bytes) (default text)\n"
           "  --bus-type [P=]BUS      the descriptor's bus type: usb (7), scsi (1), sata (11),\n"
           "                          spaces (16) (default usb)\n"
           "  --pd [P=]CHIP           its power-delivery controller: none, richtek, cypress,\n"
           "                          ccg3, ccg, ite (default none)\n"
           "  --mcu [P=]CHIP          the MCU beside it: none, stm (default none)\n"
           "  --volumes [P=]LIST      its disk arrives partitioned: [gpt:]FS[:SIZE[:LABEL]],...\n"
           "                          FS fat32 or raw, SIZE such as 64M or rest (the last only),\n"
           "                          e.g. fat32:1G:DATA,raw:rest; none for a blank disk\n"
           "                          (the default)\n"
           "\n"
           "Options of create for the bench as a whole:\n"
           "  --controllers N         USB host controllers, each with a root hub, 1.." + std::to_string(bench::kMaxControllers) + " (default 1)\n"
           "  --root-ports N          ports of every root hub (default 8)\n"
           "  --hubs N|auto           external hubs chained from the last root port of\n"
           "                          controller 0, each on the last port of the one before,\n"
           "                          0.." + std::to_string(bench::kMaxHubTiers) + "; auto: as many as the devices need (default auto:\n"
           "                          16 drives take the root hub and two chained hubs)\n"
           "  --hub-ports N           ports of every external hub (default 7)\n"
           "  --system-disk-size SIZE the system disk, PhysicalDrive0 (default " + bench::formatDiskSize(bench::kDefaultSystemDiskSize) + ")\n"
           "  --system-volumes LIST   its partitions, as --volumes (default fat32:rest:SYSTEM,\n"
           "                          the volume C:)\n"
           "  --usb-disk yes|no|SIZE  a USB flash disk without a bridge (default no; yes: " + bench::formatDiskSize(bench::kDefaultUsbDiskSize) + ")\n"
           "  --usb-disk-location LOC its place on the USB tree (default: the next free port)\n"
           "  --usb-disk-volumes LIST its partitions, as --volumes (default none)\n"
           "  --time-scale F          bench time runs F times faster than real time,\n"
           "                          " + bench::formatTimeScale(bench::kMinTimeScale) + ".." +
           bench::formatTimeScale(bench::kMaxTimeScale) + " (default 1)\n"
           "\n"
           "Options of show:\n"
           "  --json                  the whole state as JSON\n"
           "\n"
           "Options of plug, unplug and fault:\n"
           "  --no-wait               when a program owns the bench, queue the change and return\n"
           "                          at once; otherwise wait up to 10 s for the owner to apply it\n"
           "\n"
           "Faults. KIND is one of:\n"
           "  fail                    the command fails in transport (last error 1117)\n"
           "  check                   it ends with CHECK CONDITION (default sense 04/44/00)\n"
           "  timeout                 it takes its whole time-out, then fails (last error 121)\n"
           "  corrupt                 one byte of the data it brings in is inverted\n"
           "  drop                    the device drops off the bus and stays away until plugged\n"
           "                          in again: at once, or at the matching command\n"
           "  corrupt-store           a write to the EEPROM (configuration, firmware) is\n"
           "                          answered good, but one byte of what it stores is inverted\n"
           "  no-return               the next CPU reset (E8 50) is answered and the device\n"
           "                          leaves the bus, but never comes back until plugged in again\n"
           "  stuck                   its power-delivery controller or MCU never leaves flash\n"
           "                          mode: at its next COUNT power-ups, and an erase stays busy\n"
           "COUNT is how many commands it hits (default 1). Options of fault:\n"
           "  --cdb HEX               only commands whose CDB starts with these bytes, e.g. E250\n"
           "  --after N               let N matching commands through first\n"
           "  --byte N                corrupt, corrupt-store: the data byte to invert (default 0)\n"
           "  --sense KK/AA/QQ        check: sense key, ASC and ASCQ in hex\n"
           "  --offset N              only the disk's sector reads and writes (commands 88 and\n"
           "                          8A) over byte N of the disk (decimal, or hex with 0x);\n"
           "                          with --cdb 8A only writes\n"
           "  --files                 only the transfers of file data on the device's volumes\n"
           "                          (8A the file writes, 88 the reads); the sector reads and\n"
           "                          writes of the disk itself go by\n"
           "\n"
           "Exit status: 0 done; 1 the bench refused, or could not be read or written;\n"
           "2 bad command line; 3 queued for the bench's owner but not applied yet.\n";
}

int usageError(std::ostream& err, const std::string& message)
{
    err << "krvbench: " << message << "\nRun 'krvbench --help' for usage.\n";
    return exitcode::kUsage;
}

}  // namespace krv::tool
