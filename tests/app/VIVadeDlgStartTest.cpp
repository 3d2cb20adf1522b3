// Start on a bench window: every refusal with what the operator is told (a
// box in the window, the message file and the exit code in command-line
// mode), the serial-number and file-size edges, the ports a run takes, the
// images built for each of them, and the "/S" job reaching Start.
//
// Most cases fill the device table by hand (a KRV857x of chip major revision
// 1 with a PD controller and firmware 240517800201 per port), which lets a
// case give one port another chip or no firmware version; the run that
// passes is also shown on devices a real scan of the bench found.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/ConfigTable.h"
#include "app/PDUpdateDlg.h"
#include "device/KrvnUSBDev.h"
#include "tests/app/VIVadeDlgTestSupport.h"

namespace krv::test {
namespace {

// The firmware the hand-filled devices run and the file of it: version
// 24 05 17 80 02 01 (PD type byte 0x80: a PD controller, internal), the
// signature byte of a byte-sum image for chip major revision 1.
constexpr const char* kVersion = "240517800201";
constexpr const char* kFWName = "KV_USB4_240517_80_02_01.bin";
constexpr uint8_t kRev1Signature = 0x4B;
constexpr size_t kFWFileSize = 65280 + 32736;

constexpr int32_t kRefused = CVIVadeDlg::CMDLINE_EXIT_REFUSED;
constexpr int32_t kBadSetting = CVIVadeDlg::CMDLINE_EXIT_BAD_OPTION;

constexpr const char* kPreCheckText =
    "Error!!\nPlease check following setting:\n1. <<More Config>>\n2. <<Update FW>>\n3. <<Update Config>>\n4. FW path";

void writeFirmware(const std::string& path, const std::vector<uint8_t>& version, uint8_t signature)
{
    std::string bytes(kFWFileSize, '\x11');
    for (size_t i = 0; i < version.size(); ++i)
        bytes[0x204 + i] = static_cast<char>(version[i]);
    bytes[kFWFileSize - 6] = static_cast<char>(signature);
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string serialField(const DevInfo& port)
{
    const uint8_t* p = port.m_ucU3Config + CONFIG_SERIAL_OFFSET;
    return std::string(p, std::find(p, p + CONFIG_SERIAL_LENGTH, 0xFF));
}

// A window after start-up on settings that let a run start: firmware update
// and reload on, configuration format 4, serial AAAABBBB0001 counting in
// hex, no factory vendor id (so no question is asked).
class StartFixture : public DlgFixture {
public:
    explicit StartFixture(int ports = 1) : DlgFixture(ports)
    {
        std::memset(g_UsbDev.m_ucConfigTableTemplate, 0, sizeof g_UsbDev.m_ucConfigTableTemplate);
        pUtility.m_strChipVersion.clear();
        fwPath = programDir.file(kFWName);
        writeFirmware(fwPath, {0x24, 0x05, 0x17, 0x80, 0x02, 0x01}, kRev1Signature);
    }

    void startUp(const std::function<void(IniRecord&)>& change = {})
    {
        writeSettings([&](IniRecord& r) {
            r.fw_enable = 1;
            r.fw_reload = 1;
            r.fw_binary_name.set(fwPath);
            r.config_format = 4;
            r.vendor_id.set("1A2B");
            r.USB4_VendorID.set("1A2B");
            r.serial_number.set("AAAABBBB0001");
            r.SN_EditType = 1;
            if (change)
                change(r);
        });
        dlg->OnInitDialog();
    }

    // Slots 0 .. n-1 hold one device each.
    void fillDevices(int n)
    {
        DevList& list = dlg->m_DevList;
        for (int slot = 0; slot < n; ++slot) {
            DevInfo& d = list.Devs[slot];
            d.m_ucPortIndex = static_cast<uint8_t>(slot);
            d.m_strFWVersion = kVersion;
            d.m_ucChipMajorRev = 1;
            d.m_ucPDType = 1;
            d.m_ullCapacity = 256ULL << 30;
            d.m_strUSBSpeed = "SUPER";
            d.m_strVID = "3E9A";
            d.m_strHDDSN = "DISK" + std::to_string(slot);
        }
        list.DevNums = n;
    }

    void commandLine()
    {
        dlg->m_iRunMode = 0;
        pUtility.m_bCommandLineMode = true;
    }

    void pressStart() { dlg->sendCommand(IDC_BUTTON_START); }
    bool started() const { return dlg->m_pMainThread != nullptr; }
    std::vector<std::string> boxes() const
    {
        std::vector<std::string> texts;
        for (const auto& record : messages.records())
            texts.push_back(record.text);
        return texts;
    }
    std::string messageFile() const { return readText(programDir.file(PROGRAM_MESSAGE_FILE)); }

    std::string fwPath;
};

// Each refusal, in the window and on the command line: the same texts (boxes
// there, lines of the message file here), no run, and on the command line
// the process ends with the code.
TEST(VIVadeDlgStart, EveryRefusalTellsWhyAndEndsACommandLineRunWithItsCode)
{
    struct Case {
        const char* name;
        int devices;
        std::function<void(IniRecord&)> settings;
        std::function<void(StartFixture&)> prepare;
        std::vector<std::string> texts;  // "{prog}" stands for the program folder
        int32_t code;
        const char* serialAfter = nullptr;  // the serial box after the refusal, when it matters
    };
    const auto setSerial = [](const char* text) {
        return [text](StartFixture& f) { f.dlg->setControlText(IDC_EDIT_SERIAL_NUMBER, text); };
    };
    const Case cases[] = {
        {"no device", 0, {}, {}, {}, CVIVadeDlg::CMDLINE_EXIT_NO_DEVICE},
        {"fixed serial length", 1, [](IniRecord& r) { r.SN_fix_length = 14; }, {},
         {"input SN should have 14 digits"}, kRefused, ""},
        {"serial shorter than 12", 1, {}, setSerial("ABCDEF"), {"SN should have at least 12 digits"}, kRefused,
         "ABCDEF"},
        {"serial not hex", 1, {}, setSerial("AAAABBBB000G"), {"SN digits [AAAABBBB000G] should be all heximal"},
         kRefused, ""},
        {"serial not decimal", 1, [](IniRecord& r) { r.SN_EditType = 2; }, {},
         {"SN digits [AAAABBBB0001] should be all decimal"}, kRefused, ""},
        {"identity formats", 1, {},
         [](StartFixture& f) {
             f.dlg->setControlText(IDC_EDIT_VENDOR_ID, "3E9");
             f.dlg->setControlText(IDC_EDIT_DEVICE_REVISION, "01");
         },
         {"VID Format not valid \r\nDevice Revision Format not valid \r\n"}, kRefused},
        {"disk serial shorter than SN_Numbers", 1, [](IniRecord& r) { r.SN_EditType = 4; },
         [](StartFixture& f) {
             pIni.m_pINI.SN_Numbers = 16;
             f.dlg->setControlText(IDC_EDIT_SERIAL_NUMBER, "12345");
         },
         {"Serial Number Invalid, at least 16 digits\r\n"}, kRefused, "000000012345"},
        {"USB4 field length", 1, {},
         [](StartFixture& f) { f.dlg->setControlText(IDC_EDIT_U4_COMPONENT_ID, "0123456789"); },
         {"USB4 Component ID lenth check fail"}, kRefused},
        {"limitation table", 1, {},
         [](StartFixture& f) {
             f.dlg->m_LimitationTable.vParseFeatureText("[chk_item]\ncheck_vid=1\n[chk_value]\nvid=FFFF\n");
             f.dlg->m_bLimitationTableLoaded = 1;
         },
         {}, kRefused},
        {"both images off", 1, {}, [](StartFixture&) { pIni.m_pINI.image0 = 0; },
         {"please check dual image setting in more config or ini file"}, kBadSetting},
        {"a device without a firmware version, to be updated", 2, {},
         [](StartFixture& f) { f.dlg->m_DevList.Devs[1].m_strFWVersion.clear(); }, {"check FW dev [0,0]"},
         kRefused},
        {"firmware for another PD type", 1, {}, [](StartFixture& f) { f.dlg->m_DevList.Devs[0].m_ucPDType = 0; },
         {"can not update PD FW to PDX device"}, kRefused},
        {"write/read file one byte too large", 1, {},
         [](StartFixture& f) {
             f.dlg->m_DevList.m_bDoWrRdTest = 1;
             std::ofstream(f.programDir.file("rwtest.bin")).close();
             std::filesystem::resize_file(f.programDir.file("rwtest.bin"), 0xB400001);
         },
         {"{prog}/rwtest.bin WrRdTest file size too large"}, kBadSetting},
        {"write/read file not a file", 1, {},
         [](StartFixture& f) {
             f.dlg->m_DevList.m_bDoWrRdTest = 1;
             std::filesystem::create_directory(f.programDir.file("rwtest.bin"));
         },
         {"R/W test file Error because the ini info is incorrect"}, kBadSetting},
        {"write/read file missing", 1, {}, [](StartFixture& f) { f.dlg->m_DevList.m_bDoWrRdTest = 1; },
         {"{prog}/rwtest.bin File/Path Not Read/Write"}, kRefused},
        {"firmware file missing", 1,
         [](IniRecord& r) { r.fw_binary_name.set(std::string(r.fw_binary_name.view()) + ".gone"); }, {},
         {"{prog}/KV_USB4_240517_80_02_01.bin.gone File/Path Not Read/Write"}, kRefused},
        {"no test item", 1,
         [](IniRecord& r) {
             r.fw_enable = 0;
             r.fw_reload = 0;
         },
         {}, {kPreCheckText}, kRefused},
        {"chip of slot 2 takes other firmware", 3, {},
         [](StartFixture& f) { f.dlg->m_DevList.Devs[2].m_ucChipMajorRev = 3; },
         {"Chip and FW don't match. Port:2 ."}, kRefused},
        {"firmware file name and content differ", 1,
         [](IniRecord& r) {
             const std::string other = std::filesystem::path(r.fw_binary_name.str()).parent_path() /
                                       "KV_USB4_240517_80_02_09.bin";
             writeFirmware(other, {0x24, 0x05, 0x17, 0x80, 0x02, 0x01}, kRev1Signature);
             r.fw_binary_name.set(other);
         },
         {}, {"FW check is incorrect."}, kRefused},
        {"no device with a firmware version", 2,
         [](IniRecord& r) {
             r.fw_enable = 0;
             r.fw_reload = 0;
             r.format_enable = 1;
         },
         [](StartFixture& f) {
             for (DevInfo& d : f.dlg->m_DevList.Devs)
                 d.m_strFWVersion.clear();
         },
         {}, kRefused},
        {"external PD update without a detected PD controller", 1,
         [](IniRecord& r) {
             const std::string pd = std::filesystem::path(r.fw_binary_name.str()).parent_path() / "pd.bin";
             std::ofstream(pd, std::ios::binary) << std::string(16384, '\x5A');
             r.pd_fw_enable = 1;
             r.pd_binary_name.set(pd);
         },
         [](StartFixture& f) { f.dlg->m_DevList.m_bDoExtUpdateFW = 1; },
         {"The PD device is Unknow or Failed detection!!!"}, kRefused},
        {"external MCU update with a missing file", 1,
         [](IniRecord& r) {
             r.mcu_fw_enable = 1;
             r.mcu_binary_name.set((std::filesystem::path(r.fw_binary_name.str()).parent_path() / "mcu.hex").string());
         },
         [](StartFixture& f) { f.dlg->m_DevList.m_bDoExtUpdateFW = 1; },
         {"{prog}/mcu.hex File/Path Not Read/Write"}, kRefused},
        {"serial number wraps", 2, [](IniRecord& r) { r.serial_number.set("FFFFFFFFFFFF"); }, {},
         {"SN [FFFFFFFFFFFF] cannot count up 1 more without wrapping around: port 1 would repeat a serial number"},
         kRefused},
        {"one serial for two ports", 2, [](IniRecord& r) { r.SN_EditType = 0; }, {},
         {"SN [AAAABBBB0001] would be written to port 0 and port 1"}, kRefused},
        // The ports' serial numbers fit; the one stored for the next run
        // would wrap around to 000000000000.
        {"serial number wraps by the end of the run", 2, [](IniRecord& r) { r.serial_number.set("FFFFFFFFFFFE"); },
         {},
         {"SN [FFFFFFFFFFFE] cannot count up 2 more without wrapping around: the next run would start at "
          "[000000000000]"},
         kRefused},
        {"kept prefix leaves nothing to count", 2,
         [](IniRecord& r) {
             r.SN_remain_value_enable = 1;
             r.SN_remain_value_length = -7;
         },
         {}, {"SN_remain_value_length [20] keeps all of SN [AAAABBBB0001]: no digit is left to count up"}, kRefused},
        // Formats without a layout: the bridge's configuration would be
        // replaced by bytes with no mark and no checksum.
        {"config_format 2", 1, [](IniRecord& r) { r.config_format = 2; }, {},
         {"config_format [2] builds no configuration image for port 0: nothing is written"}, kBadSetting},
        {"config_format 5", 1, [](IniRecord& r) { r.config_format = 5; }, {},
         {"config_format [5] builds no configuration image for port 0: nothing is written"}, kBadSetting},
        // Waits a run would sleep for years on, or give up on at once.
        {"re-link wait of 68 years", 1, [](IniRecord& r) { r.Reload_Waiting = 2147483647; }, {},
         {"Reload_Waiting [2147483647] is no wait of a run: it must be 1 to 60 seconds"}, kBadSetting},
        {"negative re-link wait", 1, [](IniRecord& r) { r.Reload_Waiting = -5; }, {},
         {"Reload_Waiting [-5] is no wait of a run: it must be 1 to 60 seconds"}, kBadSetting},
        {"no re-link wait", 1, [](IniRecord& r) { r.Reload_Waiting = 0; }, {},
         {"Reload_Waiting [0] is no wait of a run: it must be 1 to 60 seconds"}, kBadSetting},
        {"removal wait of 68 years", 1,
         [](IniRecord& r) {
             r.Auto_Safe_Remove = 1;
             r.uiRemove_after_finish = 2147483647;
         },
         {}, {"uiRemove_after_finish [2147483647] is no wait of a run: it must be 0 to 600 seconds"}, kBadSetting},
    };
    for (const Case& c : cases) {
        for (const bool commandLine : {false, true}) {
            const std::string name = std::string(c.name) + (commandLine ? " (command line)" : " (window)");
            StartFixture f(std::max(c.devices, 1));
            f.startUp(c.settings);
            f.fillDevices(c.devices);
            if (c.prepare)
                c.prepare(f);
            if (commandLine)
                f.commandLine();
            f.pressStart();

            std::vector<std::string> texts;
            for (std::string text : c.texts) {
                if (const size_t at = text.find("{prog}"); at != std::string::npos)
                    text.replace(at, 6, f.programDir.path());
                texts.push_back(text);
            }
            EXPECT_FALSE(f.started()) << name;
            if (c.serialAfter) {
                EXPECT_EQ(f.dlg->controlText(IDC_EDIT_SERIAL_NUMBER), c.serialAfter) << name;
            }
            if (commandLine) {
                ASSERT_TRUE(f.runUntilEnded()) << name;
                EXPECT_EQ(f.endCodes, std::vector<int>{c.code}) << name;
                // One line per message: a text that ends its line gets no
                // second, empty one.
                std::string lines;
                for (const std::string& text : texts)
                    lines += text.ends_with("\r\n") ? text : text + "\r\n";
                EXPECT_EQ(f.messageFile(), lines) << name;
                EXPECT_TRUE(f.boxes().empty()) << name;
            } else {
                EXPECT_EQ(f.boxes(), texts) << name;
                EXPECT_TRUE(f.endCodes.empty()) << name;
                EXPECT_TRUE(f.dlg->isControlEnabled(IDC_BUTTON_START)) << name;
            }
        }
    }
}

// Two refusals at the go: the window shows both, the command line ends at
// the first, and only that one is in the message file.
TEST(VIVadeDlgStart, TheCommandLineTellsOnlyTheFirstRefusal)
{
    for (const bool commandLine : {false, true}) {
        StartFixture f(2);
        f.startUp([](IniRecord& r) {
            const std::string other = std::filesystem::path(r.fw_binary_name.str()).parent_path() /
                                      "KV_USB4_240517_80_02_09.bin";
            writeFirmware(other, {0x24, 0x05, 0x17, 0x80, 0x02, 0x01}, kRev1Signature);
            r.fw_binary_name.set(other);
        });
        f.fillDevices(2);
        f.dlg->m_DevList.Devs[1].m_ucChipMajorRev = 3;
        if (commandLine)
            f.commandLine();
        f.pressStart();
        EXPECT_FALSE(f.started());
        if (commandLine) {
            ASSERT_TRUE(f.runUntilEnded());
            EXPECT_EQ(f.endCodes, std::vector<int>{kRefused});
            EXPECT_EQ(f.messageFile(), "Chip and FW don't match. Port:1 .\r\n");
        } else {
            EXPECT_EQ(f.boxes(), (std::vector<std::string>{"Chip and FW don't match. Port:1 .", "FW check is incorrect."}));
        }
    }
}

// A drive the scan met but left out (not identified, past the device
// table, or its firmware version not read) would stay as it is while a line script reads the exit
// code as "all programmed": the command line refuses the run, the window
// runs the drives it shows.
TEST(VIVadeDlgStart, ACommandLineRunWithADriveLeftOutIsRefused)
{
    const struct {
        const char* name;
        std::function<void(StartFixture&)> leaveOut;
    } cases[] = {
        {"not identified", [](StartFixture& f) { f.dlg->m_DevList.m_ucUnidentified = 1; }},
        {"no firmware version", [](StartFixture& f) { f.dlg->m_DevList.Devs[1].m_strFWVersion.clear(); }},
    };
    for (const auto& c : cases) {
        for (const bool commandLine : {false, true}) {
            StartFixture f(2);
            f.startUp([](IniRecord& r) {
                r.fw_enable = 0;
                r.fw_reload = 0;
                r.format_enable = 1;
            });
            f.fillDevices(2);
            c.leaveOut(f);
            if (commandLine)
                f.commandLine();
            f.pressStart();
            if (!commandLine) {
                EXPECT_TRUE(f.started()) << c.name << ::testing::PrintToString(f.boxes());
                continue;
            }
            EXPECT_FALSE(f.started()) << c.name;
            ASSERT_TRUE(f.runUntilEnded()) << c.name;
            EXPECT_EQ(f.endCodes, std::vector<int>{kRefused}) << c.name;
            EXPECT_EQ(f.messageFile(), "1 drive(s) on the bus are not in the run (not identified, past the table, "
                                       "or no firmware version read): the run is refused\r\n")
                << c.name;
        }
    }
}

// A run on devices a scan of the bench found: every port takes part, with
// the counts, and each port gets its own images.
TEST(VIVadeDlgStart, StartsTheSupervisorWithEachPortsOwnImages)
{
    StartFixture f(3);
    g_UsbDev.vInitialize();
    f.startUp();
    {
        CVIVadeDlg::CScanSettings settings;
        settings.strTargetChipCode = "0";
        std::lock_guard lock(pUtility.m_ScanCriticalSection);
        f.dlg->vScanUSBPort(settings);
    }
    DevList& list = f.dlg->m_DevList;
    ASSERT_EQ(list.DevNums.load(), 3);
    // The firmware file of what the drives run, for their chip and PD type.
    const std::string version = list.Devs[0].m_strFWVersion;
    ASSERT_EQ(version.size(), 12u);
    ASSERT_EQ(list.Devs[0].m_ucChipMajorRev, 1);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < 12; i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(version.substr(i, 2), nullptr, 16)));
    // The type byte says PD controller or not as the drive does; its
    // external bit is the running firmware's.
    bytes[3] = static_cast<uint8_t>((bytes[3] & 0x7F) | (list.Devs[0].m_ucPDType == 1 ? 0x80 : 0x00));
    char name[64];
    std::snprintf(name, sizeof name, "KV_USB4_%02X%02X%02X_%02X_%02X_%02X.bin", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5]);
    const std::string fw = f.programDir.file(name);
    writeFirmware(fw, bytes, kRev1Signature);
    pIni.m_pINI.fw_binary_name.set(fw);
    f.dlg->vSetDeviceFirmwareGUIByINIFile();

