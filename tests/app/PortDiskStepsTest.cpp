// The disk steps of the port workers on a bench: partition and format on
// every port with the barrier between them, a port that failed earlier,
// CD-ROM and PCIe records, the write/read test's free-space rule, its count
// and the speed limits, and the preload copy. The steps run on worker
// threads of the window, as the port workers run them, on real time at the
// bench's scale; the volumes the format wrote are judged by fsck.fat.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/GUIText.h"
#include "app/Ini.h"
#include "app/IniProfile.h"
#include "app/run/PortWork.h"
#include "app/ResultColumns.h"
#include "app/VIVadeDlg.h"
#include "controls/ListCtrlEx.h"
#include "device/DebugLog.h"
#include "device/KrvnUSBDev.h"
#include "device/USBUtility.h"
#include "format/Fat32Format.h"
#include "platform/CaptureDebugOutput.h"
#include "platform/Paths.h"
#include "platform/StopSource.h"
#include "platform/bench/disk/DiskLayoutPlan.h"
#include "tests/format/FormatCheckers.h"
#include "tests/app/PlatformStandIns.h"
#include "tests/format/PartitionBenchSupport.h"
#include "tests/support/TestPlatform.h"
#include "tests/ui/UiTestSupport.h"

namespace krv::test {
namespace {

namespace fs = std::filesystem;

constexpr double kScale = 100;
constexpr uint64_t MiB = 1ull << 20;
constexpr const char* kLabel = "KRVDISK";
constexpr const char* kTestFile = "wrtest.bin";

struct PortPlan {
    uint64_t diskSize = 1ull << 30;
    std::string layout;   // the partitions it arrives with ("" none)
    std::string link = "USB3";
    std::string speed;    // "" the link's default
};

bench::BenchSettings benchOf(const std::vector<PortPlan>& plans, bool bUsbDisk, double scale)
{
    bench::BenchSettings settings;
    settings.timeScale = scale;
    if (bUsbDisk) {
        // A USB flash disk, off the bus until a test plugs it in.
        settings.usbDisk.emplace();
        settings.usbDisk->present = false;
    }
    for (const PortPlan& plan : plans) {
        bench::PortSettings port;
        port.diskSize = plan.diskSize;
        port.link = plan.link;
        port.speed = plan.speed;
        settings.ports.push_back(port);
    }
    return settings;
}

std::vector<bench::PortStart> startsOf(const std::vector<PortPlan>& plans)
{
    std::vector<bench::PortStart> starts(plans.size());
    for (size_t i = 0; i < plans.size(); ++i) {
        if (plans[i].layout.empty())
            continue;
        bench::DiskLayoutPlan plan;
        std::string why;
        if (!bench::parseDiskLayoutPlan(plans[i].layout, plan, why))
            throw std::runtime_error(why);
        starts[i].disk = plan;
    }
    return starts;
}

// A window on a bench of drives whose table a scan has filled, with the
// settings the disk steps read; the program folder is the current folder
// (the diskpart scripts go there). Ports are numbered from 1 as on the bench.
class DiskStepsFixture {
public:
    // With bUsbDisk the bench has a USB flash disk (one FAT32 volume
    // "FLASH"), off the bus.
    explicit DiskStepsFixture(const std::vector<PortPlan>& plans, bool bUsbDisk = false)
        : DiskStepsFixture(TimeScale(kScale), plans, bUsbDisk)
    {
    }
    // On a bench whose time runs that many times faster than real time.
    struct TimeScale {
        explicit TimeScale(double v) : value(v) {}
        double value;
    };
    DiskStepsFixture(TimeScale scale, const std::vector<PortPlan>& plans, bool bUsbDisk = false)
        : bench_(benchOf(plans, bUsbDisk, scale.value), startsOf(plans), usbDiskLayout(bUsbDisk), BenchTime::Real),
          here_(dir_.path())
    {
        vDEBUG_SetLevel(4);
        pUtility.vInitialize();
        pUtility.m_szProgramFolder = dir_.path();
        g_UsbDev.vInitialize();
        pIni.vSetProfile(IniProfileProduction());
        pIni.m_pINI = IniRecordCleared();
        pIni.vSetDefaultSettings();
        pIni.m_pINI.format_drive_type = FORMAT_TYPE_FAT32;
        pIni.m_pINI.partition_drive_type = PARTITION_STYLE_MBR;
        pIni.m_pINI.drive_label_name.set(kLabel);
        pIni.m_pINI.wr_test_binary_name.set(kTestFile);
        pIni.m_pINI.wr_test_count = 2;
        vInitListColumnHeaders();
        dlg = std::make_unique<CVIVadeDlg>();
        dlg->vSetEndProcess([](int) {});
        dlg->vInitResultTableColumns();
        dlg->vSetMainResultItemTable();

        CVIVadeDlg::CScanSettings scan;
        scan.strTargetChipCode = TARGET_CHIP_ANY;
        dlg->vScanUSBPort(scan);
        if (dlg->m_DevList.DevNums != static_cast<int>(plans.size()))
            throw std::runtime_error("the scan did not find every drive");
        DevList& list = dlg->m_DevList;
        list.m_bDoFormat = list.m_bDoWrRdTest = list.m_bDoPreload = 1;
        for (int port = 1; port <= static_cast<int>(plans.size()); ++port)
            for (int s = 0; s < list.DevNums; ++s)
                if (list.Devs[s].m_ucPhysicalAddress == drive(port))
                    slotOfPort_[port] = static_cast<uint8_t>(s);
    }

