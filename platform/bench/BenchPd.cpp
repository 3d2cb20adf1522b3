#include "platform/bench/BenchPd.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/bench/BenchFiles.h"
#include "platform/bench/bridge/CdbReader.h"
#include "platform/bench/bridge/Sense.h"

namespace krv::bench {

namespace {

// Sub-codes of the PD command, as the bridge firmware relays them.
enum Sub : uint8_t {
    kMtpArea = 0x00,
    kWriteWord = 0x01,
    kRichtekVersion = 0x03,
    kOpenBus = 0x04,
    kCloseBus = 0x05,
    kReadBytes = 0x06,
    kControlBlock = 0x07,
    kVersion1 = 0x21,
    kCypressFlashMode = 0x22,
    kCypressWriteRow = 0x23,
    kCypressReadRow = 0x24,
    kDeviceMode = 0x29,
    kCcgReadRow = 0x2A,
    kCcgWriteRow = 0x2B,
    kVersion2 = 0x2C,
    kCcgFlashMode = 0x2D,
    kMcuBootloader = 0x32,
    kMcuBootloader2 = 0x33,
    kMcuWrite = 0x34,
    kMcuRead = 0x35,
};

constexpr uint8_t kControlSignature = 0x5A;
constexpr size_t kRow = 128;
constexpr size_t kRichtekSize = 16384;
constexpr size_t kRichtekVersionAt = 0x1000;
constexpr size_t kRichtekReadMax = 32;
constexpr size_t kCypressRows = 256;
constexpr size_t kCypressVersionRow = 0x26;
constexpr size_t kCcgRows = 1024;
constexpr size_t kBank1FirstRow = 0x030;
constexpr size_t kBank2FirstRow = 0x200;
constexpr size_t kCcgVersionOffset = 96;
constexpr size_t kIteSize = 65536;
constexpr size_t kMcuSize = 49152;
constexpr uint16_t kMcuSegment = 0x0800;      // 0x08000000 >> 16
// What a factory part reports before anyone flashes it.
constexpr std::array<uint8_t, 8> kFactoryVersion = {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};

std::string flashPath(const std::string& folder) { return folder + "/pd-flash.bin"; }
std::string mcuPath(const std::string& folder) { return folder + "/mcu-flash.bin"; }

bool readImage(const std::string& path, size_t size, Bytes& out, std::string& error)
{
    if (::access(path.c_str(), F_OK) != 0)
        return true;  // factory flash stays
    std::string text;
    if (!readTextFile(path, text, error))
        return false;
    if (text.size() != size) {
        error = path + " holds " + std::to_string(text.size()) + " bytes, not the " + std::to_string(size) +
                " of its flash";
        return false;
    }
    out.assign(text.begin(), text.end());
    return true;
}

bool writeImage(const std::string& path, const Bytes& bytes, std::string& error)
{
    return writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                               error);
}

std::string hex(const uint8_t* data, size_t n)
{
    std::string text;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", data[i]);
        text += b;
    }
    return text;
}

uint16_t be16(const CdbReader& cdb, size_t at) { return static_cast<uint16_t>(cdb[at] << 8 | cdb[at + 1]); }

}  // namespace

size_t PdController::flashSize(PdChip chip)
{
    switch (chip) {
    case PdChip::None: return 0;
    case PdChip::Richtek: return kRichtekSize;
    case PdChip::Cypress: return kCypressRows * kRow;
    case PdChip::Ccg3:
    case PdChip::Ccg: return kCcgRows * kRow;
    case PdChip::Ite: return kIteSize;
    }
    return 0;
}

PdController::PdController(PdChip pd, McuChip mcu, std::string folder)
    : pd_(pd), mcu_(mcu), folder_(std::move(folder))
{
    // The factory image: blank flash around a first firmware.
    flash_.assign(flashSize(pd_), 0xFF);
    switch (pd_) {
    case PdChip::Richtek:
        flash_[kRichtekVersionAt] = 0x01;
        flash_[kRichtekVersionAt + 1] = 0x00;
        break;
    case PdChip::Cypress:
        std::copy(kFactoryVersion.begin(), kFactoryVersion.end(), flash_.begin() + kCypressVersionRow * kRow);
        break;
    case PdChip::Ccg3:
    case PdChip::Ccg:
        std::fill_n(flash_.begin() + kBank1FirstRow * kRow, kRow, 0x00);
        std::copy(kFactoryVersion.begin(), kFactoryVersion.end(),
                  flash_.begin() + (kBank1FirstRow + 1) * kRow + kCcgVersionOffset);
        break;
    case PdChip::Ite:
        std::fill_n(flash_.begin() + 64, 16, 0x00);   // a signed image
        flash_[0x50] = 0x01;
        flash_[0x51] = 0x00;
        break;
    case PdChip::None: break;
    }
    if (hasMcu())
        mcuFlash_.assign(kMcuSize, 0xFF);
    FaultList none;
    powerUp(none);
}