    f.pressStart();
    ASSERT_TRUE(f.started()) << ::testing::PrintToString(f.boxes());
    EXPECT_TRUE(f.boxes().empty());

    const MainThreadParam& param = f.dlg->m_MainThreadParam;
    EXPECT_EQ(param.hWnd, f.dlg.get());
    EXPECT_EQ(std::vector<uint8_t>(param.m_ucPortEnable, param.m_ucPortEnable + 4),
              (std::vector<uint8_t>{1, 1, 1, 0}));
    EXPECT_EQ(param.m_ucThreadCount, 3);
    EXPECT_EQ(param.m_ucDiskCount, 3);
    EXPECT_EQ(param.m_ucItemCount, 3);  // update (two items) and reload

    const char* const serials[] = {"AAAABBBB0001", "AAAABBBB0002", "AAAABBBB0003"};
    for (int slot = 0; slot < 3; ++slot) {
        const DevInfo& port = list.Devs[slot];
        // USB-3 image: the window's identity, the serial counted by slot.
        EXPECT_EQ(serialField(port), serials[slot]) << slot;
        EXPECT_EQ(port.m_ucU3Config[116], 0x2B) << slot;
        EXPECT_EQ(port.m_ucU3Config[117], 0x1A) << slot;
        EXPECT_EQ(port.m_ucU3Config[126], 0x5A) << slot;
        // USB4 image: the relink signature is the devices present and the slot.
        EXPECT_EQ(port.m_ucU4Config[124], 3) << slot;
        EXPECT_EQ(port.m_ucU4Config[125], slot) << slot;
        EXPECT_EQ(port.m_ucU4Config[126], 0xA5) << slot;
        EXPECT_EQ(port.m_dwWrRdTestSize, 0xFFFFFFFFu) << slot;
    }
    // The device object's current images are the last port's.
    EXPECT_EQ(std::memcmp(g_UsbDev.m_ucConfigTable, list.Devs[2].m_ucU3Config, 128), 0);
    EXPECT_EQ(std::memcmp(g_UsbDev.m_ucU4ConfigTable, list.Devs[2].m_ucU4Config, 128), 0);

