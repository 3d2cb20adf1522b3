#include "platform/bench/BenchPcie.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/LastError.h"
#include "platform/bench/ChipCatalog.h"

namespace krv::bench {

namespace {

using Space = std::array<uint8_t, BenchPcieFabric::kConfigSize>;

// The host's own parts and the drives behind the bridges carry IDs of
// makers that have nothing to do with the bridge.
constexpr uint16_t kHostVendor = 0x1B36;
constexpr uint16_t kDriveVendor = 0x1D79;

constexpr uint16_t kMailboxWindow = 0x700;
constexpr uint16_t kMailboxBlock = 0x780;
constexpr uint16_t kMailboxBlockEnd = 0x788;
constexpr uint16_t kChipIdOffset = 0x788;
constexpr uint16_t kDoorbell = 0x790;
constexpr size_t kChunk = 128;
constexpr uint8_t kRing = 0x5A;
constexpr uint8_t kDone = 0xA5;
constexpr uint8_t kFailed = 0xEE;
constexpr uint32_t kInvalidAddress = 487;  // the driver's answer where no memory is

// PCI Express port types (capabilities register bits 4-7).
constexpr uint8_t kEndpoint = 0, kRootPort = 4, kUpstreamPort = 5, kDownstreamPort = 6;

void put16(Space& s, size_t at, uint16_t v)
{
    s[at] = uint8_t(v);
    s[at + 1] = uint8_t(v >> 8);
}

// A header with the power-management capability at 0x40 and the PCI
// Express capability at 0x80, as every PCIe function carries them.
Space header(uint16_t vendor, uint16_t device, uint32_t classCode, uint8_t headerType, int portType)
{
    Space s{};
    put16(s, 0x00, vendor);
    put16(s, 0x02, device);
    put16(s, 0x04, 0x0006);
    s[0x08] = 0x01;
    s[0x09] = uint8_t(classCode);
    s[0x0A] = uint8_t(classCode >> 8);
    s[0x0B] = uint8_t(classCode >> 16);
    s[0x0E] = headerType;
    if (portType < 0)
        return s;  // a plain PCI function: no capability list
    put16(s, 0x06, 0x0010);
    s[0x34] = 0x40;
    s[0x40] = 0x01;  // power management
    s[0x41] = 0x80;
    put16(s, 0x42, 0x0003);
    s[0x80] = 0x10;  // PCI Express
    s[0x81] = 0x00;
    put16(s, 0x82, uint16_t(0x0002 | portType << 4));
    return s;
}

Space bridgeHeader(uint16_t vendor, uint16_t device, int portType, uint8_t primary, uint8_t secondary,
                   uint8_t subordinate)
{
    Space s = header(vendor, device, 0x060400, 0x01, portType);
    s[0x18] = primary;
    s[0x19] = secondary;
    s[0x1A] = subordinate;
    return s;
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

}  // namespace

BenchPcieFabric::BenchPcieFabric(std::shared_ptr<BenchDevices> devices, const std::vector<PortSettings>& ports)
    : devices_(std::move(devices))
{
    add(0, 0, 0, 0, header(kHostVendor, 0x0008, 0x060000, 0x00, -1), false);
    add(0, 0x1F, 0, 0, header(kHostVendor, 0x0010, 0x060100, 0x80, -1), false);
    add(0, 0x1F, 3, 0, header(kHostVendor, 0x0012, 0x0C0500, 0x00, -1), false);
    int k = 0;
    for (size_t i = 0; i < ports.size() && k < 16; ++i) {
        const ChipModel* chip = findChip(ports[i].chip);
        const LinkModel* link = findLink(ports[i].link);
        if (!chip || !link)
            continue;
        ChipIdentity id = identityOf(*chip, *link);
        if (!id.pcieDeviceId)
            continue;
        const int port = static_cast<int>(i) + 1;
        const uint8_t bus = uint8_t(2 + 4 * k);
        add(0, uint8_t(1 + k), 0, 0, bridgeHeader(kHostVendor, 0x000C, kRootPort, 0, bus, uint8_t(bus + 2)), false);
        Space up = bridgeHeader(id.pcieVendorId.value_or(kPcieVendorId), *id.pcieDeviceId, kUpstreamPort, bus,
                                uint8_t(bus + 1), uint8_t(bus + 2));
        put16(up, kChipIdOffset, chip->pcieDeviceId);
        add(bus, 0, 0, port, up, true);
        add(uint8_t(bus + 1), 0, 0, port,
            bridgeHeader(id.pcieVendorId.value_or(kPcieVendorId), *id.pcieDeviceId, kDownstreamPort, uint8_t(bus + 1),
                         uint8_t(bus + 2), uint8_t(bus + 2)),
            false);
        add(uint8_t(bus + 2), 0, 0, port, header(kDriveVendor, 0x2263, 0x010802, 0x00, kEndpoint), false);
        upstreamBus_[port] = bus;
        ++k;
    }
}

void BenchPcieFabric::add(uint8_t bus, uint8_t device, uint8_t function, int port, Space space, bool mailbox)
{
    Function f;
    f.port = port;
    f.mailbox = mailbox;
    f.initial = space;
    f.space = space;
    functions_[key(bus, device, function)] = std::move(f);
}

void BenchPcieFabric::setEcamBase(uint64_t base)
{
    ecamBase_ = base;
}

uint64_t BenchPcieFabric::ecamBase() const
{
    return ecamBase_;
}

std::optional<uint8_t> BenchPcieFabric::upstreamBus(int port) const
{
    auto it = upstreamBus_.find(port);
    if (it == upstreamBus_.end())
        return std::nullopt;
    return it->second;
}

std::vector<uint8_t> BenchPcieFabric::mcfgTable() const
{
    std::vector<uint8_t> t(60, 0);
    std::memcpy(t.data(), "MCFG", 4);
    t[4] = uint8_t(t.size());
    t[8] = 1;  // revision
    std::memcpy(t.data() + 10, "KRVBCH", 6);
    std::memcpy(t.data() + 16, "BENCHPC ", 8);
    uint64_t base = ecamBase();
    for (int i = 0; i < 8; ++i)
        t[44 + i] = uint8_t(base >> (8 * i));
    t[54] = 0;     // start bus
    t[55] = 0xFF;  // end bus
    uint8_t sum = 0;
    for (uint8_t b : t)
        sum = uint8_t(sum + b);
    t[9] = uint8_t(0x100 - sum);
    return t;
}

BenchPcieFabric::Function* BenchPcieFabric::presentLocked(uint8_t bus, uint8_t device, uint8_t function)
{
    auto it = functions_.find(key(bus, device, function));
    if (it == functions_.end())
        return nullptr;
    Function& f = it->second;
    if (f.port == 0)
        return &f;
    uint64_t generation = devices_->pcieGeneration(f.port);
    if (generation == 0)
        return nullptr;
    if (generation != f.generation) {
        // Back from a reset or a plug: the function starts from its power-up state.
        f.generation = generation;
        f.space = f.initial;
        f.box = Mailbox{};
    }
    return &f;
}

uint8_t BenchPcieFabric::configRead(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset)
{
    // A scan reads every empty slot of every bus: those need no lock.
    if (!functions_.count(key(bus, device, function)))
        return 0xFF;
    std::lock_guard<std::mutex> guard(mutex_);
    Function* f = presentLocked(bus, device, function);
    if (!f || offset >= kConfigSize)
        return 0xFF;
    // A write the EEPROM still programs is answered once it is done.
    if (offset == kDoorbell && f->box.programming && !devices_->mailboxBusy(f->port)) {
        f->box.programming = false;
        f->space[kDoorbell] = kDone;
    }
    return f->space[offset];
}

void BenchPcieFabric::configWrite(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, uint8_t value)
{
    std::lock_guard<std::mutex> guard(mutex_);
    Function* f = presentLocked(bus, device, function);
    // Only the mailbox registers take writes; the header is the function's own.
    if (!f || !f->mailbox || offset < kMailboxWindow || offset > kDoorbell ||
        (offset >= kMailboxBlockEnd && offset < kDoorbell))
        return;
    f->space[offset] = value;
    if (offset >= kMailboxBlock && offset < kMailboxBlockEnd)
        f->box.armed = true;
    if (offset == kDoorbell && value == kRing)
        doorbellLocked(*f);
}

void BenchPcieFabric::doorbellLocked(Function& f)
{
    Mailbox& box = f.box;
    const uint8_t* block = &f.space[kMailboxBlock];
    uint8_t* window = &f.space[kMailboxWindow];
    uint8_t& doorbell = f.space[kDoorbell];
    if (box.armed) {
        box = Mailbox{};
        // What the command moves, as the bridge's mailbox firmware reads its block.
        switch (block[0]) {
        case 0xE0: box.in = true; box.total = kChunk; break;
        case 0xE1: box.total = kChunk; break;
        case 0xE2: box.in = true; box.total = uint32_t(block[2]) << 24 | uint32_t(block[3]) << 16 | uint32_t(block[4]) << 8 | block[5]; break;
        case 0xE3: box.total = uint32_t(block[2]) << 24 | uint32_t(block[3]) << 16 | uint32_t(block[4]) << 8 | block[5]; break;
        case 0xE4: box.in = true; box.total = block[1] == 0 ? 256 : block[1]; break;
        case 0xEC: box.in = true; box.total = 4; break;
        default: box.total = kChunk; break;  // register write, CPU reset: one chunk, no data for the bridge
        }
        if (box.total > (1u << 24))
            box.total = 0;
        if (box.in) {
            box.data.assign(box.total, 0);
            ScsiCommand command;
            std::memcpy(command.cdb, block, 8);
            command.cdbLength = 8;
            command.direction = box.total ? DataDirection::In : DataDirection::None;
            command.data = box.data.data();
            command.dataLength = uint32_t(box.total);
            BenchDevices::MailboxAnswer answer = devices_->executeMailbox(f.port, command);
            if (answer != BenchDevices::MailboxAnswer::Done) {
                box.failed = true;
                doorbell = answer == BenchDevices::MailboxAnswer::Error ? kFailed : kRing;
                return;
            }
        }
    }
    if (box.failed) {
        doorbell = kFailed;
        return;
    }
    if (box.in) {
        size_t n = std::min(kChunk, box.total - std::min(box.total, box.offset));
        if (n == 0) {
            doorbell = kFailed;  // more chunks asked for than the command has
            return;
        }
        std::memcpy(window, box.data.data() + box.offset, n);
        box.offset += n;
        doorbell = kDone;
        return;
    }
    size_t n = std::min(kChunk, box.total - std::min(box.total, box.data.size()));
    box.data.insert(box.data.end(), window, window + n);
    if (box.data.size() < box.total) {
        doorbell = kDone;
        return;
    }
    ScsiCommand command;
    std::memcpy(command.cdb, block, 8);
    command.cdbLength = 8;
    // The register write carries its byte in the block, the CPU reset nothing.
    const bool carriesData = block[0] == 0xE1 || block[0] == 0xE3;
    command.direction = carriesData ? DataDirection::Out : DataDirection::None;
    command.data = carriesData ? box.data.data() : nullptr;
    command.dataLength = carriesData ? uint32_t(box.data.size()) : 0;
    BenchDevices::MailboxAnswer answer = devices_->executeMailbox(f.port, command);
    box.failed = true;  // a further doorbell has no command to go with
    doorbell = answer == BenchDevices::MailboxAnswer::Done      ? kDone
               : answer == BenchDevices::MailboxAnswer::Error ? kFailed
                                                               : kRing;
    if (answer == BenchDevices::MailboxAnswer::Done && devices_->mailboxBusy(f.port)) {
        box.programming = true;
        doorbell = kRing;
    }
}

bool BenchPcieFabric::ecamOffset(uint64_t address, size_t length, uint64_t& offset) const
{
    const uint64_t base = ecamBase();
    const uint64_t size = uint64_t{256} << 20;  // 256 buses of 32 devices of 8 functions of 4 KB
    if (address < base || address + length > base + size)
        return false;
    offset = address - base;
    return true;
}

bool BenchPcieFabric::readPhysical(uint64_t address, uint8_t* out, size_t length)
{
    uint64_t at = 0;
    if (!ecamOffset(address, length, at))
        return false;
    for (uint64_t a = at; a < at + length; ++a)
        out[a - at] = configRead(uint8_t(a >> 20), uint8_t(a >> 15 & 31), uint8_t(a >> 12 & 7), uint16_t(a & 0xFFF));
    return true;
}

bool BenchPcieFabric::writePhysical(uint64_t address, const uint8_t* in, size_t length)
{
    uint64_t at = 0;
    if (!ecamOffset(address, length, at))
        return false;
    for (uint64_t a = at; a < at + length; ++a)
        configWrite(uint8_t(a >> 20), uint8_t(a >> 15 & 31), uint8_t(a >> 12 & 7), uint16_t(a & 0xFFF), in[a - at]);
    return true;
}

// The driver's device: one per open handle, with its own view of the
// configuration address latch at port 0xCF8.
class BenchKrvIoDevice : public KernelIoDevice {
public:
    explicit BenchKrvIoDevice(BenchKernelIo& owner) : owner_(owner) {}

