// The disk count the variant's reload reads as a registry value: its first
// byte, the view chosen by the processor architecture, and a zero for every
// way it cannot be read, on a machine whose disks and processor the test
// chooses.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/device/DeviceBenchSupport.h"
#include "device/USBUtility.h"
#include "platform/CaptureDebugOutput.h"
#include "platform/DeviceClasses.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"

namespace krv::test {
namespace {

class Disks : public DeviceSetup {
public:
    explicit Disks(int n) : n_(n) {}
    std::vector<DeviceNode> devices() override
    {
        std::vector<DeviceNode> nodes(1);
        nodes[0].instanceId = "HTREE\\ROOT\\0";
        for (int i = 0; i < n_; ++i) {
            DeviceNode disk;
            disk.instanceId = "SCSI\\DISK\\" + std::to_string(i);
            disk.classGuid = setupclass::kDiskDrive;
            nodes.push_back(disk);
        }
        return nodes;
    }
    std::unique_ptr<StorageHandle> openInterface(const std::string&) override { return nullptr; }

private:
    int n_;
};

class Processor : public NoSystemInfo {
public:
    explicit Processor(uint16_t architecture) : architecture_(architecture) {}
    ProcessorInfo processorInfo() override
    {
        ProcessorInfo info;
        info.architecture = architecture_;
        info.majorVersion = 10;
        return info;
    }

private:
    uint16_t architecture_;
};

struct Machine {
    Machine(int disks, uint16_t architecture) : platform("test", services(disks, architecture))
    {
        previous = Platform::currentOrNull();
        Platform::setCurrent(&platform);
    }
    ~Machine() { Platform::setCurrent(previous); }
    static PlatformServices services(int disks, uint16_t architecture)
    {
        PlatformServices s;
        s.clock = std::make_unique<VirtualClock>();
        s.debugOutput = std::make_unique<CaptureDebugOutput>();
        s.deviceSetup = std::make_unique<Disks>(disks);
        s.systemInfo = std::make_unique<Processor>(architecture);
        return s;
    }
    CaptureDebugOutput& capture() { return static_cast<CaptureDebugOutput&>(platform.debugOutput()); }

    Platform platform;
    Platform* previous = nullptr;
};

TEST(DiskRegisterCount, FirstByteOfTheCountOrZeroWithTheLineOfWhatFailed)
{
    const struct {
        const char* name;
        int disks;
        uint16_t architecture;
        RegistryRoot root;
        std::string keyPath;
        std::string valueName;
        uint8_t count;
        const char* line;
    } cases[] = {
        {"x64", 3, 9, RegistryRoot::LocalMachine, DISK_ENUM_KEY_PATH, "Count", 3, "_WIN64 ,  dwErrorCode:0"},
        {"low byte", 300, 9, RegistryRoot::LocalMachine, DISK_ENUM_KEY_PATH, "Count", 44, "_WIN64"},
        {"x86, names in any case", 2, 0, RegistryRoot::LocalMachine, "system\\currentcontrolset\\services\\disk\\enum",
         "COUNT", 2, "_WIN32 ,  dwErrorCode:0"},
        {"missing value", 3, 9, RegistryRoot::LocalMachine, DISK_ENUM_KEY_PATH, "Counter", 0,
         "RegQueryValueEx RootKey Fail , strKeyPath[System\\CurrentControlSet\\Services\\Disk\\Enum] "
         "strKeyName[Counter] bValueData[0], ErrorCode:2"},
        {"missing key", 3, 9, RegistryRoot::CurrentUser, DISK_ENUM_KEY_PATH, "Count", 0,
         "RegOpenKeyEx RootKey Fail"},
        {"no registry view for ARM64", 3, 12, RegistryRoot::LocalMachine, DISK_ENUM_KEY_PATH, "Count", 0,
         "RegQueryValueEx RootKey Fail"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine machine(c.disks, c.architecture);
        DebugLevel level{4};
        CUSBUtility utility;
        EXPECT_EQ(utility.GetDiskRegisterCount(c.root, c.keyPath, c.valueName), c.count);
        EXPECT_TRUE(machine.capture().contains(c.line)) << machine.capture().joined();
        EXPECT_TRUE(machine.capture().contains("wGetProcessorType: wProcessorArchitecture " +
                                               std::to_string(c.architecture)));
    }
}

}  // namespace
}  // namespace krv::test