    EXPECT_EQ(list.m_bDoConfigReadBack, 1);
    EXPECT_EQ(list.m_bDoReload, 1);
    EXPECT_EQ(f.dlg->m_iRelinkCount, 3);
    EXPECT_EQ(pUtility.g_strFWFileName, fw);
    EXPECT_FALSE(f.dlg->isControlEnabled(IDC_BUTTON_START));
    EXPECT_TRUE(runEventsUntil([&] { return !f.dlg->m_pMainThread->bIsRunning(); }));
}

// Format 3 with one drive: Start makes the firmware file of what the drive
// runs, unless a file of that name is there, and runs with it; the exit
// deletes the file only when Start made it.
TEST(VIVadeDlgStart, TheFirmwareFileOfTheOneDriveIsMadeAndOnlyThatIsDeleted)
{
    for (const bool operatorsFile : {false, true}) {
        StartFixture f(1);
        g_UsbDev.vInitialize();
        f.startUp([](IniRecord& r) {
            r.config_format = 3;
            r.fw_binary_name.set("chosen.bin");
        });
        {
            CVIVadeDlg::CScanSettings settings;
            settings.strTargetChipCode = "0";
            std::lock_guard lock(pUtility.m_ScanCriticalSection);
            f.dlg->vScanUSBPort(settings);
        }
        const std::string version = f.dlg->m_DevList.Devs[0].m_strFWVersion;
        ASSERT_EQ(version.size(), 12u);
        std::string digits = version;
        std::transform(digits.begin(), digits.end(), digits.begin(), [](char c) { return std::toupper(c); });
        const std::string name = "KV_USB4_" + digits.substr(0, 6) + "_" + digits.substr(6, 2) + "_" +
                                 digits.substr(8, 2) + "_" + digits.substr(10, 2) + ".bin";
        const std::string file = f.programDir.file(name);
        if (operatorsFile) {
            std::vector<uint8_t> bytes;
            for (size_t i = 0; i < 12; i += 2)
                bytes.push_back(static_cast<uint8_t>(std::stoul(version.substr(i, 2), nullptr, 16)));
            writeFirmware(file, bytes, kRev1Signature);
        }

        f.pressStart();
        ASSERT_TRUE(f.started()) << operatorsFile << ::testing::PrintToString(f.boxes());
        EXPECT_EQ(pUtility.g_strFWFileName, name) << operatorsFile;
        ASSERT_TRUE(std::filesystem::exists(file)) << operatorsFile;
        ASSERT_TRUE(runEventsUntil([&] { return !f.dlg->m_pMainThread->bIsRunning(); }));
        f.dlg->OnBnClickedOk();
        ASSERT_TRUE(f.runUntilEnded());
        EXPECT_EQ(std::filesystem::exists(file), operatorsFile) << operatorsFile;
    }
}