bool PdController::load(std::string& error)
{
    if (pd_ != PdChip::None && !readImage(flashPath(folder_), flash_.size(), flash_, error))
        return false;
    if (hasMcu() && !readImage(mcuPath(folder_), mcuFlash_.size(), mcuFlash_, error))
        return false;
    FaultList none;
    powerUp(none);
    return true;
}

bool PdController::save(std::string& error)
{
    if (flashDirty_) {
        if (!writeImage(flashPath(folder_), flash_, error))
            return false;
        flashDirty_ = false;
    }
    if (mcuDirty_) {
        if (!writeImage(mcuPath(folder_), mcuFlash_, error))
            return false;
        mcuDirty_ = false;
    }
    return true;
}

std::array<uint8_t, 8> PdController::bankVersion(int bank) const
{
    std::array<uint8_t, 8> v{};
    size_t first = bank == 2 ? kBank2FirstRow : kBank1FirstRow;
    std::memcpy(v.data(), flash_.data() + (first + 1) * kRow + kCcgVersionOffset, v.size());
    return v;
}

void PdController::bootCcg()
{
    auto blank = [&](size_t firstRow) {
        const uint8_t* row = flash_.data() + firstRow * kRow;
        return std::all_of(row, row + kRow, [](uint8_t b) { return b == 0xFF; });
    };
    bool one = !blank(kBank1FirstRow), two = !blank(kBank2FirstRow);
    if (!one && !two) {
        runningBank_ = 0;
        running_ = false;
        return;
    }
    runningBank_ = two && (!one || bankVersion(2) > bankVersion(1)) ? 2 : 1;
    version_ = bankVersion(runningBank_);
    running_ = true;
}

void PdController::powerUp(FaultList& faults)
{
    busOpen_ = false;
    const bool stuck = faults.hitEvent(FaultKind::Stuck).has_value();
    flashMode_ = stuck && pd_ != PdChip::None;
    bootloader_ = stuck && hasMcu();
    running_ = false;
    version_ = {};
    runningBank_ = 0;
    ite_ = Ite{};
    if (flashMode_)
        return;
    switch (pd_) {
    case PdChip::Richtek:
        version_[0] = flash_[kRichtekVersionAt];
        version_[1] = flash_[kRichtekVersionAt + 1];
        running_ = true;
        break;
    case PdChip::Cypress:
        std::memcpy(version_.data(), flash_.data() + kCypressVersionRow * kRow, version_.size());
        running_ = true;
        break;
    case PdChip::Ccg3:
    case PdChip::Ccg: bootCcg(); break;
    case PdChip::Ite: iteBoot(); break;
    case PdChip::None: break;
    }
}

std::string PdController::versionText() const
{
    if (!running_ || flashMode_)
        return "";
    // A two-byte version is a little-endian number; the CCG types report eight bytes in order.
    const uint8_t word[2] = {version_[1], version_[0]};
    return pd_ == PdChip::Richtek || pd_ == PdChip::Ite ? hex(word, 2) : hex(version_.data(), 8);
}

uint8_t PdController::vendorCode() const
{
    switch (pd_) {
    case PdChip::Richtek: return 1;
    case PdChip::Cypress: return 2;
    case PdChip::Ccg3: return 4;
    case PdChip::Ccg: return 5;
    case PdChip::Ite: return 3;
    case PdChip::None: return 0;
    }
    return 0;
}

void PdController::answer(ScsiCommand& command, FaultList& faults, std::string& note)
{
    if (command.cdb[0] == kI2cTunnel)
        tunnel(command, faults, note);
    else
        pdCommand(command, note);
}

