#include <ostream>

#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/ChipCatalog.h"
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
           "  show DIR [--json]               print the bench: ports, devices, owner, time scale\n"
           "  plug DIR PORT [--no-wait]       plug the device on PORT (1..N) in\n"
           "  unplug DIR PORT [--no-wait]     unplug the device on PORT\n"
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
           "  --present [P=]yes|no    whether the device is plugged in at first (default yes)\n"
           "  --time-scale F          bench time runs F times faster than real time,\n"
           "                          " + bench::formatTimeScale(bench::kMinTimeScale) + ".." +
           bench::formatTimeScale(bench::kMaxTimeScale) + " (default 1)\n"
           "\n"
           "Options of show:\n"
           "  --json                  the whole state as JSON\n"
           "\n"
           "Options of plug and unplug:\n"
           "  --no-wait               when a program owns the bench, queue the change and return\n"
           "                          at once; otherwise wait up to 10 s for the owner to apply it\n"
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
