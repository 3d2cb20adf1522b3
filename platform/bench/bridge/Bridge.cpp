#include "platform/bench/bridge/Bridge.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "platform/bench/bridge/CdbReader.h"
#include "platform/bench/bridge/Registers.h"

namespace krv::bench {

namespace {

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReadConfig = 0xE0;
constexpr uint8_t kWriteConfig = 0xE1;
constexpr uint8_t kReadFirmware = 0xE2;
constexpr uint8_t kWriteFirmware = 0xE3;
constexpr uint8_t kReadRegister = 0xE4;
constexpr uint8_t kWriteRegister = 0xE5;
constexpr uint8_t kNvmeIdentify = 0xE6;
constexpr uint8_t kCpuReset = 0xE8;
constexpr uint8_t kShaKey = 0xE9;
constexpr uint8_t kPowerConfig = 0xC3;
constexpr uint8_t kAtaPassThrough12 = 0xA1;

constexpr uint8_t kSupportedPages = 0x00;
constexpr uint8_t kUnitSerialPage = 0x80;
constexpr uint8_t kFactoryPage = 0xC8;
constexpr size_t kConfigSerialOffset = 4;
constexpr size_t kConfigSerialLength = 20;
constexpr size_t kFactoryPageSize = 512;
constexpr size_t kFactorySerialOffset = 9;

constexpr uint8_t kBank0 = 0x50;          // first-part / bank selector of image 0
constexpr uint8_t kSecondPart = 0x80;     // set in the selector of a second part
constexpr uint8_t kRegisterPageLow = 0x50;
constexpr uint8_t kRegisterPageHigh = 0x51;
constexpr uint32_t kHighPageBase = 0x20000;
constexpr uint8_t kLegacyConfigTag = 0x5A;  // byte 3 of the KRV6390-form configuration commands

constexpr uint8_t kResetCpu = 0x50;
constexpr uint8_t kResetDisconnect = 0x51;

// ATA PASS-THROUGH(12) as the bridges take it.
constexpr uint8_t kAtaNonData = 0x06;     // protocol 3
constexpr uint8_t kAtaPioIn = 0x08;       // protocol 4
constexpr uint8_t kAtaPioInFlags = 0x0E;  // to the host, in blocks, count in the sector count
constexpr uint8_t kAtaStandbyImmediate = 0xE0;
constexpr uint8_t kAtaFlushCache = 0xE7;
constexpr uint8_t kAtaIdentify = 0xEC;
constexpr uint8_t kAtaDevice = 0xA0;

const uint8_t kPowerConfigHeader[4] = {0x60, 0x01, 0x00, 0x00};

bool printable(const Bytes& config, size_t offset, size_t width)
{
    if (config.size() < offset + width)
        return false;
    for (size_t i = 0; i < width; ++i) {
        uint8_t c = config[offset + i];
        if (c != 0xFF && (c < 0x20 || c > 0x7E))
            return false;
    }
    return config[offset] != 0xFF;
}

std::string textOf(const Bytes& config, size_t offset, size_t width)
{
    std::string text;
    for (size_t i = 0; i < width && config[offset + i] != 0xFF; ++i)
        text += static_cast<char>(config[offset + i]);
    return text;
}

uint16_t chipIdOf(const ChipModel& chip, const LinkModel& link)
{
    ChipIdentity id = identityOf(chip, link);
    unsigned value = 0;
    std::from_chars(id.inquiry.data(), id.inquiry.data() + id.inquiry.size(), value, 16);
    return static_cast<uint16_t>(value);
}

bool validInquiryCdb(const CdbReader& cdb)
{
    return (cdb.length() == 6 || (cdb.length() == 12 && cdb.zeroFrom(6))) && cdb[5] == 0;
}

std::string hexByte(uint8_t b)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

}  // namespace

Bridge::Bridge(int port, PortSettings settings, PortState state, std::string folder)
    : port_(port),
      settings_(std::move(settings)),
      chip_(findChip(settings_.chip)),
      link_(findLink(settings_.link)),
      state_(std::move(state)),
      folder_(std::move(folder))
{
    if (!chip_)
        chip_ = findChip("KRV8574");
    if (!link_)
        link_ = findLink("USB3");
    if (settings_.speed.empty())
        settings_.speed = link_->defaultSpeed;
    if (settings_.revision < 0)
        settings_.revision = chip_->defaultRevision;
    if (settings_.pd != PdChip::None || settings_.mcu != McuChip::None)
        pd_ = std::make_unique<PdController>(settings_.pd, settings_.mcu, folder_);
}

void Bridge::powerUp()
{
    boot();
    if (pd_)
        pd_->powerUp(state_.faults);
}

bool Bridge::onUsb() const { return !identityOf(*chip_, *link_).pcieDeviceId.has_value(); }

void Bridge::boot()
{
    bootFromStored(state_, settings_);
    busyUntilMs_ = 0;
}

const Bytes& Bridge::runningUsb3Config() const
{
    int bank = state_.running.bank > 0 ? state_.running.bank : 0;
    return state_.running.config[bank][0];
}

InquiryTexts Bridge::inquiryTexts() const
{
    // The T10 texts come from the USB 3 image the bridge booted with.
    const Bytes& config = runningUsb3Config();
    InquiryTexts texts;
    texts.vendor = printable(config, 60, 8) ? textOf(config, 60, 8) : "KRV";
    texts.product = printable(config, 100, 16) ? textOf(config, 100, 16) : "Bench Drive";
    texts.revision = hexByte(state_.running.header[0]) + hexByte(state_.running.header[1]);
    return texts;
}

uint8_t Bridge::registerValue(uint32_t address) const
{
    RegisterContext context{*chip_, *link_, settings_.speed, static_cast<uint8_t>(settings_.revision),
                            settings_.registers, state_.running};
    return readRegister(context, address);
}

Bridge::Reaction Bridge::answer(ScsiCommand& command, Unit unit, uint64_t nowMs, std::string& note)
{
    if (!onUsb()) {
        answerPlainDisk(command, state_.disk, false, "NVMe");
        return Reaction::None;
    }
    uint8_t opcode = command.cdb[0];
    if (opcode != kInquiry && nowMs < busyUntilMs_) {
        endWithCheckCondition(command, kBusyProgramming);
        return Reaction::None;
    }
    bool is857x = chip_->family == ChipFamily::Krv857x;
    bool is752x = chip_->family == ChipFamily::Krv752x;
    switch (opcode) {
    case kInquiry: inquiry(command, unit); break;
    case kReadConfig:
    case kWriteConfig: configImage(command, note); break;
    case kReadFirmware:
    case kWriteFirmware:
        if (!is857x)
            endWithCheckCondition(command, kInvalidOpcode);
        else
            firmwareImage(command, nowMs, note);
        break;
    case kReadRegister:
    case kWriteRegister: registers(command, note); break;
    case kNvmeIdentify:
        if (!chip_->nvme)
            endWithCheckCondition(command, kInvalidOpcode);
        else
            nvmeIdentify(command);
        break;
    case kCpuReset: return cpuReset(command);
    case kShaKey:
        if (!chip_->sha256)
            endWithCheckCondition(command, kInvalidOpcode);
        else
            shaKey(command, note);
        break;
    case kPowerConfig:
        if (!is752x)
            endWithCheckCondition(command, kInvalidOpcode);
        else
            powerConfig(command, note);
        break;
    case kAtaPassThrough12: ataPassThrough(command); break;
    case PdController::kPdCommand:
    case PdController::kI2cTunnel:
        if (!pd_)
            endWithCheckCondition(command, kInvalidOpcode);
        else
            pd_->answer(command, state_.faults, note);
        break;
    default: endWithCheckCondition(command, kInvalidOpcode); break;
    }
    return Reaction::None;
}

void Bridge::inquiry(ScsiCommand& command, Unit unit)
{
    CdbReader cdb(command);
    if (!validInquiryCdb(cdb)) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    if (cdb[1] == 0x01) {
        vitalProductData(command, unit);
        return;
    }
    if (cdb[1] != 0 || cdb[2] != 0) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    size_t allocation = size_t{cdb[3]} << 8 | cdb[4];
    if (allocation && !cdb.readsData()) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    InquiryTexts texts = inquiryTexts();
    Bytes data = standardInquiry(unit == Unit::CdRom ? kCdRomUnit : kDirectAccess, texts.vendor, texts.product,
                                 texts.revision, chipIdOf(*chip_, *link_));
    answerWith(command, data, allocation);
}

void Bridge::vitalProductData(ScsiCommand& command, Unit unit)
{
    CdbReader cdb(command);
    const uint8_t page = cdb[2];
    const bool is752x = chip_->family == ChipFamily::Krv752x;
    if (page == kFactoryPage && is752x && cdb.length() == 6) {
        factoryPage(command);
        return;
    }
    const std::optional<std::string> unitSerial = unitSerialNumber();
    size_t allocation = size_t{cdb[3]} << 8 | cdb[4];
    if ((page != kSupportedPages && !(page == kUnitSerialPage && unitSerial)) || (allocation && !cdb.readsData())) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    Bytes data = {unit == Unit::CdRom ? kCdRomUnit : kDirectAccess, page, 0, 0};
    if (page == kSupportedPages) {
        data.push_back(kSupportedPages);
        if (unitSerial)
            data.push_back(kUnitSerialPage);
        if (is752x)
            data.push_back(kFactoryPage);
    } else {
        data.insert(data.end(), unitSerial->begin(), unitSerial->end());
    }
    data[3] = static_cast<uint8_t>(data.size() - 4);
    answerWith(command, data, allocation);
}

std::string Bridge::serialNumber() const
{
    const Bytes& config = runningUsb3Config();
    if (!configIntact(config, image::kUsb3Mark))
        return {};
    const auto first = config.begin() + kConfigSerialOffset;
    const auto last = first + kConfigSerialLength;
    if (std::all_of(first, last, [](uint8_t b) { return b == 0x00 || b == 0xFF; }))
        return state_.disk.serial;
    return std::string(first, std::find(first, last, uint8_t{0xFF}));
}

std::optional<std::string> Bridge::unitSerialNumber() const
{
    std::string serial = serialNumber();
    switch (settings_.unitSerial) {
    case UnitSerial::Serial: break;
    case UnitSerial::Disk: serial = state_.disk.serial; break;
    case UnitSerial::Reversed: std::reverse(serial.begin(), serial.end()); break;
    case UnitSerial::None: return std::nullopt;
    }
    if (serial.empty())
        return std::nullopt;
    return serial;
}

void Bridge::factoryPage(ScsiCommand& command)
{
    CdbReader cdb(command);
    size_t allocation = size_t{cdb[3]} << 8 | cdb[4];
    if (allocation && !cdb.readsData()) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    Bytes page(kFactoryPageSize, 0);
    page[1] = kFactoryPage;
    page[2] = static_cast<uint8_t>((kFactoryPageSize - 4) >> 8);
    page[3] = static_cast<uint8_t>(kFactoryPageSize - 4);
    page[4] = 0x75;
    page[5] = 0x20;
    page[6] = static_cast<uint8_t>(settings_.revision);
    // The factory serial is the serial the bridge runs with.
    std::string serial = serialNumber();
    for (size_t i = 0; i < 20; ++i)
        page[kFactorySerialOffset + i] = i < serial.size() ? static_cast<uint8_t>(serial[i]) : ' ';
    answerWith(command, page, allocation);
}

void Bridge::configImage(ScsiCommand& command, std::string& note)
{
    CdbReader cdb(command);
    bool write = cdb[0] == kWriteConfig;
    int imageIndex = 0, type = 0;
    bool fieldsOk = cdb.length() == 6 && cdb.zeroFrom(4);
    if (chip_->family == ChipFamily::Krv857x) {
        fieldsOk = fieldsOk && (cdb[1] == kBank0 || cdb[1] == kBank0 + 1) && cdb[2] <= 1 && cdb[3] == 0;
        imageIndex = cdb[1] - kBank0;
        type = cdb[2];
    } else {
        fieldsOk = fieldsOk && cdb[1] == 0 && cdb[2] == 0 && cdb[3] == kLegacyConfigTag;
    }
    bool dataOk = write ? cdb.writesExactly(image::kConfigSize) : cdb.readsData();
    if (!fieldsOk || !dataOk) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    Bytes& config = state_.stored.config[imageIndex][type];
    if (!write) {
        answerWith(command, config);
        return;
    }
    Bytes old = config;
    config.assign(command.data, command.data + image::kConfigSize);
    std::string error;
    if (!stored(command, saveConfigImage(folder_, state_, imageIndex, type, error), error, note)) {
        config = std::move(old);
        return;
    }
    note = "config image " + std::to_string(imageIndex) + " type " + std::to_string(type) + " stored";
    endGood(command, image::kConfigSize);
}

void Bridge::firmwareImage(ScsiCommand& command, uint64_t nowMs, std::string& note)
{
    CdbReader cdb(command);
    bool write = cdb[0] == kWriteFirmware;
    uint8_t selector = cdb[1];
    bool secondPart = (selector & kSecondPart) != 0;
    int bank = (selector & 0x7F) - kBank0;
    uint32_t length = cdb.be32(2);
    // The first-part address mode starts at the image's beginning and takes
    // up to the bridge's transfer buffer; the second starts at the second
    // region and ends with the image.
    size_t offset = secondPart ? image::kFirmwarePart0 : 0;
    size_t limit = secondPart ? image::kFirmwarePart1 : image::kFirmwareTransferMax;
    bool fieldsOk = cdb.length() == 6 && (bank == 0 || bank == 1) && length > 0 && length <= limit;
    bool dataOk = write ? cdb.writesExactly(length) : cdb.readsAtLeast(length);
    if (!fieldsOk || !dataOk) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    firmwareTransfer(command, write, bank, offset, secondPart ? image::kFirmwarePart1 : image::kFirmwarePart0, length,
                     nowMs, note);
    if (write && command.scsiStatus == scsi::kGood)
        note = "firmware bank " + std::to_string(bank) + " part " + (secondPart ? "1" : "0") + " stored";
}

void Bridge::firmwareTransfer(ScsiCommand& command, bool write, int bank, size_t offset, size_t region,
                              uint32_t length, uint64_t nowMs, std::string& note)
{
    Bytes& firmware = state_.stored.firmware[bank];
    if (!write) {
        answerWith(command, firmware.data() + offset, length);
        return;
    }
    // The region (and whatever more the transfer covers) is erased, then
    // programmed with what came.
    Bytes old = firmware;
    std::fill(firmware.begin() + offset, firmware.begin() + offset + std::max<size_t>(region, length), 0xFF);
    std::copy(command.data, command.data + length, firmware.begin() + offset);
    int oldActive = state_.stored.activeBank;
    if (firmwareBootable(firmware, majorRevisionOf(settings_)))
        state_.stored.activeBank = bank;
    std::string error;
    bool saved = saveFirmwareBank(folder_, state_, bank, error) && saveStateFile(folder_, state_, error);
    if (!stored(command, saved, error, note)) {
        firmware = std::move(old);
        state_.stored.activeBank = oldActive;
        return;
    }
    busyUntilMs_ = nowMs + kFirmwareProgramMs;
    note = "firmware bank " + std::to_string(bank) + " stored";
    endGood(command, length);
}

void Bridge::registers(ScsiCommand& command, std::string& note)
{
    CdbReader cdb(command);
    bool write = cdb[0] == kWriteRegister;
    uint8_t page = cdb[2];
    bool pageOk = page == 0 || (chip_->family == ChipFamily::Krv857x &&
                                (page == kRegisterPageLow || page == kRegisterPageHigh));
    uint32_t address = (page == kRegisterPageHigh ? kHighPageBase : 0) + (uint32_t{cdb[3]} << 8 | cdb[4]);
    uint32_t pageEnd = (page == kRegisterPageHigh ? kHighPageBase : 0) + 0xFFFF;
    uint32_t count = write ? 1 : (cdb[1] == 0 ? 256 : cdb[1]);
    bool fieldsOk = cdb.length() == 6 && cdb[5] == 0 && pageOk && address + count - 1 <= pageEnd;
    bool dataOk = write ? cdb.movesNoData() : cdb.readsAtLeast(count);
    if (!fieldsOk || !dataOk) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    if (write) {
        state_.running.registerWrites[address] = cdb[1];
        endGood(command, 0);
        return;
    }
    Bytes values(count);
    for (uint32_t i = 0; i < count; ++i)
        values[i] = registerValue(address + i);
    answerWith(command, values);
    (void)note;
}

void Bridge::nvmeIdentify(ScsiCommand& command)
{
    CdbReader cdb(command);
    uint8_t cns = cdb[3];
    if (cdb.length() != 16 || cdb[1] != 0x06 || cdb[2] != 0 || cns > 1 || !cdb.zeroFrom(4) || !cdb.readsData()) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    answerWith(command, cns == 1 ? nvmeIdentifyController(state_.disk) : nvmeIdentifyNamespace(state_.disk));
}

Bridge::Reaction Bridge::cpuReset(ScsiCommand& command)
{
    CdbReader cdb(command);
    if (cdb.length() != 6 || (cdb[1] != kResetCpu && cdb[1] != kResetDisconnect) || !cdb.zeroFrom(2) ||
        !cdb.movesNoData()) {
        endWithCheckCondition(command, kInvalidField);
        return Reaction::None;
    }
    // The bridge answers first, then leaves the bus.
    endGood(command, 0);
    return cdb[1] == kResetCpu ? Reaction::CpuReset : Reaction::Disconnect;
}

void Bridge::shaKey(ScsiCommand& command, std::string& note)
{
    CdbReader cdb(command);
    if (cdb.length() == 6 && cdb[1] == 0x00 && cdb.zeroFrom(2) && cdb.writesExactly(image::kShaKeySize)) {
        auto old = state_.stored.shaKey;
        state_.stored.shaKey.emplace();
        std::copy(command.data, command.data + image::kShaKeySize, state_.stored.shaKey->begin());
        std::string error;
        if (!stored(command, saveStateFile(folder_, state_, error), error, note)) {
            state_.stored.shaKey = old;
            return;
        }
        note = "SHA-256 key stored";
        endGood(command, image::kShaKeySize);
        return;
    }
    if (cdb.length() == 6 && cdb[1] == 0x01 && cdb[2] <= 1 && cdb.zeroFrom(3) && cdb.readsData()) {
        // The image passes when the bridge holds the key it checks with and
        // the bank carries a whole image for this chip.
        int bank = cdb[2];
        bool keyOk = state_.stored.shaKey && *state_.stored.shaKey == sha256InitialKey();
        uint8_t verdict = keyOk && firmwareBootable(state_.stored.firmware[bank], majorRevisionOf(settings_)) ? 1 : 0;
        answerWith(command, &verdict, 1);
        return;
    }
    endWithCheckCondition(command, kInvalidField);
}

void Bridge::powerConfig(ScsiCommand& command, std::string& note)
{
    static const uint8_t kCdb[11] = {0xC3, 0x30, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x30, 0x00};
    CdbReader cdb(command);
    if (cdb.length() != sizeof kCdb || !std::equal(kCdb, kCdb + sizeof kCdb, command.cdb) ||
        !cdb.writesExactly(image::kPowerConfigSize)) {
        endWithCheckCondition(command, kInvalidField);
        return;
    }
    if (!std::equal(kPowerConfigHeader, kPowerConfigHeader + 4, command.data)) {
        endWithCheckCondition(command, kInvalidParameters);
        return;
    }
    Bytes old = state_.stored.powerConfig;
    state_.stored.powerConfig.assign(command.data, command.data + image::kPowerConfigSize);
    std::string error;
    if (!stored(command, saveStateFile(folder_, state_, error), error, note)) {
        state_.stored.powerConfig = std::move(old);
        return;
    }
    note = "power configuration stored";
    endGood(command, image::kPowerConfigSize);
}

void Bridge::ataPassThrough(ScsiCommand& command) { answerPlainDisk(command, state_.disk, true, ""); }

bool Bridge::stored(ScsiCommand& command, bool saved, const std::string& error, std::string& note)
{
    if (saved)
        return true;
    note = "EEPROM write failed: " + error;
    endWithCheckCondition(command, kInternalFailure);
    return false;
}

void answerPlainDisk(ScsiCommand& command, const DiskIdentity& disk, bool ata, std::string_view vendor)
{
    CdbReader cdb(command);
    if (cdb[0] == kInquiry) {
        size_t allocation = size_t{cdb[3]} << 8 | cdb[4];
        if (!validInquiryCdb(cdb) || cdb[1] != 0 || cdb[2] != 0 || (allocation && !cdb.readsData())) {
            endWithCheckCondition(command, kInvalidField);
            return;
        }
        std::string product = disk.model.substr(0, 16);
        answerWith(command, standardInquiry(kDirectAccess, vendor, product, disk.firmware.substr(0, 4), 0), allocation);
        return;
    }
    if (cdb[0] != kAtaPassThrough12 || !ata) {
        endWithCheckCondition(command, kInvalidOpcode);
        return;
    }
    bool nonData = cdb.length() == 12 && cdb[1] == kAtaNonData && cdb[2] == 0 &&
                   cdb[3] == 0 && cdb[4] == 0 && cdb[5] == 0 && cdb[6] == 0 && cdb[7] == 0 && cdb[8] == 0 &&
                   (cdb[9] == kAtaStandbyImmediate || cdb[9] == kAtaFlushCache) && cdb.zeroFrom(10);
    if (nonData && cdb.movesNoData()) {
        endGood(command, 0);
        return;
    }
    bool identify = cdb.length() == 12 && cdb[1] == kAtaPioIn && cdb[2] == kAtaPioInFlags && cdb[3] == 0 &&
                    cdb[4] == 1 && cdb[5] == 0 && cdb[6] == 0 && cdb[7] == 0 && cdb[8] == kAtaDevice &&
                    cdb[9] == kAtaIdentify && cdb.zeroFrom(10);
    if (identify && cdb.readsData()) {
        answerWith(command, ataIdentifyDevice(disk));
        return;
    }
    endWithCheckCondition(command, kInvalidField);
}

}  // namespace krv::bench