    ~DiskStepsFixture()
    {
        dlg.reset();
        g_UsbDev.vShutdown();
        pUtility.vShutdown();
        pIni.m_pINI = IniRecordCleared();
        vDEBUG_SetLevel(0);
    }

    std::string file(const std::string& name) const { return dir_.file(name); }
    bench::Bench& bench() { return bench_.bench(); }
    CaptureDebugOutput& capture() { return bench_.capture(); }

    int drive(int port) { return bench().devices().physicalDrive(port).value_or(-1); }
    // The slot of the table the scan put the drive of `port` in.
    uint8_t slot(int port)
    {
        const auto found = slotOfPort_.find(port);
        if (found == slotOfPort_.end())
            throw std::runtime_error("no slot holds the drive of port " + std::to_string(port));
        return found->second;
    }
    bool plug(int port) { return bench_.plug(port); }
    bool unplug(int port) { return bench_.unplug(port); }
    std::string diskImage(int port) const { return bench_.portFolder(port) + "/disk.img"; }
    DevInfo& dev(int port) { return dlg->m_DevList.Devs[slot(port)]; }
    ChildThreadParam& param(int port) { return dlg->m_ChildThreadParam[slot(port)]; }
    std::string cell(int port, uint8_t column) { return dlg->m_ListMainResult->GetItemText(slot(port), column); }

    // Ports of a run: enabled, their workers started, nothing run yet.
    void enable(const std::vector<int>& ports, uint8_t ucItemCount = 4)
    {
        for (int port : ports) {
            const uint8_t s = slot(port);
            dlg->m_MainThreadParam.m_ucPortEnable[s] = 1;
            ChildThreadParam& p = dlg->m_ChildThreadParam[s];
            p.m_ucThreadCount = static_cast<uint8_t>(ports.size());
            p.m_ucItemCount = ucItemCount;
            p.m_ucStatus = THREAD_STATUS_STARTED;
            p.m_fProgress = 0.0f;
            p.m_Results = DevResults();
            dlg->m_DevList.Devs[s].vClearRunResults();
        }
    }

    // Runs `steps` for each port on a worker thread of its own, all at once,
    // as the port workers do; `results` gives each port's running result on
    // entry (1 when not given). The worker ends as a port worker does.
    void run(const std::vector<int>& ports, const std::function<void(CVIVadeDlg&, CPortWork&)>& steps,
             const std::vector<uint8_t>& results = {})
    {
        std::vector<std::shared_ptr<CWorkerThread>> threads;
        for (size_t i = 0; i < ports.size(); ++i) {
            const uint8_t s = slot(ports[i]);
            const uint8_t ucResult = i < results.size() ? results[i] : 1;
            ChildThreadParam* p = &dlg->m_ChildThreadParam[s];
            // The port's own record, as Start makes it.
            CPortRun* r = &dlg->m_PortRun[s];
            *r = CPortRun();
            r->m_bTakesPart = true;
            r->m_ucRow = s;
            r->m_Device = dlg->m_DevList.Devs[s];
            r->m_Inputs = dlg->stPortRunInputs();
            threads.push_back(dlg->m_Threads.pStart("port " + std::to_string(ports[i]),
                                                    [this, p, r, s, ucResult, &steps](const StopSource& stop) {
                                                        CPortWork work(*p, *r, stop);
                                                        work.m_ucSlot = s;
                                                        work.m_ucResult = ucResult;
                                                        work.m_fShare = 100.0f / p->m_ucItemCount;
                                                        steps(*dlg, work);
                                                        p->m_ucVerdict = work.m_ucResult;
                                                        p->m_ucStatus = THREAD_STATUS_FINISHED;
                                                    }));
        }
        ASSERT_TRUE(runEventsUntil(
            [&] {
                for (auto& t : threads)
                    if (t->bIsRunning())
                        return false;
                return true;
            },
            std::chrono::seconds(100)));
    }

    // The volume of `port`'s drive on the disk: FAT32 with the label, passing
    // fsck.fat.
    void expectFormattedVolume(int port)
    {
        SCOPED_TRACE("port " + std::to_string(port));
        const char cLetter = dev(port).m_cDriveLetter;
        VolumeInformation info;
        ASSERT_TRUE(Platform::current().volumes().volumeInformation(cLetter, info)) << cLetter;
        EXPECT_EQ(info.fileSystem, "FAT32");
        EXPECT_EQ(info.label, kLabel);
        auto layout = bench().devices().disks().layout(port);
        ASSERT_TRUE(layout && !layout->partitions.empty());
        const PartitionInfo& data = layout->partitions[0];
        const std::string volume = file("volume" + std::to_string(port) + ".img");
        ASSERT_TRUE(extractRegion(bench_.portFolder(port) + "/disk.img", data.startingOffset,
                                  data.length, volume));
        ToolRun fsck = fsckFat(volume);
        EXPECT_EQ(fsck.exitCode, 0) << fsck.out << fsck.err;
        fs::remove(volume);
    }
    // No partition table was written to `port`'s drive.
    void expectUntouched(int port)
    {
        SCOPED_TRACE("port " + std::to_string(port));
        EXPECT_EQ(imageBytes(bench_.portFolder(port) + "/disk.img", 0, 512),
                  std::vector<uint8_t>(512, 0));
    }