// The serial box's rules by edit type, and what the run then carries.
TEST(VIVadeDlgStart, SerialNumberEdges)
{
    struct Case {
        const char* name;
        std::function<void(IniRecord&)> settings;
        const char* typed;
        // serial_number after Start: the run's serial numbers already count
        // as used when the run moves them on.
        const char* stored;
        const char* image;   // slot 0's serial field
    } cases[] = {
        {"disk serials ignore the fixed length",
         [](IniRecord& r) {
             r.SN_EditType = 4;
             r.SN_fix_length = 14;
         },
         "AAAABBBB0001", "AAAABBBB0001", "DISK0"},
        {"scanned serials skip the length and digit checks and are padded",
         [](IniRecord& r) { r.SN_EditType = 3; }, "12G45", "000000012G45", "000000012G45"},
        {"a kept prefix is not checked for hex digits",
         [](IniRecord& r) {
             r.SN_remain_value_enable = 1;
             r.SN_remain_value_length = 4;
         },
         "ZZ12000000FF", "ZZ1200000100", "ZZ12000000FF"},
    };
    for (const auto& c : cases) {
        StartFixture f;
        f.startUp(c.settings);
        f.fillDevices(1);
        f.dlg->setControlText(IDC_EDIT_SERIAL_NUMBER, c.typed);
        f.pressStart();
        EXPECT_TRUE(f.started()) << c.name;
        EXPECT_TRUE(f.boxes().empty()) << c.name;
        EXPECT_EQ(pIni.m_pINI.serial_number, c.stored) << c.name;
        EXPECT_EQ(serialField(f.dlg->m_DevList.Devs[0]), c.image) << c.name;
    }
}

