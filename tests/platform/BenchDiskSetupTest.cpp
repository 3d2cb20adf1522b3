// The bench's disks as the device-setup service and the storage queries show
// them: which node a disk hangs from, its bus, its texts and number, the
// serial inside its names; the system disk and a USB disk without a bridge
// beside the bridges' drives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/bench/BenchLayout.h"
#include "tests/platform/BenchBridgeSupport.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

bench::BenchSettings mixed()
{
    bench::BenchSettings s;
    s.ports.resize(3);
    s.ports[1].link = "USB4";  // the NVMe drive on a PCIe tunnel
    s.ports[2].cdrom = true;
    s.usbDisk = bench::UsbDiskSettings{};
    return s;
}

const DeviceNode* byInstance(const std::vector<DeviceNode>& nodes, const std::string& id)
{
    for (const auto& n : nodes)
        if (n.instanceId == id)
            return &n;
    return nullptr;
}

struct Disk {
    const DeviceNode* node = nullptr;
    std::string path;
    StorageDeviceNumber number;
    StorageDeviceDescriptor descriptor;
};

// Every disk interface, opened and asked as the disk matching does.
std::vector<Disk> disks(const std::vector<DeviceNode>& nodes)
{
    std::vector<Disk> list;
    for (const auto& n : nodes)
        for (const auto& i : n.interfaces)
            if (i.interfaceClass == interfaceclass::kDisk) {
                Disk d;
                d.node = &n;
                d.path = i.devicePath;
                auto h = Platform::current().deviceSetup().openInterface(i.devicePath);
                EXPECT_TRUE(h && h->deviceNumber(d.number) && h->deviceDescriptor(d.descriptor)) << i.devicePath;
                list.push_back(d);
            }
    std::sort(list.begin(), list.end(), [](const Disk& a, const Disk& b) {
        return a.number.deviceNumber < b.number.deviceNumber;
    });
    return list;
}