    std::unique_ptr<CVIVadeDlg> dlg;

private:
    static std::map<int, bench::DiskLayoutPlan> usbDiskLayout(bool bUsbDisk)
    {
        std::map<int, bench::DiskLayoutPlan> layouts;
        bench::DiskLayoutPlan plan;
        std::string why;
        if (bUsbDisk && bench::parseDiskLayoutPlan("fat32:rest:FLASH", plan, why))
            layouts[bench::kUsbDisk] = plan;
        return layouts;
    }

    std::map<int, uint8_t> slotOfPort_;
    BenchFixture bench_;
    TempDir dir_;
    InFolder here_;
};

void allSteps(CVIVadeDlg& dlg, CPortWork& work)
{
    dlg.vChildStepFormat(work);
    dlg.vChildStepWrRdTest(work);
    dlg.vChildStepPreload(work);
}

void writeFile(const std::string& path, size_t size, char fill = 'k')
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << std::string(size, fill);
}

const std::string& pass() { return g_GUIText.m_strPass; }
const std::string& fail() { return g_GUIText.m_strFail; }

// Three blank drives without letters: each takes its own, is partitioned and
// formatted with the label, and the results are PASS.
TEST(PortDiskSteps, FormatOnEveryPortPassesAndEachVolumeCarriesTheLabel)
{
    DiskStepsFixture f({{}, {}, {}});
    for (int port = 1; port <= 3; ++port)
        ASSERT_EQ(f.dev(port).m_cDriveLetter, DEV_DRIVE_LETTER_NONE) << "blank drives have no letter";
    f.enable({1, 2, 3});
    f.run({1, 2, 3}, [](CVIVadeDlg& dlg, CPortWork& work) { dlg.vChildStepFormat(work); });

    std::vector<char> letters;
    for (int port = 1; port <= 3; ++port) {
        SCOPED_TRACE("port " + std::to_string(port));
        const ChildThreadParam& p = f.param(port);
        EXPECT_EQ(int(p.m_ucVerdict.load()), 1) << f.capture().joined();
        EXPECT_EQ(int(p.m_Results.m_bPartitionResult.load()), 1);
        EXPECT_EQ(int(p.m_Results.m_bFormatResult.load()), 1);
        EXPECT_EQ(int(p.m_Results.m_bPartitionDone.load()), 1);
        EXPECT_EQ(int(p.m_Results.m_bFormatDone.load()), 1);
        EXPECT_EQ(int(f.dev(port).m_bFormatResult.load()), 1);
        EXPECT_EQ(f.cell(port, RESULT_COL_PARTITION), pass());
        EXPECT_FLOAT_EQ(p.m_fProgress.load(), 50.0f) << "a share for the partition and one for the format";
        f.expectFormattedVolume(port);
        letters.push_back(f.dev(port).m_cDriveLetter);
    }
    EXPECT_NE(letters[0], letters[1]);
    EXPECT_NE(letters[1], letters[2]);
    EXPECT_NE(letters[0], letters[2]);
    EXPECT_FALSE(fs::exists(f.file(strDiskPartScriptName(f.drive(1))))) << "scripts are deleted";
}

// A port's letter search opens every volume in turn, and the format of
// another port needs its volume to itself. The opens are made to cross: the
// format's exclusive open waits until the other port's search (of its
// write/read test) holds that volume, which it keeps until the format has
// tried. The format never meets the search's handle, and both ports pass.
TEST(PortDiskSteps, ALetterSearchOfAnotherPortNeverHoldsTheVolumeAFormatOpens)
{
    DiskStepsFixture f(std::vector<PortPlan>(2));
    writeFile(f.file(kTestFile), 64 * 1024);
    f.enable({1, 2});
    f.run({1, 2}, [](CVIVadeDlg& dlg, CPortWork& work) { dlg.vChildStepFormat(work); });
    ASSERT_EQ(f.cell(1, RESULT_COL_PARTITION), pass()) << f.capture().joined();
    ASSERT_EQ(f.cell(2, RESULT_COL_PARTITION), pass()) << f.capture().joined();

    // The search runs from D: on, so it passes the lower letter on its way.
    const int formatting = f.dev(1).m_cDriveLetter < f.dev(2).m_cDriveLetter ? 1 : 2;
    const int searching = 3 - formatting;
    const uint8_t formattingSlot = f.slot(formatting);
    CrossingVolumeOpens crossing(f.dev(formatting).m_cDriveLetter);
    f.enable({1, 2});
    f.param(searching).m_Results.m_bPartitionDone = 1;  // past the barrier, in its write/read test
    f.dev(searching).m_dwWrRdTestSize = 64 * 1024;
    f.run({1, 2}, [&](CVIVadeDlg& dlg, CPortWork& work) {
        if (work.m_ucSlot == formattingSlot) {
            dlg.vChildStepFormat(work);
        } else {
            EXPECT_TRUE(crossing.waitForExclusiveOpen());
            dlg.vChildStepWrRdTest(work);
        }
    });

    EXPECT_EQ(crossing.refused(), 0) << f.capture().joined();
    EXPECT_EQ(f.cell(formatting, RESULT_COL_PARTITION), pass());
    EXPECT_EQ(f.cell(searching, RESULT_COL_RW_TEST), pass()) << f.capture().joined();
    f.expectFormattedVolume(formatting);
}

// A port that failed an earlier step does nothing to its drive, shows FAIL
// for every step, and still arrives at the partition barrier, so the other
// ports go through all their steps.
TEST(PortDiskSteps, APortThatFailedEarlierTouchesNothingAndHoldsNoOneUp)
{
    DiskStepsFixture f({{}, {}, {}});
    writeFile(f.file(kTestFile), 64 * 1024);
    const std::string preload = f.file("preload");
    writeFile(preload + "/readme.txt", 100);
    writeFile(preload + "/data/table.bin", 5000);
    f.dlg->m_strComboBoxDeviceFunctionPreloadPath = preload + "/";
    f.enable({1, 2, 3});
    for (int port = 1; port <= 3; ++port)
        f.dev(port).m_dwWrRdTestSize = 64 * 1024;
    f.run({1, 2, 3}, allSteps, {1, 0, 1});

    for (int port : {1, 3}) {
        SCOPED_TRACE("port " + std::to_string(port));
        EXPECT_EQ(int(f.param(port).m_ucVerdict.load()), 1) << f.capture().joined();
        for (uint8_t column : {RESULT_COL_PARTITION, RESULT_COL_RW_TEST, RESULT_COL_PRELOAD})
            EXPECT_EQ(f.cell(port, column), pass()) << int(column);
        EXPECT_EQ(int(f.param(port).m_Results.m_bWrRdTestResult.load()), 1);
        EXPECT_EQ(int(f.param(port).m_Results.m_bPreloadResult.load()), 1);
        f.expectFormattedVolume(port);
        // The preload is on the volume; the write/read test left nothing.
        std::vector<VolumeFile> files = Platform::current().volumes().files(f.dev(port).m_cDriveLetter);
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[0].path, "data/table.bin");
        EXPECT_EQ(files[0].size, 5000u);
        EXPECT_EQ(files[1].path, "readme.txt");
        EXPECT_EQ(files[1].size, 100u);
    }
    const ChildThreadParam& failed = f.param(2);
    EXPECT_EQ(int(failed.m_ucVerdict.load()), 0);
    EXPECT_EQ(int(failed.m_Results.m_bPartitionDone.load()), 1) << "it arrived at the barrier";
    EXPECT_EQ(int(failed.m_Results.m_bPartitionResult.load()), 0);
    EXPECT_EQ(int(failed.m_Results.m_bFormatResult.load()), 0);
    EXPECT_EQ(int(failed.m_Results.m_bWrRdTestResult.load()), 0);
    EXPECT_EQ(int(failed.m_Results.m_bPreloadResult.load()), 0);
    for (uint8_t column : {RESULT_COL_PARTITION, RESULT_COL_RW_TEST, RESULT_COL_PRELOAD})
        EXPECT_EQ(f.cell(2, column), fail()) << int(column);
    f.expectUntouched(2);
    EXPECT_EQ(f.dev(2).m_cDriveLetter, DEV_DRIVE_LETTER_NONE);
    EXPECT_TRUE(f.capture().contains("ChildThreadFun: Do Preload Fail[" + std::to_string(f.slot(2)) + "]"));
}