// Without the firmware update a device without a firmware version stays
// out of the run; a test file of exactly the largest size is taken, and each
// port that runs tests with its size.
TEST(VIVadeDlgStart, PortsWithoutFirmwareVersionStayOutAndTheLargestTestFileRuns)
{
    StartFixture f(3);
    f.startUp([](IniRecord& r) {
        r.fw_enable = 0;
        r.fw_reload = 0;
    });
    f.fillDevices(3);
    DevList& list = f.dlg->m_DevList;
    list.Devs[1].m_strFWVersion.clear();
    list.Devs[2].m_ullCapacity = DEV_CAPACITY_UNKNOWN;
    list.m_bDoWrRdTest = 1;
    std::ofstream(f.programDir.file("rwtest.bin")).close();
    std::filesystem::resize_file(f.programDir.file("rwtest.bin"), 0xB400000);
    f.pressStart();
    ASSERT_TRUE(f.started()) << ::testing::PrintToString(f.boxes());
    const MainThreadParam& param = f.dlg->m_MainThreadParam;
    EXPECT_EQ(std::vector<uint8_t>(param.m_ucPortEnable, param.m_ucPortEnable + 4),
              (std::vector<uint8_t>{1, 0, 1, 0}));
    EXPECT_EQ(param.m_ucThreadCount, 2);
    EXPECT_EQ(param.m_ucDiskCount, 1);
    EXPECT_EQ(param.m_ucItemCount, 1);
    EXPECT_EQ(list.Devs[0].m_dwWrRdTestSize, 0xB400000u);
    EXPECT_EQ(list.Devs[1].m_dwWrRdTestSize, 0u);
    EXPECT_EQ(list.Devs[2].m_dwWrRdTestSize, 0xB400000u);
}

