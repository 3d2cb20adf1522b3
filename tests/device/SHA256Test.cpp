// The SHA-256 initial key: the words and bytes sent, and the three per-target
// operations against bench bridges.
#include <gtest/gtest.h>

#include <vector>

#include "device/KrvnUSBDev.h"
#include "device/SHA256.h"
#include "tests/device/DeviceBenchSupport.h"

namespace krv::test {
namespace {

using bench::FaultKind;

TEST(SHA256Key, TheInitialHashWordsBigEndian)
{
    CSHA256 sha;
    EXPECT_EQ(sha.nGetKeyWord(1), 0x6A09E667u);
    EXPECT_EQ(sha.nGetKeyWord(8), 0x5BE0CD19u);
    EXPECT_EQ(sha.nGetKeyWord(0), 0xFFFFFFFFu);
    EXPECT_EQ(sha.nGetKeyWord(9), 0xFFFFFFFFu);
    uint8_t key[SHA256_KEY_SIZE];
    sha.vGetKeyBytes(key);
    EXPECT_EQ(std::vector<uint8_t>(key, key + 4), (std::vector<uint8_t>{0x6A, 0x09, 0xE6, 0x67}));
    EXPECT_EQ(std::vector<uint8_t>(key + 28, key + 32), (std::vector<uint8_t>{0x5B, 0xE0, 0xCD, 0x19}));
}

TEST(SHA256Key, SendTheKeyThenTheBridgePassesItsImages)
{
    BenchFixture bench;
    CKrvnUSBDev dev;
    DeviceTable table(bench, dev);
    DebugLevel level;

    // Before the key the bridge's check fails; the command itself worked.
    EXPECT_EQ(dev.vSHA256_VerifyKey(0, 0), 0);
    EXPECT_TRUE(bench.capture().contains("vSHA256_VerifyKey: [0], Image=[0], Value=[0]"));

    ASSERT_EQ(dev.vSHA256_SendKey(0), 1);
    const auto sent = commandsOf(bench, 1).back();
    EXPECT_EQ(sent.cdb, cdbOf({0xE9, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent.dataLength, SHA256_KEY_SIZE);
    const auto stored = bench.devices().state(1).stored.shaKey;
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ((*stored)[0], 0x6A);
    EXPECT_EQ((*stored)[31], 0x19);

    EXPECT_EQ(dev.vSHA256_VerifyKey(0, 1), 1);
    EXPECT_EQ(commandsOf(bench, 1).back().cdb, cdbOf({0xE9, 0x01, 0x01, 0, 0, 0}));

    // Refusals and a missing drive give 0.
    addFault(bench, 1, FaultKind::Check, {0xE9, 0x01});
    EXPECT_EQ(dev.vSHA256_VerifyKey(0, 1), 0);
    addFault(bench, 1, FaultKind::Fail, {0xE9, 0x00});
    EXPECT_EQ(dev.vSHA256_SendKey(0), 0);
    table.list.Devs[0].m_ucPhysicalAddress = 42;
    EXPECT_EQ(dev.vSHA256_SendKey(0), 0);
    EXPECT_EQ(dev.vSHA256_VerifyKey(0, 0), 0);
    EXPECT_EQ(dev.vCheckSupportSHA256(0), 0);
}

TEST(SHA256Key, SupportIsBit3OfTheFeatureRegisterClear)
{
    bench::BenchSettings settings;
    settings.ports.resize(5);
    settings.ports[1].registers = {{0xC8D1, 0x08}};
    settings.ports[2].registers = {{0xC8D1, 0xF7}};
    settings.ports[4].chip = "KRV752B";
    BenchFixture bench(settings);
    CKrvnUSBDev dev;
    DeviceTable table(bench, dev, 5);

    EXPECT_EQ(dev.vCheckSupportSHA256(0), 1);
    EXPECT_EQ(commandsOf(bench, 1).back().cdb, cdbOf({0xE4, 0x01, 0x00, 0xC8, 0xD1, 0x00}))
        << "read with the 6390 register command on every bridge";
    EXPECT_EQ(dev.vCheckSupportSHA256(1), 0);
    EXPECT_EQ(dev.vCheckSupportSHA256(2), 1);
    addFault(bench, 4, FaultKind::Check, {0xE4});
    EXPECT_EQ(dev.vCheckSupportSHA256(3), 0);
    EXPECT_EQ(dev.vCheckSupportSHA256(4), 0);

    // A bridge without keys refuses the command: no verdict is made up.
    CDriveHandle hDev(CreateDriveHandle(DriveKind::PhysicalDrive, bench.physicalDrive(5)));
    CSHA256 sha;
    uint8_t ucVerdict = 0x77;
    EXPECT_EQ(sha.SCSI6390_SHA256_VerifyKey(hDev.get(), &ucVerdict, 0), SCSI_RESULT_FAIL);
    EXPECT_EQ(ucVerdict, 0);
}

}  // namespace
}  // namespace krv::test