// A drive that left the bus after the scan (a pulled cable, a bridge gone
// for good) may hand its drive number to the next disk that arrives: a USB
// flash disk plugged in meanwhile. The port's steps find that the number no
// longer reaches the port's own bridge, fail, and never write to the disk.
TEST(PortDiskSteps, ADiskThatTookTheDriveNumberOfADepartedBridgeIsNeverWritten)
{
    DiskStepsFixture f(std::vector<PortPlan>(2), true);
    writeFile(f.file(kTestFile), 64 * 1024);
    writeFile(f.file("preload/readme.txt"), 100);
    f.dlg->m_strComboBoxDeviceFunctionPreloadPath = f.file("preload");
    const int nNumber = f.drive(1);
    f.enable({1, 2});
    f.dev(1).m_dwWrRdTestSize = f.dev(2).m_dwWrRdTestSize = 64 * 1024;
    ASSERT_TRUE(f.unplug(1));
    ASSERT_TRUE(f.plug(bench::kUsbDisk));
    const auto flash = f.bench().devices().view(bench::kUsbDisk);
    ASSERT_TRUE(flash);
    ASSERT_EQ(flash->physicalDrive, nNumber) << "the flash disk should take the free number";
    const std::vector<uint8_t> flashStart = imageBytes(f.diskImage(bench::kUsbDisk), 0, 1 << 20);

    f.run({1, 2}, allSteps);

    EXPECT_EQ(imageBytes(f.diskImage(bench::kUsbDisk), 0, 1 << 20), flashStart);
    EXPECT_EQ(int(f.param(1).m_ucVerdict.load()), 0);
    for (uint8_t column : {RESULT_COL_PARTITION, RESULT_COL_RW_TEST, RESULT_COL_PRELOAD})
        EXPECT_EQ(f.cell(1, column), fail()) << int(column);
    EXPECT_EQ(int(f.param(2).m_ucVerdict.load()), 1) << f.capture().joined();
    f.expectFormattedVolume(2);
}