// Only the formats with a relink signature reload; format 1 switches reload
// off in the settings, the table and the window, and builds no USB4 image.
TEST(VIVadeDlgStart, ConfigFormatOneRunsWithoutReload)
{
    for (const uint8_t format : {1, 4}) {
        StartFixture f;
        f.startUp([format](IniRecord& r) { r.config_format = format; });
        f.fillDevices(1);
        ASSERT_EQ(f.dlg->checkState(IDC_CHECK_RELOAD_FW), 1);
        f.pressStart();
        ASSERT_TRUE(f.started()) << int(format);
        const bool reload = format == 4;
        EXPECT_EQ(pIni.m_pINI.fw_reload, reload ? 1 : 0) << int(format);
        EXPECT_EQ(f.dlg->m_DevList.m_bDoReload, reload ? 1 : 0) << int(format);
        EXPECT_EQ(f.dlg->checkState(IDC_CHECK_RELOAD_FW), reload ? 1 : 0) << int(format);
        EXPECT_EQ(f.dlg->m_iRelinkCount, reload ? 1 : RELINK_COUNT_RESET) << int(format);
        EXPECT_EQ(f.dlg->m_DevList.Devs[0].m_ucU4Config[126], reload ? 0xA5 : 0x00) << int(format);
        // Counted before reload is switched off.
        EXPECT_EQ(f.dlg->m_MainThreadParam.m_ucItemCount, 3) << int(format);
    }
}

