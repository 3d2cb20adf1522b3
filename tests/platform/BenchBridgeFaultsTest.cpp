// Faults on demand and the per-device command log, set and read the way
// krvbench does it: through the bench's commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/bench/BenchLayout.h"
#include "platform/bench/bridge/PortState.h"
#include "tests/platform/BenchBridgeSupport.h"
#include "tests/support/BenchFixture.h"

namespace krv::test {
namespace {

bool setFault(BenchFixture& bench, int port, std::map<std::string, std::string> fields)
{
    std::string outcome;
    bool done = bench.bench().apply({"fault", port, std::move(fields)}, outcome);
    EXPECT_TRUE(done) << outcome;
    return done;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(BenchBridgeFaults, TransportFailuresKTimesThenTheDeviceAnswers)
{
    BenchFixture bench;
    auto d = openDrive(1);
    ASSERT_TRUE(setFault(bench, 1, {{"kind", "fail"}, {"count", "3"}, {"cdb", "E4"}}));
    EXPECT_TRUE(inquiry(*d).good()) << "only register reads are hit";
    for (int i = 0; i < 3; ++i) {
        Answer a = readRegisters(*d, 0xC8FF, 1);
        EXPECT_FALSE(a.sent);
        EXPECT_EQ(a.lastError, 1117u);
        bench.clock().sleepMs(20);
    }
    EXPECT_TRUE(readRegisters(*d, 0xC8FF, 1).good());
    EXPECT_TRUE(bench.devices().state(1).faults.empty());
}

TEST(BenchBridgeFaults, EachKindAsTheHostSeesIt)
{
    BenchFixture bench;
    auto d = openDrive(1);
    Bytes stored = readConfig(*d, 0, 1).data;

    ASSERT_TRUE(setFault(bench, 1, {{"kind", "check"}, {"sense", "03/11/00"}}));
    Answer check = readConfig(*d, 0, 1);
    EXPECT_TRUE(check.checkCondition(0x03, 0x11));
    EXPECT_EQ(check.transferred, 0u);

    ASSERT_TRUE(setFault(bench, 1, {{"kind", "timeout"}}));
    uint64_t before = bench.clock().monotonicMs();
    Answer late = readConfig(*d, 0, 1);
    EXPECT_FALSE(late.sent);
    EXPECT_EQ(late.lastError, 121u);
    EXPECT_EQ(bench.clock().monotonicMs() - before, 3000u) << "a time-out takes the command's time-out";

    ASSERT_TRUE(setFault(bench, 1, {{"kind", "corrupt"}, {"byte", "100"}}));
    EXPECT_TRUE(writeRegister(*d, 0x9000, 0x80).good()) << "corruption waits for data coming in";
    Answer bad = readConfig(*d, 0, 1);
    ASSERT_TRUE(bad.good());
    EXPECT_NE(bad.data, stored);
    EXPECT_EQ(bad.data[100], static_cast<uint8_t>(stored[100] ^ 0xFF));
    EXPECT_EQ(readConfig(*d, 0, 1).data, stored) << "the stored image itself is sound";

    // The EEPROM stores one byte wrong behind a write answered good: only a
    // read-back shows it.
    ASSERT_TRUE(setFault(bench, 1, {{"kind", "corrupt-store"}, {"byte", "7"}}));
    EXPECT_TRUE(readConfig(*d, 0, 1).good()) << "a stored byte goes wrong only on a write";
    Bytes sent = stored;
    sent[20] ^= 0x5A;
    const Bytes asSent = sent;
    Answer write = writeConfig(*d, 0, 1, sent);
    EXPECT_TRUE(write.good());
    EXPECT_EQ(write.data, asSent) << "the host's buffer is left as it sent it";
    Bytes expected = asSent;
    expected[7] ^= 0xFF;
    EXPECT_EQ(readConfig(*d, 0, 1).data, expected);
    EXPECT_TRUE(bench.devices().state(1).faults.empty());
}

// A slow device: every command takes its latency on the bench clock before
// it is answered; one slower than the command's time-out times out.
TEST(BenchBridgeFaults, ALatencyPerCommandHoldsEachCommandOfThatPortOnly)
{
    bench::BenchSettings settings;
    settings.ports.resize(2);
    settings.ports[0].commandMs = 1500;
    BenchFixture bench(settings);
    auto slow = openDrive(bench.physicalDrive(1));
    auto quick = openDrive(bench.physicalDrive(2));
    ASSERT_TRUE(slow && quick);
    uint64_t before = bench.clock().monotonicMs();
    EXPECT_TRUE(inquiry(*slow).good());
    EXPECT_EQ(bench.clock().monotonicMs() - before, 1500u);
    before = bench.clock().monotonicMs();
    EXPECT_TRUE(inquiry(*quick).good());
    EXPECT_EQ(bench.clock().monotonicMs() - before, 0u);

    before = bench.clock().monotonicMs();
    Answer late = send(*slow, {0x12, 0, 0, 0, 38, 0}, {}, 38, 1);
    EXPECT_FALSE(late.sent);
    EXPECT_EQ(late.lastError, 121u);
    EXPECT_EQ(bench.clock().monotonicMs() - before, 1000u) << "the host gives up at its time-out";
}

TEST(BenchBridgeFaults, FaultsCanWaitForAGivenCommand)
{
    BenchFixture bench;
    auto d = openDrive(1);
    ASSERT_TRUE(setFault(bench, 1, {{"kind", "fail"}, {"cdb", "E45051"}}));  // never matches: E4 n P
    ASSERT_TRUE(setFault(bench, 1, {{"kind", "fail"}, {"cdb", "E401 51"}, {"after", "1"}}));
    EXPECT_TRUE(readRegisters(*d, 0x20000, 1).good()) << "let through once";
    EXPECT_TRUE(readRegisters(*d, 0x9000, 1).good()) << "another page";
    EXPECT_FALSE(readRegisters(*d, 0x22805, 1).sent);
    EXPECT_TRUE(readRegisters(*d, 0x22805, 1).good());
    EXPECT_EQ(bench.devices().state(1).faults.all().size(), 1u);
    std::string outcome;
    bench.bench().apply({"fault", 1, {{"kind", "clear"}}}, outcome);
    EXPECT_TRUE(bench.devices().state(1).faults.empty()) << outcome;
}

TEST(BenchBridgeFaults, ADroppedDeviceStaysAwayUntilPluggedInAgain)
{
    BenchFixture bench(2);
    auto d = openDrive(1);
    ASSERT_TRUE(setFault(bench, 1, {{"kind", "drop"}, {"cdb", "E3"}}));
    Bytes part(65280, 0);
    Answer a = firmware(*d, true, 0, 0, part, 65280);
    EXPECT_FALSE(a.sent);
    EXPECT_EQ(a.lastError, 1167u);
    bench.clock().sleepMs(600'000);
    EXPECT_FALSE(openDrive(1));
    EXPECT_EQ(bench.physicalDrive(1), -1);
    EXPECT_EQ(bench.devices().state(1).connection, bench::Connection::Dropped);
    // The next run finds it still gone.
    bench.reopen();
    EXPECT_EQ(bench.physicalDrive(1), -1);
    std::string outcome;
    ASSERT_TRUE(bench.bench().apply({"plug", 1, {}}, outcome));
    EXPECT_EQ(bench.physicalDrive(1), 1) << "the lowest free number";

    // A drop without a command to wait for happens as it is set.
    ASSERT_TRUE(setFault(bench, 2, {{"kind", "drop"}}));
    EXPECT_EQ(bench.physicalDrive(2), -1);
}

TEST(BenchBridgeFaults, AResetTakenWithoutReturnLeavesTheDeviceAwayUntilPluggedIn)
{
    bench::BenchSettings settings;
    settings.ports.resize(2);
    settings.ports[0].dropMs = 300;
    BenchFixture bench(settings);
    ASSERT_TRUE(setFault(bench, 1, {{"kind", "no-return"}}));
    auto d = openDrive(1);
    EXPECT_TRUE(inquiry(*d).good()) << "only the CPU reset is hit";
    EXPECT_TRUE(cpuReset(*d, 0x51).good()) << "nor a disconnect";
    bench.clock().sleepMs(300);
    std::string outcome;
    ASSERT_TRUE(bench.bench().apply({"plug", 1, {}}, outcome)) << outcome;
    d = openDrive(bench.physicalDrive(1));
    ASSERT_TRUE(d);

    ASSERT_TRUE(cpuReset(*d).good()) << "the reset is answered";
    EXPECT_TRUE(inquiry(*d).good()) << "and the device leaves only after its drop time";
    bench.clock().sleepMs(300);
    EXPECT_FALSE(inquiry(*d).sent);
    bench.clock().sleepMs(3'600'000);
    EXPECT_EQ(bench.physicalDrive(1), -1) << "never back, however long";
    EXPECT_EQ(bench.physicalDrive(2), 2) << "the other port is untouched";
    EXPECT_EQ(bench.devices().state(1).connection, bench::Connection::Dropped);
    bench.reopen();
    EXPECT_EQ(bench.physicalDrive(1), -1) << "still away in the next run";
    ASSERT_TRUE(bench.bench().apply({"plug", 1, {}}, outcome)) << outcome;
    EXPECT_EQ(bench.physicalDrive(1), 1);
    auto again = openDrive(1);
    ASSERT_TRUE(cpuReset(*again).good());
    bench.clock().sleepMs(bench::kDefaultRelinkMs);
    EXPECT_EQ(bench.physicalDrive(1), 1) << "the fault was used up: the next reset comes back";
}

TEST(BenchBridgeFaults, FaultsLastUntilTheyHit)
{
    BenchFixture bench;
    ASSERT_TRUE(setFault(bench, 1, {{"kind", "fail"}, {"count", "2"}}));
    EXPECT_FALSE(inquiry(*openDrive(1)).sent);
    bench.reopen();
    auto d = openDrive(1);
    EXPECT_FALSE(inquiry(*d).sent) << "one left for the next run";
    EXPECT_TRUE(inquiry(*d).good());

    std::string outcome;
    EXPECT_FALSE(bench.bench().apply({"fault", 1, {{"kind", "melt"}}}, outcome));
    EXPECT_NE(outcome.find("not one of fail, check, timeout, corrupt, drop"), std::string::npos) << outcome;
    EXPECT_FALSE(bench.bench().apply({"fault", 1, {{"kind", "fail"}, {"cdb", "XY"}}}, outcome));
    EXPECT_FALSE(bench.bench().apply({"fault", 3, {{"kind", "fail"}}}, outcome));
    EXPECT_NE(outcome.find("no port 3"), std::string::npos) << outcome;
}

TEST(BenchBridgeFaults, TheLogRecordsCommandsAndEventsWithTheirTimes)
{
    BenchFixture bench;
    auto d = openDrive(1);
    bench.clock().sleepMs(1000);
    ASSERT_TRUE(readRegisters(*d, 0xC8FF, 1).good());
    bench.clock().sleepMs(20);
    ASSERT_TRUE(cpuReset(*d).good());
    bench.clock().sleepMs(bench::kDefaultRelinkMs);
    EXPECT_TRUE(send(*d, {0xEA, 0, 0, 0, 0, 0}).sent == false);

    auto log = bench.devices().log(1);
    std::vector<std::string> lines;
    for (const auto& entry : log)
        lines.push_back(bench::formatLogEntry(entry));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "    1000 disk  E4 01 50 C8 FF 00 in 1 t/o 3s -> good 1");
    EXPECT_EQ(lines[1], "    1020 disk  E8 50 00 00 00 00 none 0 t/o 6s -> good 0");
    EXPECT_EQ(lines[2].substr(0, 24), "    1020 event CPU reset");
    EXPECT_EQ(lines[3].substr(0, 40), "    1020 event left the bus for a CPU re");
    EXPECT_EQ(lines[4], "    4020 event came back on the bus as PhysicalDrive1");
    EXPECT_EQ(lines[5], "    4020 disk  EA 00 00 00 00 00 none 0 t/o 3s -> failed 1167 (the device is not on the bus)");

    // Written to the port's folder on request and when the bench closes.
    std::string path = bench.portFolder(1) + "/commands.log";
    std::string outcome;
    ASSERT_TRUE(bench.bench().apply({"log", 1, {}}, outcome)) << outcome;
    std::string text = readFile(path);
    EXPECT_NE(text.find("# session of pid"), std::string::npos);
    EXPECT_NE(text.find(lines[0]), std::string::npos);
    ASSERT_TRUE(inquiry(*openDrive(1)).good());
    bench.reopen();
    text = readFile(path);
    EXPECT_NE(text.find("12 00 00 00 26 00 00 00 00 00 00 00 in 38 t/o 3s -> good 38"), std::string::npos) << text;
    EXPECT_EQ(text.find(lines[0]), text.rfind(lines[0])) << "each entry written once";
}

TEST(BenchBridgeFaults, ReadsNeverTouchTheFolder)
{
    BenchFixture bench;
    auto d = openDrive(1);
    std::string state = bench.portFolder(1) + "/state.ini";
    auto stamp = std::filesystem::last_write_time(state);
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(readRegisters(*d, 0x9000 + static_cast<uint32_t>(i), 1).good());
    ASSERT_TRUE(readConfig(*d, 0, 0).good());
    EXPECT_EQ(std::filesystem::last_write_time(state), stamp);
    EXPECT_FALSE(std::filesystem::exists(bench.portFolder(1) + "/commands.log"));
}

}  // namespace
}  // namespace krv::test