// Records the steps cannot work on, and switched-off steps: the cells and
// result bytes each leaves, and the drive untouched.
TEST(PortDiskSteps, RecordsTheStepsRefuseAndSwitchedOffSteps)
{
    struct Case {
        const char* name;
        const char* layout;                       // the drive arrives with
        uint8_t cdrom, pcie;
        uint8_t doFormat, doWrRd, doPreload;
        const char *partition, *wrRd, *preload;   // "P" PASS, "F" FAIL, "" empty
        uint8_t preloadResult;                    // 2: left as it was
    } cases[] = {
        {"CD-ROM record", "", 1, 0, 1, 1, 1, "F", "F", "", 2},
        {"CD-ROM record with a volume, write/read alone", "fat32:rest:DATA", 1, 0, 0, 1, 1, "", "F", "", 2},
        {"PCIe target", "", 0, 1, 1, 1, 1, "F", "F", "F", 0},
        {"PCIe target with a volume, preload alone", "fat32:rest:DATA", 0, 1, 0, 0, 1, "", "", "F", 0},
        {"every step off", "", 0, 0, 0, 0, 0, "", "", "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DiskStepsFixture f({{256 * MiB, c.layout}});
        writeFile(f.file(kTestFile), 4096);
        writeFile(f.file("preload/a.txt"), 10);
        f.dlg->m_strComboBoxDeviceFunctionPreloadPath = f.file("preload");
        DevList& list = f.dlg->m_DevList;
        list.m_bDoFormat = c.doFormat;
        list.m_bDoWrRdTest = c.doWrRd;
        list.m_bDoPreload = c.doPreload;
        f.enable({1});
        DevInfo& dev = f.dev(1);
        dev.m_bIsCDROM = c.cdrom;
        dev.m_bPCIE = c.pcie;
        dev.m_dwWrRdTestSize = 4096;
        const uint8_t kStale = 7;
        f.param(1).m_Results.m_bPreloadResult = kStale;
        f.run({1}, allSteps);

        auto text = [](const char* code) {
            return std::string(code) == "P" ? pass() : std::string(code) == "F" ? fail() : std::string();
        };
        EXPECT_EQ(f.cell(1, RESULT_COL_PARTITION), text(c.partition));
        EXPECT_EQ(f.cell(1, RESULT_COL_RW_TEST), text(c.wrRd));
        EXPECT_EQ(f.cell(1, RESULT_COL_PRELOAD), text(c.preload));
        const DevResults& r = f.param(1).m_Results;
        EXPECT_EQ(int(r.m_bFormatDone.load()), 1);
        EXPECT_EQ(int(r.m_bPartitionDone.load()), c.doFormat);
        EXPECT_EQ(int(r.m_bPartitionResult.load()), 0);
        EXPECT_EQ(int(r.m_bFormatResult.load()), 0);
        EXPECT_EQ(int(r.m_bWrRdTestResult.load()), 0);
        EXPECT_EQ(int(r.m_bPreloadResult.load()), c.preloadResult == 2 ? kStale : c.preloadResult);
        if (*c.layout == '\0')
            f.expectUntouched(1);
        else
            EXPECT_TRUE(Platform::current().volumes().files(f.dev(1).m_cDriveLetter).empty());
    }
}

// A port that waits at the partition barrier for a port that never comes
// leaves it when it is asked to stop, and fails without formatting. (A
// stopped worker no longer waits for the window, so its cells are not
// looked at.)
TEST(PortDiskSteps, AStopAtThePartitionBarrierFailsTheFormat)
{
    DiskStepsFixture f(std::vector<PortPlan>(2));
    f.enable({1, 2});
    f.dlg->m_DevList.m_bDoWrRdTest = f.dlg->m_DevList.m_bDoPreload = 0;
    const ChildThreadParam& waiting = f.param(1);
    std::thread stopper([&] {
        while (waiting.m_Results.m_bPartitionDone != 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        f.dlg->m_Threads.vRequestStopAll();
    });
    f.run({1}, [](CVIVadeDlg& dlg, CPortWork& work) { dlg.vChildStepFormat(work); });
    stopper.join();
    const DevResults& r = f.param(1).m_Results;
    EXPECT_EQ(int(r.m_bPartitionResult.load()), 1);
    EXPECT_EQ(int(r.m_bFormatResult.load()), 0);
    EXPECT_EQ(int(r.m_bFormatDone.load()), 1);
    EXPECT_EQ(int(f.param(1).m_ucVerdict.load()), 0);
    ASSERT_NE(f.dev(1).m_cDriveLetter, DEV_DRIVE_LETTER_NONE) << "partitioned";
    VolumeInformation info;
    EXPECT_FALSE(Platform::current().volumes().volumeInformation(f.dev(1).m_cDriveLetter, info)) << "not formatted";
}

// The write/read test on a formatted volume: its free-space rule at the
// boundary, its count, its source file, and the speed limits.
TEST(PortDiskSteps, WriteReadTestFreeSpaceCountAndSpeedLimits)
{
    DiskStepsFixture f({{256 * MiB, "fat32:rest:DATA"}});
    DevInfo& dev = f.dev(1);
    const char cLetter = g_UsbDev.vGetLogicalAddressFromPhysicalAddress(dev.m_ucPhysicalAddress, 0);
    ASSERT_NE(cLetter, DEV_DRIVE_LETTER_NONE);
    const uint64_t ullFree = g_UsbDev.vGetDiskFreeSpace(cLetter);
    ASSERT_GT(ullFree, 100u);
    ASSERT_LT(ullFree, 256u);
    // The smallest size whose ten copies, in whole MiB, come to `mib`.
    auto sizeFor = [](uint64_t mib) { return static_cast<uint32_t>((mib * MiB + 9) / 10); };

    struct Case {
        const char* name;
        uint32_t size;
        uint8_t count;
        bool sourceThere;
        uint8_t speedTest;
        const char *readLimit, *writeLimit;
        uint8_t expected;
        const char* logged;   // a line the failure logs
    } cases[] = {
        {"free space exactly ten times the file", sizeFor(ullFree), 1, true, 0, "", "", 1, nullptr},
        {"one MiB short", sizeFor(ullFree + 1), 1, true, 0, "", "", 0, "DiskFreeSpace too small"},
        {"two repetitions", 100000, 2, true, 0, "", "", 1, nullptr},
        {"count 0 runs none and passes", 100000, 0, true, 0, "", "", 1, nullptr},
        {"no source file", 4096, 1, false, 0, "", "", 0, "Pre-WrRdTest Check Fail"},
        {"speed limits met", 4096, 1, true, 1, "0", "0", 1, "SPEED TEST RESULT::"},
        {"read limit too high", 4096, 1, true, 1, "100000000", "0", 0, "SPEED TEST RESULT::"},
        {"write limit too high", 4096, 1, true, 1, "0", "100000000", 0, "SPEED TEST RESULT::"},
    };
    const std::string source = f.file(kTestFile);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(source);
        if (c.sourceThere)
            writeFile(source, c.size, 'w');
        dev.m_dwWrRdTestSize = c.size;
        pIni.m_pINI.wr_test_count = c.count;
        f.dlg->m_DevList.m_bDoSpeedTest = c.speedTest;
        f.dlg->m_strEditReadSpeed = c.readLimit;
        f.dlg->m_strEditWriteSpeed = c.writeLimit;
        f.enable({1});
        f.capture().clear();
        f.run({1}, [](CVIVadeDlg& dlg, CPortWork& work) { dlg.vChildStepWrRdTest(work); });

        EXPECT_EQ(int(f.param(1).m_ucVerdict.load()), c.expected) << f.capture().joined();
        EXPECT_EQ(int(f.param(1).m_Results.m_bWrRdTestResult.load()), c.expected);
        EXPECT_EQ(int(dev.m_bWrRdTestResult.load()), c.expected);
        EXPECT_EQ(f.cell(1, RESULT_COL_RW_TEST), c.expected ? pass() : fail());
        if (c.logged) {
            EXPECT_TRUE(f.capture().contains(c.logged));
        }
        EXPECT_FALSE(f.capture().contains("vWriteFile["));
        EXPECT_TRUE(Platform::current().volumes().files(cLetter).empty()) << "the test file is deleted";
        EXPECT_EQ(dev.m_cDriveLetter, cLetter);
    }
    // The speed test gave the volume its bytes back.
    VolumeInformation info;
    ASSERT_TRUE(Platform::current().volumes().volumeInformation(cLetter, info));
    EXPECT_EQ(info.label, "DATA");
}

// The speed test measures what the drive's line carries: a drive on USB 2
// (about 40 MB/s) never reaches a read limit of 100 MiB/s that a drive on
// USB 3 Gen2 passes, both tested at once as a run tests its ports. Bench time
// runs near real time here, so that the line and not the host's own work per
// transfer sets the speed.
TEST(PortDiskSteps, AReadSpeedLimitFailsOnAUsb2PortThatAUsb3Gen2PortPasses)
{
    DiskStepsFixture f(DiskStepsFixture::TimeScale(2), {{256 * MiB, "fat32:rest:DATA", "USB2", "High"}, {256 * MiB, "fat32:rest:DATA", "USB3", "Gen2x1"}});
    writeFile(f.file(kTestFile), 4096, 'w');
    for (int port : {1, 2})
        f.dev(port).m_dwWrRdTestSize = 4096;
    pIni.m_pINI.wr_test_count = 1;
    f.dlg->m_DevList.m_bDoSpeedTest = 1;
    f.dlg->m_strEditReadSpeed = "100";
    f.dlg->m_strEditWriteSpeed = "0";
    f.enable({1, 2});
    f.run({1, 2}, [](CVIVadeDlg& dlg, CPortWork& work) { dlg.vChildStepWrRdTest(work); });

    const std::string log = f.capture().joined();
    EXPECT_EQ(int(f.param(1).m_ucVerdict.load()), 0) << log;
    EXPECT_EQ(f.cell(1, RESULT_COL_RW_TEST), fail());
    EXPECT_EQ(int(f.param(2).m_ucVerdict.load()), 1) << log;
    EXPECT_EQ(f.cell(2, RESULT_COL_RW_TEST), pass());
    // The read speed each port's last try measured, as its log line says.
    auto readSpeed = [&](int port) {
        const std::string key = "DEV[" + std::to_string(f.slot(port)) + "] SPEED TEST RESULT:: dReadSpeed ";
        double speed = -1;
        for (const std::string& line : f.capture().lines())
            if (const size_t at = line.find(key); at != std::string::npos)
                speed = std::stod(line.substr(at + key.size()));
        return speed;
    };
    const double usb2 = readSpeed(1);
    EXPECT_GT(usb2, 0.0);
    EXPECT_LE(usb2, 320e6 / 8 / MiB) << "never more than USB 2's 40 MB/s";
    EXPECT_GE(readSpeed(2), 100.0);
}

// The preload copy: the folder's tree lands on the port's volume; a folder
// that is missing, too large for the volume or named by too long a path is
// refused with nothing copied.
TEST(PortDiskSteps, PreloadCopiesTheFolderOrRefusesIt)
{
    DiskStepsFixture f({{256 * MiB, "fat32:rest:DATA"}});
    const std::string longName(130, 'p');
    struct Case {
        const char* name;
        std::string folder;
        std::vector<std::pair<std::string, uint64_t>> files;   // made in the folder
        uint8_t expected;
        const char* logged;
    } cases[] = {
        {"missing folder", f.file("nothing"), {}, 0, "Preload folder Check Fail"},
        {"larger than the free space", f.file("big"), {{"huge.bin", 4ull << 30}}, 0, "Freespace is not enough"},
        {"path over 126 characters", f.file(longName), {{"a.txt", 3}}, 0, "is longer than 126 characters"},
        {"a folder tree", f.file("tree"), {{"a.txt", 3}, {"sub/b.bin", 70000}, {"sub/deeper/c", 1}}, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [name, size] : c.files) {
            const std::string path = c.folder + "/" + name;
            fs::create_directories(fs::path(path).parent_path());
            std::ofstream(path, std::ios::binary).close();
            fs::resize_file(path, size);   // sparse: only its size counts for the free space
        }
        f.dlg->m_strComboBoxDeviceFunctionPreloadPath = c.folder;
        f.enable({1});
        f.capture().clear();
        f.run({1}, [](CVIVadeDlg& dlg, CPortWork& work) { dlg.vChildStepPreload(work); });

        EXPECT_EQ(int(f.param(1).m_ucVerdict.load()), c.expected) << f.capture().joined();
        EXPECT_EQ(int(f.param(1).m_Results.m_bPreloadResult.load()), c.expected);
        EXPECT_EQ(f.cell(1, RESULT_COL_PRELOAD), c.expected ? pass() : fail());
        if (c.logged) {
            EXPECT_TRUE(f.capture().contains(c.logged));
        }
        std::vector<VolumeFile> onVolume = Platform::current().volumes().files(f.dev(1).m_cDriveLetter);
        if (!c.expected) {
            EXPECT_TRUE(onVolume.empty());
            continue;
        }
        ASSERT_EQ(onVolume.size(), c.files.size());
        for (size_t i = 0; i < onVolume.size(); ++i) {
            EXPECT_EQ(onVolume[i].path, c.files[i].first);
            EXPECT_EQ(onVolume[i].size, c.files[i].second);
        }
    }
}

// The write/read test's copy reads back shorter than it was written (the
// volume lost its tail), or the source has shrunk since the run began: the
// buffers still hold the bytes of the source there, and the test fails all
// the same.
TEST(PortDiskSteps, WriteReadTestFailsOnAFileShorterThanTheTest)
{
    DiskStepsFixture f({{256 * MiB, "fat32:rest:DATA"}});
    DevInfo& dev = f.dev(1);
    const char cLetter = g_UsbDev.vGetLogicalAddressFromPhysicalAddress(dev.m_ucPhysicalAddress, 0);
    ASSERT_NE(cLetter, DEV_DRIVE_LETTER_NONE);
    constexpr uint32_t kSize = 64 * 1024;
    constexpr uint32_t kLost = 4096;
    const std::string source = f.file(kTestFile);
    struct Case {
        const char* name;
        uint32_t sourceBytes;
        bool copyLosesTail;
        uint8_t expected;
    } cases[] = {
        {"the copy reads back whole", kSize, false, 1},
        {"the copy reads back short", kSize, true, 0},
        {"the source is shorter than the test", kSize - kLost, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(source, c.sourceBytes, 'w');
        dev.m_dwWrRdTestSize = kSize;
        int nTargetOpens = 0;
        // The copy's second open is the read-back of the first pass.
        OpenWatchingMedia media([&](const std::string& path) {
            if (c.copyLosesTail && path != source && fs::path(path).filename() == kTestFile && ++nTargetOpens == 2)
                fs::resize_file(path, kSize - kLost);
        });
        f.enable({1});
        f.capture().clear();
        f.run({1}, [](CVIVadeDlg& dlg, CPortWork& work) { dlg.vChildStepWrRdTest(work); });

        EXPECT_EQ(int(f.param(1).m_ucVerdict.load()), c.expected) << f.capture().joined();
        EXPECT_EQ(int(f.param(1).m_Results.m_bWrRdTestResult.load()), c.expected);
        EXPECT_EQ(f.cell(1, RESULT_COL_RW_TEST), c.expected ? pass() : fail());
        EXPECT_EQ(f.capture().contains("vReadFile["), c.expected == 0);
        EXPECT_TRUE(Platform::current().volumes().files(cLetter).empty()) << "the test file is deleted";
    }
}

// A console program's run as the platform had it, then ended otherwise.
ConsoleResult endedWith(ConsoleResult run, bool finished, uint32_t exitCode)
{
    run.finished = finished;
    run.exitCode = exitCode;
    return run;
}

// The programs of an NTFS format whose volume reads back with the file
// system and the label asked for: format.com did its work; SetVolumeLabel
// is refused while the test holds the volume (then label.exe labels it).
class NtfsFormatPrograms {
public:
    StandInPrograms::Program format(std::function<ConsoleResult(ConsoleResult)> end, bool bHoldVolume)
    {
        return [this, end, bHoldVolume](const ConsoleCommand& command, const StopSource* stop, ConsolePrograms& own) {
            ++nFormats;
            ConsoleResult run = own.run(command, stop);
            if (bHoldVolume && !command.args.empty())
                held = Platform::current().blockDevices().openVolume(command.args[0][0], BlockAccess::ReadWrite,
                                                                     BlockShare::None);
            return end ? end(run) : run;
        };
    }
    StandInPrograms::Program label(std::function<ConsoleResult(ConsoleResult)> end)
    {
        return [this, end](const ConsoleCommand& command, const StopSource* stop, ConsolePrograms& own) {
            ++nLabels;
            held.reset();
            ConsoleResult run = own.run(command, stop);
            return end ? end(run) : run;
        };
    }

    std::atomic<int> nFormats{0};
    std::atomic<int> nLabels{0};
    std::unique_ptr<BlockDevice> held;
};

// format.com or label.exe that did their work but said they failed, or never
// came to their end, fail the attempt, though the volume reads back as asked;
// the second attempt runs and fails the same way.
TEST(PortDiskSteps, AFormatOrLabelProgramThatFailsFailsTheFormat)
{
    using End = std::function<ConsoleResult(ConsoleResult)>;
    struct Case {
        const char* name;
        End formatEnd;
        bool holdVolume;
        End labelEnd;
        uint8_t expected;
        int formats, labels;
    } cases[] = {
        {"both programs pass", {}, true, {}, 1, 1, 1},
        {"format exits 4", [](ConsoleResult r) { return endedWith(r, true, 4); }, false, {}, 0, 2, 0},
        {"format does not end", [](ConsoleResult r) { return endedWith(r, false, 0); }, false, {}, 0, 2, 0},
        {"label exits 1", {}, true, [](ConsoleResult r) { return endedWith(r, true, 1); }, 0, 2, 2},
        {"label does not end", {}, true, [](ConsoleResult r) { return endedWith(r, false, 0); }, 0, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DiskStepsFixture f(std::vector<PortPlan>(1));
        pIni.m_pINI.format_drive_type = FORMAT_TYPE_NTFS;
        NtfsFormatPrograms programs;
        StandInPrograms standIn(
            {{"format", programs.format(c.formatEnd, c.holdVolume)}, {"label", programs.label(c.labelEnd)}});
        f.enable({1});
        f.run({1}, [](CVIVadeDlg& dlg, CPortWork& work) { dlg.vChildStepFormat(work); });

        const DevResults& r = f.param(1).m_Results;
        EXPECT_EQ(int(r.m_bPartitionResult.load()), 1);
        EXPECT_EQ(int(r.m_bFormatResult.load()), c.expected) << f.capture().joined();
        EXPECT_EQ(f.cell(1, RESULT_COL_PARTITION), c.expected ? pass() : fail());
        EXPECT_EQ(programs.nFormats.load(), c.formats);
        EXPECT_EQ(programs.nLabels.load(), c.labels);
        VolumeInformation info;
        ASSERT_TRUE(Platform::current().volumes().volumeInformation(f.dev(1).m_cDriveLetter, info));
        EXPECT_EQ(info.fileSystem, "NTFS");
    }
}

// A console program of the format step that hangs ends when the worker is
// asked to stop: the program hears the stop request, is not started again,
// and the step fails.
TEST(PortDiskSteps, AStopEndsAHangingProgramOfTheFormatStep)
{
    for (const char* hanging : {"diskpart", "format", "label"}) {
        SCOPED_TRACE(hanging);
        DiskStepsFixture f(std::vector<PortPlan>(1));
        pIni.m_pINI.format_drive_type = FORMAT_TYPE_NTFS;
        std::atomic<bool> bStarted{false}, bNoStopGiven{false}, bEndedByStop{false}, bStepOver{false};
        std::atomic<int> nRuns{0};
        NtfsFormatPrograms programs;
        StandInPrograms::Program hang = [&](const ConsoleCommand& command, const StopSource* stop,
                                            ConsolePrograms& own) {
            ++nRuns;
            programs.held.reset();
            if (!stop) {
                bNoStopGiven = true;
                return own.run(command, stop);
            }
            bStarted = true;
            bEndedByStop = !stop->waitFor(std::chrono::seconds(60));
            ConsoleResult run;
            run.started = true;
            return run;
        };
        std::map<std::string, StandInPrograms::Program> stand = {{"format", programs.format({}, true)},
                                                                 {"label", programs.label({})}};
        stand[hanging] = hang;
        StandInPrograms standIn(stand);
        std::thread stopper([&] {
            while (!bStarted && !bStepOver)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            f.dlg->m_Threads.vRequestStopAll();
        });
        f.enable({1});
        f.run({1}, [](CVIVadeDlg& dlg, CPortWork& work) { dlg.vChildStepFormat(work); });
        bStepOver = true;
        stopper.join();

        EXPECT_FALSE(bNoStopGiven.load()) << "the program was not given the stop request";
        EXPECT_TRUE(bEndedByStop.load());
        EXPECT_EQ(nRuns.load(), 1) << "started again after the stop";
        const DevResults& r = f.param(1).m_Results;
        EXPECT_EQ(int(r.m_bFormatResult.load()), 0);
        EXPECT_EQ(int(f.param(1).m_ucVerdict.load()), 0);
    }
}

}  // namespace
}  // namespace krv::test