// The factory vendor id is asked about in the window without automatic
// start only; No leaves everything as it was.
TEST(VIVadeDlgStart, FactoryVendorIdIsAskedAboutOnlyWhenSomebodyCanAnswer)
{
    struct Case {
        const char* name;
        bool commandLine;
        uint8_t autoMp;
        int answer;  // 0: none queued
        bool asked;
        bool started;
    } cases[] = {
        {"window, answer No", false, 0, krv::id::kNo, true, false},
        {"window, answer Yes", false, 0, krv::id::kYes, true, true},
        {"window with automatic start", false, 1, 0, false, true},
        {"command line", true, 0, 0, false, true},
    };
    for (const auto& c : cases) {
        StartFixture f;
        f.startUp([&](IniRecord& r) {
            r.vendor_id.set("3E9A");
            r.auto_mp = c.autoMp;
        });
        f.fillDevices(1);
        if (c.commandLine)
            f.commandLine();
        if (c.answer != 0)
            f.messages.queueAnswer(c.answer);
        const IniRecord before = pIni.m_pINI;
        f.pressStart();
        const auto records = f.messages.records();
        EXPECT_EQ(!records.empty(), c.asked) << c.name;
        if (!records.empty()) {
            EXPECT_EQ(records[0].text, "Update VID with default value ?") << c.name;
            EXPECT_EQ(records[0].caption, "warning") << c.name;
        }
        EXPECT_EQ(f.started(), c.started) << c.name;
        EXPECT_TRUE(f.endCodes.empty()) << c.name;
        if (!c.started) {
            EXPECT_TRUE(pIni.m_pINI == before) << c.name;
        }
    }
}

