#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <thread>

#include "device/USBUtility.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/device/UtilityTestSupport.h"

namespace {

using krv::test::readAll;

class UtilityMessages : public ::testing::Test {
protected:
    void SetUp() override { platform.setMessageBoxes(&boxes); }
    void TearDown() override { platform.setMessageBoxes(nullptr); }

    krv::test::TestPlatform platform;
    krv::test::RecordingMessageBoxes boxes;
    krv::test::InTempCurrentFolder cwd;
    CUSBUtility utility;
};

TEST_F(UtilityMessages, BoxCaptionAndIconFollowTheType)
{
    struct Case {
        uint8_t type;
        const char* caption;
        uint32_t icon;
    };
    const Case cases[] = {
        {1, "Error", 0x10}, {2, "TimeOut", 0x10}, {3, "Warning", 0x30},
        {4, "Information", 0x40}, {5, "Question", 0x20}, {9, "", 0x00},
    };
    boxes.answer = krv::id::kYes;
    for (const Case& c : cases) {
        EXPECT_EQ(utility.nShowMessage("text", krv::mb::kYesNo, c.type), krv::id::kYes);
        EXPECT_EQ(utility.nShowProgramMessage("text", c.type, krv::mb::kYesNo,
                                              CUSBUtility::EMessageTarget::eMessageBox),
                  krv::id::kYes);
    }
    ASSERT_EQ(boxes.boxes.size(), 2 * std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        for (size_t k = 0; k < 2; ++k) {
            const auto& box = boxes.boxes[2 * i + k];
            EXPECT_EQ(box.caption, cases[i].caption);
            EXPECT_EQ(box.flags, krv::mb::kYesNo | cases[i].icon);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(PROGRAM_MESSAGE_FILE));
}

TEST_F(UtilityMessages, MessageFileIsCreatedThenAppendedWithAPause)
{
    const auto target = CUSBUtility::EMessageTarget::eMessageFile;
    EXPECT_EQ(utility.nShowProgramMessage("first", 3, 0, target), 0);
    EXPECT_EQ(readAll(PROGRAM_MESSAGE_FILE), "first\r\n");
    EXPECT_EQ(utility.nShowProgramMessage("second", 1, krv::mb::kOkCancel, target), 0);
    EXPECT_EQ(readAll(PROGRAM_MESSAGE_FILE), "first\r\nsecond\r\n");

    EXPECT_TRUE(boxes.boxes.empty());
    // One 1000 ms pause per message, on the virtual clock.
    EXPECT_EQ(platform.virtualClock().totalSleptMs(), 2000u);
    EXPECT_EQ(platform.virtualClock().monotonicMs(), 2000u);
}

TEST_F(UtilityMessages, UnwritableMessageFileStillPauses)
{
    std::filesystem::create_directory(PROGRAM_MESSAGE_FILE);  // a folder where the file should be
    EXPECT_EQ(utility.nShowProgramMessage("lost", 3, 0, CUSBUtility::EMessageTarget::eMessageFile), 0);
    EXPECT_EQ(platform.virtualClock().totalSleptMs(), 1000u);
}

TEST_F(UtilityMessages, CommandLineModeNeverShowsABox)
{
    utility.m_bCommandLineMode = true;
    EXPECT_EQ(utility.nShowMessage("Can not Found KRV419x Device", krv::mb::kYesNo, 1), krv::id::kNo);
    EXPECT_EQ(utility.nShowMessage("plain", krv::mb::kOk, 4), krv::id::kOk);
    // Even a caller that asks for a box gets the file.
    EXPECT_EQ(utility.nShowProgramMessage("asked for a box", 3, krv::mb::kOkCancel,
                                          CUSBUtility::EMessageTarget::eMessageBox),
              0);
    EXPECT_FALSE(utility.vCheckFilePathExists(cwd.dir().file("missing.ini"), 1));

    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(readAll(PROGRAM_MESSAGE_FILE), "Can not Found KRV419x Device\r\nplain\r\nasked for a box\r\n" +
                                                 cwd.dir().file("missing.ini") + " File/Path Not Read/Write\r\n");
}

TEST_F(UtilityMessages, FailedPathCheckShowsThePath)
{
    const std::string missing = cwd.dir().file("missing.bin");
    EXPECT_FALSE(utility.vCheckFilePathExists(missing, 0));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(utility.vCheckFilePathExists(missing, 1));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, missing + " File/Path Not Read/Write");
    EXPECT_TRUE(utility.vCheckFilePathExists(cwd.dir().path(), 1));
}

std::string ownBaseName() { return krv::fileNameOf(krv::executablePath()); }

TEST_F(UtilityMessages, ProcessLookupMatchesTheExactName)
{
    const std::string self = ownBaseName();
    ASSERT_FALSE(self.empty());
    std::string upper = self;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    ASSERT_NE(upper, self);

    EXPECT_GE(utility.DetectProcess(self), 1);
    EXPECT_EQ(utility.DetectProcess(upper), 0);
    EXPECT_EQ(utility.DetectProcess(self.substr(0, self.size() - 1)), 0);

    // The first of that name in enumeration order: another copy of this test
    // program may run beside us, so the answer is the lowest such id.
    uint32_t first = utility.GetProcessID(self);
    ASSERT_NE(first, 0u);
    EXPECT_LE(first, platform.processes().currentPid());
    // A sibling copy may have ended since.
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(first) + "/exe", ec);
    if (!ec) {
        EXPECT_EQ(krv::fileNameOf(exe.string()), self);
    }
    EXPECT_EQ(utility.GetProcessID(upper), 0u);
    EXPECT_FALSE(utility.KillProcess(0, 0));
}

