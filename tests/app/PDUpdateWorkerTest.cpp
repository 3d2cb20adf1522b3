// The PD/MCU update worker against bench controllers of each vendor: the
// images are written, read back equal, the operator's power cycle brings the
// controller back running them and its version matches the file's. Faults
// and a verify-only run end the way the row shows them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/PDUpdateWorker.h"
#include "device/DebugLog.h"
#include "platform/bench/Bench.h"
#include "tests/device/PdFileSupport.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

using Bytes = std::vector<uint8_t>;

// The row a worker shows, and the operator who power-cycles when asked.
class RowView : public IPDUpdateView {
public:
    RowView(BenchFixture& bench, bool cycles) : bench_(bench), cycles_(cycles) {}
    void vShowStatus(int nCode) override { statuses.push_back(nCode); }
    void vSetProgress(int nPercent) override { progress = nPercent; }
    void vShowMessage(const std::string& strText, uint8_t) override
    {
        messages.push_back(strText);
        if (cycles_ && strText.find("power cycling") != std::string::npos) {
            bench::BenchCommand command;
            command.verb = "power-cycle";
            command.port = 1;
            std::string outcome;
            EXPECT_TRUE(bench_.bench().apply(command, outcome)) << outcome;
        }
    }
    int nCurrentDrive() override { return bench_.physicalDrive(1); }
    void vShowVersion(const std::string& strVersion) override { version = strVersion; }
    void vKeepFacts(const PDDeviceFacts& facts) override { kept = facts; }

    std::vector<int> statuses;
    PDDeviceFacts kept;
    std::vector<std::string> messages;
    int progress = -1;
    std::string version;

private:
    BenchFixture& bench_;
    bool cycles_;
};

bench::BenchSettings onePort(bench::PdChip pd, bench::McuChip mcu = bench::McuChip::None)
{
    bench::BenchSettings settings;
    settings.ports.resize(1);
    settings.ports[0].pd = pd;
    settings.ports[0].mcu = mcu;
    settings.ports[0].relinkMs = 3000;
    return settings;
}

Bytes benchFile(BenchFixture& bench, const char* name)
{
    bench.reopen();
    std::ifstream in(bench.portFolder(1) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The images as the dialog parses the chosen files.
PDUpdateImages imagesOf(const std::string& pdText, uint8_t kind, const std::string& hex = "")
{
    PDUpdateImages images;
    images.ucPDEnable = kind != PD_FILE_UNKNOWN;
    images.ucPDFileKind = kind;
    bool refused = false;
    images.strPDFileVersion = strPDVersionOfContent(kind, pdText, PDRulesOfUpdateDialog(), refused);
    if (kind == PD_FILE_BIN)
        images.richtek.assign(pdText.begin(), pdText.end());
    int shortLine = 0;
    std::string error;
    if (kind == PD_FILE_CYACD) {
        EXPECT_EQ(nParseCyacd(pdText, PDRulesOfUpdateDialog(), images.cypress, shortLine, error), 0) << error;
        images.bSkipVersionCompare = images.cypress.bShortRow;
    }
    if (!hex.empty()) {
        images.ucMCUEnable = 1;
        images.ucMCUFileKind = MCU_FILE_HEX;
        EXPECT_EQ(nParseIntelHex(hex, "CPDUpdateDlg", images.mcu, error), 0) << error;
    }
    return images;
}

int runWorker(BenchFixture& bench, const PDUpdateImages& images, RowView& view, bool verifyOnly = false)
{
    CPowerDelivery pd;
    CPDDeviceOps ops(pd);
    PDDeviceFacts facts;
    EXPECT_EQ(ops.nInitializedPDI2CBus(bench.physicalDrive(1), facts), 0);
    return nPDFWUpdateWorker(pd, images, facts, 0, bench.physicalDrive(1), verifyOnly, view);
}

TEST(PDUpdateWorker, EachVendorIsFlashedReadBackAndRunsTheFileAfterThePowerCycle)
{
    const Bytes richtek = richtekImage(0xCD, 0xAB);
    const CyacdImage ccg2 = cyacdImage("140411A40000", 0x24, 5);
    const CyacdImage ccg3 = cyacdImage("1D0311AD0000", 0x200, 5);
    struct Case {
        const char* name;
        bench::PdChip chip;
        std::string text;
        uint8_t kind;
        const char* version;
    } cases[] = {
        // The file's lower-case version matches the controller's upper case.
        {"richtek", bench::PdChip::Richtek, std::string(richtek.begin(), richtek.end()), PD_FILE_BIN, "ABCD"},
        {"cypress", bench::PdChip::Cypress, ccg2.text, PD_FILE_CYACD, "123456789ABCDEF0"},
        // Running bank 1, it is given bank 2 and runs that after the cycle.
        {"ccg3", bench::PdChip::Ccg3, ccg3.text, PD_FILE_CYACD, "123456789ABCDEF0"},
    };
    for (const Case& c : cases) {
        BenchFixture bench(onePort(c.chip));
        RowView view(bench, true);
        EXPECT_EQ(runWorker(bench, imagesOf(c.text, c.kind), view), PD_RESULT_PASS) << c.name;
        EXPECT_EQ(view.statuses.back(), PD_STATUS_PASS) << c.name;
        EXPECT_EQ(view.progress, 100) << c.name;
        EXPECT_EQ(view.version, c.version) << c.name;
        ASSERT_EQ(view.messages.size(), 1u) << c.name;
        EXPECT_EQ(view.messages[0], "Please power cycling Your [0 ]device!!!") << c.name;
        const Bytes flash = benchFile(bench, "pd-flash.bin");
        if (c.kind == PD_FILE_BIN) {
            EXPECT_EQ(flash, richtek) << c.name;
        } else {
            const CyacdImage& file = c.chip == bench::PdChip::Cypress ? ccg2 : ccg3;
            for (size_t i = 0; i < file.rows.size(); ++i)
                EXPECT_EQ(Bytes(flash.begin() + (file.firstRow + i) * 128, flash.begin() + (file.firstRow + i + 1) * 128),
                          file.rows[i])
                    << c.name << " row " << i;
        }
    }
}

TEST(PDUpdateWorker, TheMcuBesideItIsFlashedToo)
{
    BenchFixture bench(onePort(bench::PdChip::Richtek, bench::McuChip::Stm));
    Bytes mcu(300);
    for (size_t i = 0; i < mcu.size(); ++i)
        mcu[i] = static_cast<uint8_t>(i * 11);
    const Bytes richtek = richtekImage(0x02, 0x01);
    RowView view(bench, true);
    EXPECT_EQ(runWorker(bench, imagesOf(std::string(richtek.begin(), richtek.end()), PD_FILE_BIN, mcuHexFile(mcu)), view),
              PD_RESULT_PASS);
    const Bytes flash = benchFile(bench, "mcu-flash.bin");
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 300), mcu);
    EXPECT_EQ(flash[300], 0xFF);
}

