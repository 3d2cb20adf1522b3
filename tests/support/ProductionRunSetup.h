#pragma once
// What a production run reads from its program folder, as the run tests set
// it up: the firmware file, a preload folder, and settings that switch on the
// update and reload (configuration format 4), the format and the preload.
#include <filesystem>
#include <fstream>
#include <string>

#include "app/IniRecord.h"
#include "tests/support/FirmwareFile.h"

namespace krv::test {

// Version 24 05 17 80 02 01: a PD controller, as the bench's bridges have.
constexpr const char* kRunFirmwareName = "KV_USB4_240517_80_02_01.bin";

inline std::string runFirmware() { return firmwareFile({0x24, 0x05, 0x17, 0x80, 0x02, 0x01}); }

inline void writeRunFiles(const std::string& prog)
{
    std::ofstream(prog + "/" + kRunFirmwareName, std::ios::binary) << runFirmware();
    std::filesystem::create_directories(prog + "/preload/sub");
    std::ofstream(prog + "/preload/readme.txt", std::ios::binary) << "hello\r\n";
    std::ofstream(prog + "/preload/sub/data.bin", std::ios::binary) << std::string(70000, '\x33');
}

inline void setRunSettings(IniRecord& r, const std::string& prog)
{
    r.fw_enable = 1;
    r.fw_reload = 1;
    r.fw_binary_name.set(prog + "/" + kRunFirmwareName);
    r.config_format = 4;
    r.vendor_id.set("1A2B");
    r.USB4_VendorID.set("1A2B");
    r.serial_number.set("AAAABBBB0001");
    r.SN_EditType = 1;
    r.format_enable = 1;
    r.drive_label_name.set("KRVRUN");
    r.preload_enable = 1;
    r.preload_folder_path.set(prog + "/preload");
}

}  // namespace krv::test