    bool control(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                 uint32_t& returned) override
    {
        ++owner_.controlCalls_;
        returned = 0;
        if (!owner_.driverRunning())
            return refuse(winerr::kInvalidHandle);
        const uint8_t* req = static_cast<const uint8_t*>(in);
        uint8_t* reply = static_cast<uint8_t*>(out);
        auto word = [&](uint32_t i) { return le32(req + 4 * i); };
        BenchPcieFabric& fabric = owner_.fabric();
        switch (code) {
        case 0x80002000:  // map: the token is the physical address itself
        case 0x80002004: {
            if (inLength != 12 && inLength != 16)
                return refuse(winerr::kInvalidParameter);
            uint64_t address = inLength == 16 ? uint64_t{word(1)} << 32 | word(0) : word(0);
            if (code == 0x80002004)
                return true;
            if (outLength < 8)
                return refuse(winerr::kInsufficientBuffer);
            for (int i = 0; i < 8; ++i)
                reply[i] = uint8_t(address >> (8 * i));
            returned = 8;
            return true;
        }
        case 0x80002008:
        case 0x8000200C: {
            if (inLength != 12 || (code == 0x80002008 && outLength < 4))
                return refuse(winerr::kInvalidParameter);
            uint16_t port = uint16_t(word(0));
            uint32_t width = word(1);
            if (width != 1 && width != 2 && width != 4)
                return refuse(winerr::kInvalidParameter);
            if (code == 0x8000200C) {
                writePort(fabric, port, width, word(2));
                return true;
            }
            uint32_t value = readPort(fabric, port, width);
            std::memcpy(reply, &value, 4);
            returned = 4;
            return true;
        }
        case 0x80002018:
        case 0x80002020:
            if (inLength != 44)
                return refuse(winerr::kInvalidParameter);
            returned = code == 0x80002020 ? 44 : 0;
            return true;
        case 0x8000201C:
        case 0x80002024:
            // The bridges keep no command-record mailbox: the reply is empty words.
            if (inLength != 44 || outLength < 44)
                return refuse(winerr::kInvalidParameter);
            std::memset(reply, 0, 44);
            returned = 44;
            return true;
        case 0x80002028: {
            if (inLength != 12 && inLength != 16)
                return refuse(winerr::kInvalidParameter);
            uint64_t address = inLength == 16 ? uint64_t{word(1)} << 32 | word(0) : word(0);
            uint32_t length = inLength == 16 ? word(2) : word(1);
            if (length < 1 || length > 4 || outLength < length)
                return refuse(winerr::kInvalidParameter);
            if (!fabric.readPhysical(address, reply, length))
                return refuse(kInvalidAddress);
            returned = length;
            return true;
        }
        case 0x8000202C: {
            if (inLength != 12)
                return refuse(winerr::kInvalidParameter);
            uint32_t length = word(1);
            if (length < 1 || length > 4)
                return refuse(winerr::kInvalidParameter);
            if (!fabric.writePhysical(word(0), req + 8, length))
                return refuse(kInvalidAddress);
            returned = length;
            return true;
        }
        case 0x80002030:
            if (inLength != 4)
                return refuse(winerr::kInvalidParameter);
            returned = 4;
            return true;
        default: return refuse(winerr::kInvalidFunction);
        }
    }

private:
    static bool refuse(uint32_t error)
    {
        setLastError(error);
        return false;
    }
    void writePort(BenchPcieFabric& fabric, uint16_t port, uint32_t width, uint32_t value)
    {
        if (port == 0xCF8 && width == 4) {
            address_ = value;
            return;
        }
        if (port >= 0xCFC && port < 0xD00 && (address_ & 0x80000000u))
            for (uint32_t i = 0; i < width && (port & 3) + i < 4; ++i)
                fabric.configWrite(uint8_t(address_ >> 16), uint8_t(address_ >> 11 & 31), uint8_t(address_ >> 8 & 7),
                                   uint16_t((address_ & 0xFC) + (port & 3) + i), uint8_t(value >> (8 * i)));
    }
    uint32_t readPort(BenchPcieFabric& fabric, uint16_t port, uint32_t width)
    {
        if (port == 0xCF8 && width == 4)
            return address_;
        uint32_t value = 0;
        if (port >= 0xCFC && port < 0xD00 && (address_ & 0x80000000u)) {
            for (uint32_t i = 0; i < width && (port & 3) + i < 4; ++i)
                value |= uint32_t(fabric.configRead(uint8_t(address_ >> 16), uint8_t(address_ >> 11 & 31),
                                                    uint8_t(address_ >> 8 & 7),
                                                    uint16_t((address_ & 0xFC) + (port & 3) + i)))
                         << (8 * i);
            return value;
        }
        return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;  // nothing decodes the port
    }