TEST_F(UtilityMessages, FreeDriveLetterFromE)
{
    auto& letters = platform.letters();
    EXPECT_EQ(utility.cGetFreeDriveLetter(), 'E');  // A to D are never offered
    letters.setInUse('E', true);
    letters.setInUse('F', true);
    letters.setInUse('H', true);
    EXPECT_EQ(utility.cGetFreeDriveLetter(), 'G');
    for (char c = 'E'; c <= 'Z'; ++c)
        letters.setInUse(c, true);
    EXPECT_EQ(utility.cGetFreeDriveLetter(), NO_FREE_DRIVE_LETTER);
    letters.setInUse('Z', false);
    EXPECT_EQ(utility.cGetFreeDriveLetter(), 'Z');
}

TEST_F(UtilityMessages, TheFiveLocksAreIndependent)
{
    krv::WaitableMutex* locks[] = {&utility.m_PartitionCriticalSection,
                                   &utility.m_ChildThreadFormatUtilityCriticalSection,
                                   &utility.m_ReloadFWCriticalSection, &utility.m_ChildThreadPreloadCriticalSection,
                                   &utility.m_ScanCriticalSection};
    for (krv::WaitableMutex* held : locks) {
        std::lock_guard guard(*held);
        std::thread other([&] {
            for (krv::WaitableMutex* m : locks) {
                bool got = m->try_lock();
                EXPECT_EQ(got, m != held);
                if (got)
                    m->unlock();
            }
        });
        other.join();
    }
}

TEST_F(UtilityMessages, InitializeFindsTheProgramFolder)
{
    utility.g_strFWFileName = "old.bin";
    utility.g_nHighestCDROMNumber = 3;
    utility.m_bSafelyRemoving = 1;
    utility.vInitialize();
    EXPECT_EQ(utility.m_szModulePath, krv::executablePath());
    EXPECT_EQ(utility.m_szProgramFolder, krv::parentFolder(utility.m_szModulePath));
    EXPECT_TRUE(std::filesystem::is_directory(utility.m_szProgramFolder));
    EXPECT_EQ(g_llPerformanceFrequency, platform.clock().tickFrequency());
    EXPECT_TRUE(utility.g_strFWFileName.empty());
    EXPECT_EQ(utility.g_nHighestCDROMNumber.load(), 0);
    EXPECT_EQ(utility.m_bSafelyRemoving.load(), 0);

    utility.vSetProgress(7);
    EXPECT_EQ(utility.ucGetProgress(), 7);
    EXPECT_EQ(utility.ucGetOSVersionCode(), OS_VERSION_UNKNOWN);

    utility.vShutdown();
    EXPECT_TRUE(utility.m_szProgramFolder.empty());
}

}  // namespace
