// The debug log's sink on Linux: stderr as before, and the system journal
// under the program's name, line by line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/linux/LinuxDebugOutput.h"
#include "tests/platform/RecordingJournal.h"
#include "tests/support/TestPlatform.h"

namespace krv {
namespace {

// Points stderr at a file for the life of the object and gives back what
// was written there.
class StderrCapture {
public:
    explicit StderrCapture(std::string path) : path_(std::move(path))
    {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        std::FILE* f = std::fopen(path_.c_str(), "w");
        ::dup2(::fileno(f), STDERR_FILENO);
        std::fclose(f);
    }
    ~StderrCapture() { restore(); }
    std::string take()
    {
        restore();
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

TEST(LinuxDebugOutput, EveryLineGoesToStderrAsWrittenAndToTheJournalUnderTheProgramName)
{
    struct Case {
        const char* text;
        const char* entry;  // null: no journal entry
    } cases[] = {
        {"\r\nERR::CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct:88: (status = FAIL) dwErrorCode 31",
         "ERR::CKrvnUSBDev::SCSI8574_AccessFirmwareEEPROM_Direct:88: (status = FAIL) dwErrorCode 31"},
        {"\r\nMSG::nRunProgram:40: started", "MSG::nRunProgram:40: started"},
        {"a line with its break at the end\n", "a line with its break at the end"},
        {"\r\n", nullptr},
        {"", nullptr},
    };
    test::TempDir dir;
    auto record = std::make_shared<test::JournalRecord>();
    std::string expectedStderr;
    std::vector<std::string> expectedEntries;
    StderrCapture capture(dir.file("stderr"));
    {
        LinuxDebugOutput sink("KRV857xVIVade", std::make_unique<test::RecordingJournal>(record));
        for (const Case& c : cases) {
            sink.write(c.text);
            expectedStderr += c.text;
            if (c.entry)
                expectedEntries.push_back(c.entry);
        }
    }
    EXPECT_EQ(capture.take(), expectedStderr);
    EXPECT_EQ(record->tags, std::vector<std::string>{"KRV857xVIVade"});
    EXPECT_EQ(record->entries, expectedEntries);
}

}  // namespace
}  // namespace krv