TEST(PDUpdateWorker, FaultsAndAVerifyOnlyRunEndAsTheRowShows)
{
    const CyacdImage ccg2 = cyacdImage("140411A40000", 0x24, 5);
    struct Case {
        const char* name;
        bench::FaultKind fault;
        std::vector<uint8_t> cdb;
        uint32_t count;
        bool cycles;
        bool verifyOnly;
        int result;
        int status;
    } cases[] = {
        {"a row write that fails", bench::FaultKind::Fail, {0xEC, 0x23}, 3, true, false, -1, PD_STATUS_FAIL},
        {"a read-back that differs", bench::FaultKind::Corrupt, {0xEC, 0x24}, 1, true, false, PD_RESULT_CONTENT,
         PD_STATUS_FAIL},
        {"no power cycle", bench::FaultKind::Fail, {0xFF}, 1, false, false, PD_RESULT_TIME_OUT, PD_STATUS_TIME_OUT},
        {"never leaves flash mode", bench::FaultKind::Stuck, {}, 1, true, false, PD_RESULT_VERSION, PD_STATUS_FAIL},
        // Verify-only writes nothing: the factory flash is not the file.
        {"verify only", bench::FaultKind::Fail, {0xFF}, 1, false, true, PD_RESULT_CONTENT, PD_STATUS_FAIL},
    };
    for (const Case& c : cases) {
        BenchFixture bench(onePort(bench::PdChip::Cypress));
        bench::Fault fault;
        fault.kind = c.fault;
        fault.cdbPrefix = c.cdb;
        fault.count = c.count;
        std::string outcome;
        ASSERT_TRUE(bench.devices().addFault(1, fault, outcome)) << outcome;
        RowView view(bench, c.cycles);
        const uint64_t start = bench.clock().monotonicMs();
        EXPECT_EQ(runWorker(bench, imagesOf(ccg2.text, PD_FILE_CYACD), view, c.verifyOnly), c.result) << c.name;
        EXPECT_EQ(view.statuses.back(), c.status) << c.name;
        EXPECT_EQ(view.progress, 100) << c.name;
        EXPECT_LE(bench.clock().monotonicMs() - start, 45000u) << c.name;
        size_t writes = 0;
        for (const bench::LogEntry& e : bench.devices().log(1))
            writes += e.kind == bench::LogEntry::Kind::Command && e.cdb.size() > 1 && e.cdb[0] == 0xEC &&
                      (e.cdb[1] == 0x22 || e.cdb[1] == 0x23);
        EXPECT_EQ(writes == 0, c.verifyOnly) << c.name;
    }

    // After an update, verify-only reads back equal and needs no power cycle.
    BenchFixture bench(onePort(bench::PdChip::Cypress));
    RowView first(bench, true);
    ASSERT_EQ(runWorker(bench, imagesOf(ccg2.text, PD_FILE_CYACD), first), PD_RESULT_PASS);
    RowView verify(bench, false);
    EXPECT_EQ(runWorker(bench, imagesOf(ccg2.text, PD_FILE_CYACD), verify, true), PD_RESULT_PASS);
    EXPECT_TRUE(verify.messages.empty());
}

}  // namespace
}  // namespace krv::test