// The serial the system finds in a disk interface's path: between the second
// and the last '#', without its last two characters, upper case.
std::string pathSerial(const std::string& path)
{
    size_t first = path.find('#'), second = path.find('#', first + 1), last = path.rfind('#');
    std::string text = path.substr(second + 1, last - second - 1);
    text = text.substr(0, text.size() - 2);
    for (auto& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST(BenchDiskSetup, EveryDiskWithItsBusParentAndTexts)
{
    BenchFixture bench(mixed());
    std::vector<DeviceNode> nodes = Platform::current().deviceSetup().devices();
    ASSERT_FALSE(nodes.empty());
    EXPECT_EQ(nodes.front().instanceId, "HTREE\\ROOT\\0");
    std::vector<Disk> list = disks(nodes);
    ASSERT_EQ(list.size(), 5u) << "system disk, three bridges, the USB disk";

    const Disk& system = list[0];
    EXPECT_EQ(system.number.deviceNumber, 0u);
    EXPECT_EQ(system.descriptor.busType, bustype::kSata);
    EXPECT_EQ(system.descriptor.vendorId, "ATA     ");
    EXPECT_EQ(byInstance(nodes, system.node->parentInstanceId)->description, "Standard SATA AHCI Controller");

    for (int port : {1, 3}) {
        const Disk& d = list[static_cast<size_t>(bench.physicalDrive(port))];
        SCOPED_TRACE("port " + std::to_string(port));
        std::string serial = "KRVBENCH00000000000" + std::to_string(port);
        EXPECT_EQ(d.descriptor.busType, bustype::kUsb);
        EXPECT_EQ(d.descriptor.serialNumber, serial);
        EXPECT_EQ(d.descriptor.vendorId, "KRV     ");
        EXPECT_EQ(d.descriptor.productId, "Bench Drive     ");
        EXPECT_EQ(d.number.deviceType, devicetype::kDisk);
        EXPECT_EQ(d.node->classGuid, setupclass::kDiskDrive);
        EXPECT_EQ(d.node->driverKey.substr(0, 38), "{4d36e967-e325-11ce-bfc1-08002be10318}");
        EXPECT_EQ(d.node->instanceId.substr(d.node->instanceId.rfind('\\') + 1), serial + "&0");
        EXPECT_EQ(pathSerial(d.path), serial);
        const DeviceNode* usb = byInstance(nodes, d.node->parentInstanceId);
        ASSERT_TRUE(usb);
        EXPECT_EQ(usb->instanceId, "USB\\VID_2C4B&PID_8574\\" + serial);
        EXPECT_EQ(usb->classGuid, setupclass::kUsb);
        EXPECT_EQ(usb->service, "USBSTOR");
    }

    const Disk& nvme = list[static_cast<size_t>(bench.physicalDrive(2))];
    EXPECT_EQ(nvme.descriptor.busType, bustype::kNvme);
    EXPECT_EQ(nvme.descriptor.serialNumber, "KRVNVME0000000000002");
    EXPECT_NE(byInstance(nodes, nvme.node->parentInstanceId)->instanceId.find("PCI\\VEN_2C4B&DEV_8574"), std::string::npos);

    const Disk& flash = list.back();
    EXPECT_EQ(flash.descriptor.busType, bustype::kUsb);
    EXPECT_TRUE(flash.descriptor.removableMedia);
    EXPECT_EQ(flash.descriptor.serialNumber, "BM20240601A0C3F9");
    auto d = openDrive(static_cast<int>(flash.number.deviceNumber));
    ASSERT_TRUE(d);
    Answer a = inquiry(*d);
    ASSERT_TRUE(a.good());
    EXPECT_EQ(chipText(a), "0000") << "no bridge behind it";

    // The CD-ROM unit of port 3 beside its disk, under the same USB device.
    bool cdrom = false;
    for (const auto& n : nodes)
        for (const auto& i : n.interfaces)
            if (i.interfaceClass == interfaceclass::kCdRom) {
                auto h = Platform::current().deviceSetup().openInterface(i.devicePath);
                StorageDeviceNumber number;
                ASSERT_TRUE(h && h->deviceNumber(number));
                EXPECT_EQ(number.deviceType, devicetype::kCdRom);
                EXPECT_EQ(static_cast<int>(number.deviceNumber), bench.cdrom(3));
                EXPECT_EQ(n.parentInstanceId, list[3].node->parentInstanceId);
                cdrom = true;
            }
    EXPECT_TRUE(cdrom);
}

TEST(BenchDiskSetup, HandlesAnswerForTheDeviceTheyOpenedOnly)
{
    bench::BenchSettings s;
    s.ports.resize(1);
    BenchFixture bench(s);
    std::vector<DeviceNode> nodes = Platform::current().deviceSetup().devices();
    std::string usbPath, diskPath;
    for (const auto& n : nodes)
        for (const auto& i : n.interfaces) {
            if (i.interfaceClass == interfaceclass::kUsbDevice)
                usbPath = i.devicePath;
            if (i.interfaceClass == interfaceclass::kDisk && n.enumeratorName == "USBSTOR")
                diskPath = i.devicePath;
        }
    auto usb = Platform::current().deviceSetup().openInterface(usbPath);
    ASSERT_TRUE(usb) << "a USB device interface opens";
    StorageDeviceNumber number;
    setLastError(0);
    EXPECT_FALSE(usb->deviceNumber(number));
    EXPECT_EQ(lastError(), winerr::kInvalidFunction) << "but it is no storage";
    std::string upper = diskPath;
    for (auto& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto disk = Platform::current().deviceSetup().openInterface(upper);
    ASSERT_TRUE(disk) << "paths are compared ignoring case";
    auto drive = openDrive(1);
    ASSERT_TRUE(drive && drive->deviceNumber(number));
    EXPECT_EQ(number.deviceNumber, 1u);

    ASSERT_TRUE(bench.unplug(1));
    EXPECT_FALSE(disk->deviceNumber(number));
    EXPECT_EQ(lastError(), winerr::kDeviceNotConnected);
    EXPECT_FALSE(drive->deviceNumber(number));
    EXPECT_EQ(lastError(), winerr::kDeviceNotConnected);
    EXPECT_FALSE(Platform::current().deviceSetup().openInterface(diskPath));
    EXPECT_EQ(lastError(), winerr::kFileNotFound);
    ASSERT_TRUE(bench.plug(1));
    EXPECT_FALSE(disk->deviceNumber(number)) << "the old handle does not follow the device back";
}

TEST(BenchDiskSetup, TheHostsDriverAndTheBridgeShapeTheSerialsOfADisk)
{
    auto hex = [](const std::string& text) {
        std::string out;
        for (unsigned char c : text) {
            char two[3];
            std::snprintf(two, sizeof two, "%02X", c);
            out += two;
        }
        return out;
    };
    struct Case {
        const char* what;
        void (*set)(bench::PortSettings&);
        std::string instanceSerial;   // after the last backslash; empty: named by its place
        std::optional<std::string> storageSerial;
        uint32_t bus;
    } cases[] = {
        {"as it comes", [](bench::PortSettings&) {}, "KRVBENCH000000000001&0", "KRVBENCH000000000001", 7},
        {"lower-case USB serial", [](bench::PortSettings& p) { p.usbSerial = bench::UsbSerialForm::Lower; },
         "krvbench000000000002&0", "krvbench000000000002", 7},
        {"USB serial in hex", [](bench::PortSettings& p) { p.usbSerial = bench::UsbSerialForm::Hex; },
         hex("KRVBENCH000000000003") + "&0", hex("KRVBENCH000000000003"), 7},
        {"storage serial reported in hex",
         [](bench::PortSettings& p) { p.storageSerial = bench::StorageSerialForm::Hex; }, "KRVBENCH000000000004&0",
         hex("KRVBENCH000000000004"), 7},
        {"UAS: the unit serial", [](bench::PortSettings& p) { p.storageDriver = bench::StorageDriver::Uas; }, "",
         "KRVBENCH000000000005", 7},
        {"UAS without a unit serial",
         [](bench::PortSettings& p) {
             p.storageDriver = bench::StorageDriver::Uas;
             p.unitSerial = bench::UnitSerial::None;
         },
         "", std::nullopt, 7},
        {"UAS with the drive's serial, in hex",
         [](bench::PortSettings& p) {
             p.storageDriver = bench::StorageDriver::Uas;
             p.unitSerial = bench::UnitSerial::Disk;
             p.storageSerial = bench::StorageSerialForm::Hex;
         },
         "", hex("KRVNVME0000000000007"), 7},
        {"Storage Spaces bus", [](bench::PortSettings& p) { p.busType = bench::StorageBus::Spaces; },
         "KRVBENCH000000000008&0", "KRVBENCH000000000008", 16},
    };
    bench::BenchSettings s;
    s.ports.resize(std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
        cases[i].set(s.ports[i]);
    BenchFixture bench(s);
    const std::vector<DeviceNode> nodes = Platform::current().deviceSetup().devices();
    const std::vector<Disk> list = disks(nodes);
    ASSERT_EQ(list.size(), std::size(cases) + 1);  // and the system disk
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        const Disk& d = list[i + 1];
        ASSERT_EQ(d.number.deviceNumber, i + 1);
        const std::string& id = d.node->instanceId;
        const bool uas = c.instanceSerial.empty();
        EXPECT_EQ(id.rfind(uas ? "SCSI\\Disk&Ven_KRV&Prod_Bench_Drive\\7&" : "USBSTOR\\Disk&", 0), 0u) << id;
        if (!uas)
            EXPECT_EQ(id.substr(id.rfind('\\') + 1), c.instanceSerial);
        EXPECT_EQ(byInstance(nodes, d.node->parentInstanceId)->service, uas ? "UASPStor" : "USBSTOR");
        EXPECT_EQ(d.descriptor.serialNumber, c.storageSerial);
        EXPECT_EQ(d.descriptor.busType, c.bus);
    }
}

TEST(BenchDiskSetup, ASerialLessDeviceIsNamedByWhereItSits)
{
    bench::BenchSettings s;
    s.ports.resize(2);
    s.ports[1].usbStrings = bench::UsbStrings::NoSerial;
    BenchFixture bench(s);
    std::vector<std::string> usb, where;
    for (const auto& n : Platform::current().deviceSetup().devices())
        if (n.service == "USBSTOR") {
            usb.push_back(n.instanceId);
            where.push_back(n.locationInformation);
        }
    EXPECT_EQ(where, (std::vector<std::string>{"Port_#0001.Hub_#0001", "Port_#0002.Hub_#0001"}));
    ASSERT_EQ(usb.size(), 2u);
    EXPECT_EQ(usb[0], "USB\\VID_2C4B&PID_8574\\KRVBENCH000000000001");
    EXPECT_EQ(usb[1].find("KRVBENCH"), std::string::npos) << usb[1];
    EXPECT_EQ(usb[1].substr(usb[1].size() - 2), "&2") << "ends in its port";
}

}  // namespace
}  // namespace krv::test