// The "/S" job sends Start: a refusal ends the process with Start's code,
// a start hands the process to the supervisor.
TEST(VIVadeDlgStart, CommandLineJobRunsStart)
{
    for (const bool refuse : {true, false}) {
        StartFixture f;
        f.startUp();
        f.fillDevices(1);
        if (refuse)
            pIni.m_pINI.image0 = 0;
        f.commandLine();
        f.dlg->m_iCmdIndex = CVIVadeDlg::CMD_JOB_START;
        f.dlg->vCmdLineHandler();
        EXPECT_EQ(f.started(), !refuse);
        if (refuse) {
            ASSERT_TRUE(f.runUntilEnded());
            EXPECT_EQ(f.endCodes, std::vector<int>{kBadSetting});
        } else {
            EXPECT_TRUE(f.endCodes.empty());
        }
    }
}

// With the external PD/MCU update on, Start makes the PD/MCU update window
// anew at every press: modeless and without a parent beside the window, and
// never shown to a command-line run, which nothing may block.
TEST(VIVadeDlgStart, ExternalUpdateMakesTheUpdateWindowModelessAndNeverShowsItOnTheCommandLine)
{
    for (const bool commandLine : {false, true}) {
        StartFixture f;
        f.startUp([](IniRecord& r) {
            const std::string pd = std::filesystem::path(r.fw_binary_name.str()).parent_path() / "pd.bin";
            std::ofstream(pd, std::ios::binary) << std::string(16384, '\x5A');
            r.pd_fw_enable = 1;
            r.pd_binary_name.set(pd);
        });
        f.fillDevices(1);
        f.dlg->m_DevList.m_bDoExtUpdateFW = 1;
        if (commandLine)
            f.commandLine();
        f.pressStart();
        ASSERT_TRUE(f.dlg->m_pPDUpdateDlg) << commandLine;
        const CPDUpdateDlg& window = *f.dlg->m_pPDUpdateDlg;
        EXPECT_EQ(window.m_strPDFilePath, pIni.m_pINI.pd_binary_name.str());
        EXPECT_EQ(window.m_ucPDEnable, 1);
        EXPECT_FALSE(window.isModal());
        EXPECT_EQ(window.parentWidget(), nullptr);
        EXPECT_EQ(window.isVisible(), !commandLine);
        if (commandLine) {
            ASSERT_TRUE(f.runUntilEnded());
            continue;
        }
        // The next press replaces it.
        const std::weak_ptr<CPDUpdateDlg> first = f.dlg->m_pPDUpdateDlg;
        f.pressStart();
        EXPECT_TRUE(first.expired());
        EXPECT_TRUE(f.dlg->m_pPDUpdateDlg && f.dlg->m_pPDUpdateDlg->isVisible());
    }
}

}  // namespace
}  // namespace krv::test
