#include <sys/utsname.h>

#include <cstdio>
#include <cstring>

#include "platform/SystemInfo.h"

namespace krv {

namespace {

uint16_t architectureOf(const char* machine)
{
    const struct {
        const char* prefix;
        uint16_t code;
    } kMachines[] = {
        {"x86_64", 9}, {"amd64", 9}, {"ia64", 6}, {"aarch64", 12}, {"arm64", 12}, {"arm", 5}, {"i386", 0},
        {"i486", 0},   {"i586", 0},  {"i686", 0},
    };
    for (const auto& m : kMachines)
        if (std::strncmp(machine, m.prefix, std::strlen(m.prefix)) == 0)
            return m.code;
    return 0xFFFF;
}

}  // namespace

ProcessorInfo SystemInfo::processorInfo()
{
    ProcessorInfo info;
    struct utsname name {};
    if (::uname(&name) != 0)
        return info;
    info.architecture = architectureOf(name.machine);
    unsigned major = 0, minor = 0;
    if (std::sscanf(name.release, "%u.%u", &major, &minor) >= 1) {
        info.majorVersion = major;
        info.minorVersion = minor;
    }
    return info;
}

}  // namespace krv
