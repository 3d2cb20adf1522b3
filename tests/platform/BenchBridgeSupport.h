#pragma once
// Hand-built commands for the bench's bridges, sent the way the system's
// transport sends them: through the platform's SCSI pass-through, with the
// CDB bytes written out here (no system code involved).
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/LastError.h"
#include "platform/Platform.h"
#include "platform/ScsiPassThrough.h"

namespace krv::test {

using Bytes = std::vector<uint8_t>;

struct Answer {
    bool sent = false;        // the transport's success
    uint8_t status = 0xFF;
    uint8_t senseKey = 0;
    uint8_t asc = 0;
    uint32_t transferred = 0;
    uint32_t lastError = 0;   // when not sent
    Bytes data;               // what came in (the whole buffer)

    bool good() const { return sent && status == 0; }
    bool checkCondition(uint8_t key, uint8_t code) const { return sent && status == 2 && senseKey == key && asc == code; }
};

inline std::unique_ptr<ScsiDevice> openDrive(int number, DriveKind kind = DriveKind::PhysicalDrive)
{
    return Platform::current().scsi().open(kind, number);
}

// Sends `cdb` with `data` going out, or `inLength` bytes coming in.
inline Answer send(ScsiDevice& device, std::initializer_list<uint8_t> cdb, const Bytes& out = {}, uint32_t inLength = 0,
                   uint32_t timeoutSeconds = 3)
{
    ScsiCommand command;
    command.cdbLength = static_cast<uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), command.cdb);
    Answer answer;
    Bytes buffer = out.empty() ? Bytes(inLength, 0xEE) : out;
    command.direction = !out.empty() ? DataDirection::Out : inLength ? DataDirection::In : DataDirection::None;
    command.data = buffer.empty() ? nullptr : buffer.data();
    command.dataLength = static_cast<uint32_t>(buffer.size());
    command.timeoutSeconds = timeoutSeconds;
    setLastError(0);
    answer.sent = device.execute(command);
    answer.lastError = lastError();
    answer.status = command.scsiStatus;
    answer.senseKey = command.senseLength > 2 ? command.sense[2] : 0;
    answer.asc = command.senseLength > 12 ? command.sense[12] : 0;
    answer.transferred = command.transferred;
    answer.data = std::move(buffer);
    return answer;
}

// The commands as the system sends them.
inline Answer inquiry(ScsiDevice& d, uint8_t length = 38)
{
    return send(d, {0x12, 0, 0, 0, length, 0, 0, 0, 0, 0, 0, 0}, {}, length);
}
inline std::string chipText(const Answer& a)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X", a.data[37], a.data[36]);
    return text;
}
inline Answer readConfig(ScsiDevice& d, int image, int type)
{
    return send(d, {0xE0, static_cast<uint8_t>(0x50 + image), static_cast<uint8_t>(type), 0, 0, 0}, {}, 128);
}
inline Answer writeConfig(ScsiDevice& d, int image, int type, const Bytes& config)
{
    return send(d, {0xE1, static_cast<uint8_t>(0x50 + image), static_cast<uint8_t>(type), 0, 0, 0}, config, 0, 60);
}
inline Answer firmware(ScsiDevice& d, bool write, int bank, int part, const Bytes& out, uint32_t length)
{
    uint8_t selector = static_cast<uint8_t>(part == 0 ? 0x50 + bank : 0xD0 + bank);
    uint8_t op = write ? 0xE3 : 0xE2;
    return send(d,
                {op, selector, static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                 static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)},
                out, write ? 0 : length, write ? 60 : 3);
}
inline Answer readRegisters(ScsiDevice& d, uint32_t address, uint32_t length, bool legacyForm = false)
{
    uint8_t page = legacyForm ? 0x00 : address > 0xFFFF ? 0x51 : 0x50;
    return send(d, {0xE4, static_cast<uint8_t>(length), page, static_cast<uint8_t>(address >> 8),
                    static_cast<uint8_t>(address), 0},
                {}, length);
}
inline uint8_t registerByte(ScsiDevice& d, uint32_t address, bool legacyForm = false)
{
    Answer a = readRegisters(d, address, 1, legacyForm);
    return a.good() ? a.data[0] : 0xEE;
}
inline Answer writeRegister(ScsiDevice& d, uint32_t address, uint8_t value, bool legacyForm = false)
{
    uint8_t page = legacyForm ? 0x00 : address > 0xFFFF ? 0x51 : 0x50;
    return send(d, {0xE5, value, page, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0}, {}, 0, 60);
}
inline Answer cpuReset(ScsiDevice& d, uint8_t code = 0x50) { return send(d, {0xE8, code, 0, 0, 0, 0}, {}, 0, 6); }

// The firmware version the bridge runs: registers 0x07F0.. as the system
// reads them, in its text form.
inline std::string runningVersion(ScsiDevice& d)
{
    Answer a = readRegisters(d, 0x07F0, 7);
    if (!a.good())
        return "";
    char text[16];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", a.data[0], a.data[1], a.data[2], a.data[3], a.data[4],
                  a.data[5]);
    return text;
}

}  // namespace krv::test
