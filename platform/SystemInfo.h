#pragma once
// What the system's code asks of the machine itself rather than of a device:
// the power schemes and which one is active (the state powercfg reads and
// changes), and the one-instance rule of the production tool.
//
// The power scheme is the machine's state, not the program's: a scheme set
// by one run stays active after it ends, as on the real machine. Scheme
// identifiers are compared ignoring case.
#include <cstdint>
#include <string>
#include <vector>

namespace krv {

// The processor and system version the machine reports, in the system's
// own codes: architecture 0 x86, 5 ARM, 6 Itanium, 9 x64, 12 ARM64, 0xFFFF
// unknown; product type 1 workstation.
struct ProcessorInfo {
    uint16_t architecture = 0xFFFF;
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint8_t productType = 1;
};

struct PowerScheme {
    std::string guid;   // "381b4222-f694-41f0-9685-ff5bb260df2e", lower case
    std::string name;   // "Balanced"
};

class SystemInfo {
public:
    virtual ~SystemInfo() = default;

    virtual std::vector<PowerScheme> powerSchemes() = 0;
    // The active scheme's identifier; empty when the machine has none.
    virtual std::string activePowerScheme() = 0;
    // False, with last error 2, when no scheme has that identifier.
    virtual bool setActivePowerScheme(const std::string& guid) = 0;

    // Claims the one instance of the program `name` on this machine (on the
    // bench: among the programs using that bench). True when this process
    // holds it now (a second claim of the holder succeeds again); false when
    // another holder has it. The claim lasts until this object goes, also
    // when the process ends without cleaning up.
    virtual bool claimProgramInstance(const std::string& name) = 0;

    // The machine the program runs on (ProcessorInfo.cpp): its kernel's
    // machine name and release.
    virtual ProcessorInfo processorInfo();
};

// A machine that reports no power schemes and cannot switch them, and shares
// nothing between programs: every instance claim succeeds.
class NoSystemInfo : public SystemInfo {
public:
    std::vector<PowerScheme> powerSchemes() override { return {}; }
    std::string activePowerScheme() override { return {}; }
    bool setActivePowerScheme(const std::string& guid) override;
    bool claimProgramInstance(const std::string&) override { return true; }
};

// True for the form "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (hex digits in
// either case), the only form a scheme identifier takes.
bool isPowerSchemeGuid(const std::string& text);

}  // namespace krv