    BenchKernelIo& owner_;
    uint32_t address_ = 0;
};

BenchKernelIo::BenchKernelIo(std::shared_ptr<BenchPcieFabric> fabric) : fabric_(std::move(fabric)) {}

namespace {
bool isKrvIoDriver(const std::string& path)
{
    auto slash = path.find_last_of("\\/");
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    std::transform(file.begin(), file.end(), file.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return file == "krvio.sys" || file == "krvio64.sys";
}
}  // namespace

bool BenchKernelIo::createService(const std::string& name, const std::string& driverPath)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (services_.count(name)) {
        setLastError(1073);  // the service exists already
        return false;
    }
    services_[name] = Service{driverPath, false};
    return true;
}

bool BenchKernelIo::startService(const std::string& name)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = services_.find(name);
    if (it == services_.end()) {
        setLastError(winerr::kServiceDoesNotExist);
        return false;
    }
    if (it->second.running) {
        setLastError(winerr::kServiceAlreadyRunning);
        return false;
    }
    // The bench's kernel has the KrvIo driver built in; another file does not load.
    if (!isKrvIoDriver(it->second.driverPath)) {
        setLastError(winerr::kFileNotFound);
        return false;
    }
    it->second.running = true;
    ++running_;
    return true;
}

bool BenchKernelIo::stopService(const std::string& name)
{
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = services_.find(name);
    if (it == services_.end()) {
        setLastError(winerr::kServiceDoesNotExist);
        return false;
    }
    if (!it->second.running) {
        setLastError(1062);  // the service has not been started
        return false;
    }
    it->second.running = false;
    --running_;
    return true;
}

bool BenchKernelIo::deleteService(const std::string& name)
{
    std::lock_guard<std::mutex> guard(mutex_);
    // Marked for deletion, a running service goes once it stops; the bench
    // stops it at once.
    auto it = services_.find(name);
    if (it == services_.end()) {
        setLastError(winerr::kServiceDoesNotExist);
        return false;
    }
    if (it->second.running)
        --running_;
    services_.erase(it);
    return true;
}

bool BenchKernelIo::driverRunning() const
{
    // Only the KrvIo driver ever starts (startService refuses any other file).
    return running_.load() > 0;
}

size_t BenchKernelIo::serviceCount() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return services_.size();
}

