#pragma once
// The USB-C power-delivery controller behind a bench bridge, and the small
// MCU beside it, as the bridge's firmware exposes them to the host.
//
// The bridge relays two vendor commands to them:
//   EC  the PD command: an 8-byte CDB, EC SUB VALUE(2) INDEX(2) B6 B7, whose
//       sub-code opens or closes the PD I2C bus, reads the control block
//       (5A, vendor code, MCU flag at byte 8), reads versions, enters flash
//       mode (or the MCU's bootloader) and reads and writes flash;
//   EE  the I2C tunnel to an ITE controller: register reads and writes, burst
//       transfers through the flash data port (BenchPdIte.cpp).
//
// Each controller keeps its own flash layout:
//   richtek  16 KiB MTP, written as 4-byte words by word index, read 32
//            bytes at a byte address; its firmware version is the two bytes
//            at 0x1000 (low byte first).
//   cypress  256 rows of 128 bytes; its image's version is 8 bytes at row
//            0x26, byte 0.
//   ccg3/ccg 1024 rows of 128 bytes in two banks: bank 1 rows 0x030..0x1FF,
//            bank 2 rows 0x200..0x3FF, each image's version 8 bytes at byte 96
//            of its second row. At power-up it runs the bank whose image is
//            newer (a blank bank never runs); its device mode is that bank.
//   ite      64 KiB flash behind the tunnel (see BenchPdIte.cpp).
//   MCU      48 KiB flash at 0x08000000, written and read in small pieces
//            once its bootloader runs.
// Versions are taken from flash at power-up, as firmware reports what it
// booted. A stuck fault keeps a controller in flash mode at power-up: it
// then answers no version. Flash lives in the port folder ("pd-flash.bin",
// "mcu-flash.bin"), written when the bench saves the port.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/ScsiPassThrough.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/bridge/Faults.h"
#include "platform/bench/bridge/Images.h"

namespace krv::bench {

class PdController {
public:
    static constexpr uint8_t kPdCommand = 0xEC;
    static constexpr uint8_t kI2cTunnel = 0xEE;

    PdController(PdChip pd, McuChip mcu, std::string folder);

    PdChip chip() const { return pd_; }
    bool hasMcu() const { return mcu_ != McuChip::None; }
    // Reads the flash files; absent files give the factory flash.
    bool load(std::string& error);
    // Writes the flash files that changed since the last save.
    bool save(std::string& error);
    // Power comes on: buses closed, the controllers boot what their flash
    // holds, unless a stuck fault keeps them in flash mode.
    void powerUp(FaultList& faults);

    // Answers one relayed command (EC or EE). `note` says what it changed.
    void answer(ScsiCommand& command, FaultList& faults, std::string& note);

    const Bytes& flash() const { return flash_; }
    const Bytes& mcuFlash() const { return mcuFlash_; }
    bool inFlashMode() const { return flashMode_; }
    bool mcuInBootloader() const { return bootloader_; }
    // The version the controller reports, as hex text ("" while it reports
    // none): a two-byte version as a number, high byte first.
    std::string versionText() const;

    // The flash layout of a chip, for the bench's own factory images.
    static size_t flashSize(PdChip chip);

private:
    void pdCommand(ScsiCommand& command, std::string& note);
    void tunnel(ScsiCommand& command, FaultList& faults, std::string& note);
    bool ccgType() const { return pd_ == PdChip::Ccg3 || pd_ == PdChip::Ccg; }
    uint8_t vendorCode() const;
    void bootCcg();
    std::array<uint8_t, 8> bankVersion(int bank) const;

    PdChip pd_;
    McuChip mcu_;
    std::string folder_;
    Bytes flash_;
    Bytes mcuFlash_;
    bool flashDirty_ = false;
    bool mcuDirty_ = false;

    // Running state.
    bool busOpen_ = false;
    bool flashMode_ = false;
    bool bootloader_ = false;
    int runningBank_ = 0;                 // ccg types: 1 or 2; 0 none
    std::array<uint8_t, 8> version_{};    // what the running firmware reports
    bool running_ = false;                // firmware runs (answers its version)

    // The ITE controller's tunnel registers.
    struct Ite {
        bool cpuStopped = false;
        bool testMode = false;
        bool writeEnabled = false;
        uint32_t address = 0;             // flash address register
        enum class Data { None, Read, Program } data = Data::None;
        uint32_t cursor = 0;              // where the next data-port transfer goes
        int busyPolls = 0;                // status reads left with busy set; -1 forever
        uint8_t wdt = 0x00;               // 0xFFD3
    } ite_;
    void iteWrite(uint16_t address, const uint8_t* data, size_t n, FaultList& faults, std::string& note);
    bool iteRead(uint16_t address, uint8_t* out, size_t n);
    void iteBoot();
};

}  // namespace krv::bench