void PdController::pdCommand(ScsiCommand& command, std::string& note)
{
    CdbReader cdb(command);
    auto refuse = [&] { endWithCheckCondition(command, kInvalidField); };
    if (cdb.length() != 8)
        return refuse();
    const uint8_t sub = cdb[1];
    const uint16_t value = be16(cdb, 2);
    const uint16_t index = be16(cdb, 4);
    auto reply = [&](const uint8_t* data, size_t n) {
        if (!cdb.readsAtLeast(static_cast<uint32_t>(n)))
            return refuse();
        answerWith(command, data, n);
    };
    auto done = [&](std::string what) {
        if (!cdb.movesNoData())
            return refuse();
        note = std::move(what);
        endGood(command, 0);
    };
    const bool richtek = pd_ == PdChip::Richtek;
    const bool cypress = pd_ == PdChip::Cypress;

    // The bus is the bridge's own; the rest needs it open.
    if (sub == kOpenBus || sub == kCloseBus) {
        if (!cdb.movesNoData())
            return refuse();
        busOpen_ = sub == kOpenBus;
        note = busOpen_ ? "PD bus open" : "PD bus closed";
        return endGood(command, 0);
    }
    if (!busOpen_ || (pd_ == PdChip::None && !hasMcu()))
        return refuse();

    switch (sub) {
    case kControlBlock: {
        if (value != 0x1000)
            return refuse();
        uint8_t block[16] = {};
        block[0] = kControlSignature;
        block[1] = vendorCode();
        block[8] = hasMcu() ? 1 : 0;
        return reply(block, sizeof block);
    }
    case kDeviceMode: {
        if (!ccgType() || value != 0x100 || !running_ || flashMode_)
            return refuse();
        uint8_t mode = static_cast<uint8_t>(runningBank_);
        return reply(&mode, 1);
    }
    case kRichtekVersion:
        if (!richtek || !running_ || flashMode_)
            return refuse();
        return reply(version_.data(), 2);
    case kVersion1:
    case kVersion2: {
        if (!(cypress || ccgType()) || value != 0x1000 || !running_ || flashMode_ || (cypress && sub == kVersion2))
            return refuse();
        uint8_t block[16];
        std::array<uint8_t, 8> v = ccgType() ? bankVersion(sub == kVersion1 ? 1 : 2) : version_;
        // The running image's version, then the version of the image asked for.
        std::memcpy(block, version_.data(), 8);
        std::memcpy(block + 8, v.data(), 8);
        return reply(block, sizeof block);
    }
    case kMtpArea:
        if (!richtek || index != 0x3FFF)
            return refuse();
        flashMode_ = true;
        running_ = false;
        return done("MTP area open");
    case kCypressFlashMode:
    case kCcgFlashMode:
        if ((sub == kCypressFlashMode) != cypress || !(cypress || ccgType()))
            return refuse();
        flashMode_ = true;
        running_ = false;
        return done("flash mode");
    case kWriteWord: {
        if (!richtek || !flashMode_ || !cdb.movesNoData() || value >= kRichtekSize / 4)
            return refuse();
        for (size_t i = 0; i < 4; ++i)
            flash_[value * 4u + i] = cdb[4 + i];
        flashDirty_ = true;
        note = "MTP word " + std::to_string(value);
        return endGood(command, 0);
    }
    case kReadBytes: {
        const size_t n = cdb[7];
        if (!richtek || value != 0x1000 || n == 0 || n > kRichtekReadMax || index + n > kRichtekSize)
            return refuse();
        return reply(flash_.data() + index, n);
    }
    case kCypressWriteRow:
    case kCcgWriteRow: {
        const size_t rows = flash_.size() / kRow;
        if ((sub == kCypressWriteRow) != cypress || !(cypress || ccgType()) || !flashMode_ || value >= rows ||
            !cdb.writesExactly(kRow))
            return refuse();
        std::memcpy(flash_.data() + size_t{value} * kRow, command.data, kRow);
        flashDirty_ = true;
        note = "row " + std::to_string(value) + " written";
        return endGood(command, kRow);
    }
    case kCypressReadRow:
    case kCcgReadRow: {
        const size_t rows = flash_.size() / kRow;
        if ((sub == kCypressReadRow) != cypress || !(cypress || ccgType()) || value >= rows)
            return refuse();
        return reply(flash_.data() + size_t{value} * kRow, kRow);
    }
    case kMcuBootloader:
    case kMcuBootloader2:
        if (!hasMcu())
            return refuse();
        bootloader_ = true;
        return done("MCU bootloader");
    case kMcuWrite:
    case kMcuRead: {
        const size_t n = cdb[6];
        if (!hasMcu() || n == 0 || (value != kMcuSegment && value != 0) || index + n > kMcuSize)
            return refuse();
        if (sub == kMcuRead)
            return reply(mcuFlash_.data() + index, n);
        if (!bootloader_ || !cdb.writesExactly(static_cast<uint32_t>(n)))
            return refuse();
        std::memcpy(mcuFlash_.data() + index, command.data, n);
        mcuDirty_ = true;
        note = "MCU " + std::to_string(n) + " bytes at " + std::to_string(index);
        return endGood(command, static_cast<uint32_t>(n));
    }
    default: return refuse();
    }
}

}  // namespace krv::bench