std::unique_ptr<KernelIoDevice> BenchKernelIo::openDevice(const std::string& path)
{
    if (path != "\\\\.\\KrvIO" || !driverRunning()) {
        setLastError(winerr::kFileNotFound);
        return nullptr;
    }
    return std::make_unique<BenchKrvIoDevice>(*this);
}

uint32_t BenchKernelIo::enumFirmwareTables(uint32_t provider, void* buffer, uint32_t size)
{
    if (provider != firmwareProvider("ACPI")) {
        setLastError(winerr::kInvalidFunction);
        return 0;
    }
    const uint32_t ids[] = {firmwareTableId("FACP"), firmwareTableId("APIC"), firmwareTableId("MCFG")};
    if (buffer && size >= sizeof ids)
        std::memcpy(buffer, ids, sizeof ids);
    return sizeof ids;
}

uint32_t BenchKernelIo::getFirmwareTable(uint32_t provider, uint32_t tableId, void* buffer, uint32_t size)
{
    if (provider != firmwareProvider("ACPI") || tableId != firmwareTableId("MCFG")) {
        setLastError(winerr::kNotFound);
        return 0;
    }
    std::vector<uint8_t> table = fabric_->mcfgTable();
    if (buffer && size >= table.size())
        std::memcpy(buffer, table.data(), table.size());
    return uint32_t(table.size());
}

}  // namespace krv::bench
