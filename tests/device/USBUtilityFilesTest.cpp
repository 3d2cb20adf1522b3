#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "device/USBUtility.h"
#include "tests/device/UtilityTestSupport.h"

namespace {

namespace fs = std::filesystem;
using krv::test::readAll;
using krv::test::writeAll;

class UtilityFiles : public ::testing::Test {
protected:
    krv::test::TestPlatform platform;
    krv::test::TempDir dir;
    CUSBUtility utility;
};

TEST_F(UtilityFiles, ReadFileFillsTheBufferOrTakesTheWholeFile)
{
    const std::string path = dir.file("ten.bin");
    writeAll(path, "0123456789");

    std::vector<uint8_t> small(4, 0xEE);
    EXPECT_TRUE(utility.vReadFile(path, small.data(), 4));
    EXPECT_EQ(std::string(small.begin(), small.end()), "0123");

    std::vector<uint8_t> big(16, 0xEE);
    EXPECT_TRUE(utility.vReadFile(path, big.data(), 16));
    EXPECT_EQ(std::string(big.begin(), big.begin() + 10), "0123456789");
    EXPECT_EQ(big[10], 0xEE);

    // A caller that needs the buffer full is told how much came.
    uint32_t dwRead = 99;
    EXPECT_TRUE(utility.vReadFile(path, big.data(), 16, &dwRead));
    EXPECT_EQ(dwRead, 10u);
    EXPECT_TRUE(utility.vReadFile(path, small.data(), 4, &dwRead));
    EXPECT_EQ(dwRead, 4u);
    EXPECT_FALSE(utility.vReadFile(dir.file("missing.bin"), big.data(), 16, &dwRead));
    EXPECT_EQ(dwRead, 0u);

    EXPECT_FALSE(utility.vReadFile(dir.file("missing.bin"), big.data(), 16));
    EXPECT_FALSE(utility.vReadFile(path, nullptr, 16));
    EXPECT_FALSE(utility.vReadFile(dir.path(), big.data(), 16));  // a folder is no file
}

TEST_F(UtilityFiles, WriteFileReplacesTheWholeFile)
{
    const std::string path = dir.file("cfg.bin");
    writeAll(path, std::string(300, 'Z'));
    const std::vector<uint8_t> data = {1, 2, 3, 0, 5};
    EXPECT_TRUE(utility.vWriteFile(path, data.data(), static_cast<uint32_t>(data.size())));
    EXPECT_EQ(readAll(path), std::string("\x01\x02\x03\x00\x05", 5));

    EXPECT_FALSE(utility.vWriteFile(path, nullptr, 5));
    // A path below a regular file cannot be created.
    EXPECT_FALSE(utility.vWriteFile(path + "/below.bin", data.data(), 5));
    EXPECT_FALSE(utility.vWriteFile("/dev/full", data.data(), 5));
}

TEST_F(UtilityFiles, CopyFileMemLeavesNoStaleTailAndKeepsTimes)
{
    const std::string source = dir.file("src.txt");
    const std::string destination = dir.file("dst.txt");
    writeAll(source, "new content");
    writeAll(destination, std::string(4096, 'O'));
    fs::permissions(source, fs::perms(0640));
    fs::last_write_time(source, fs::last_write_time(source) - std::chrono::hours(48));

    EXPECT_TRUE(utility.CopyFileMem(source, destination));
    EXPECT_EQ(readAll(destination), "new content");
    EXPECT_EQ(fs::last_write_time(destination), fs::last_write_time(source));
    EXPECT_EQ(fs::status(destination).permissions(), fs::perms(0640));

    writeAll(dir.file("empty"), "");
    EXPECT_TRUE(utility.CopyFileMem(dir.file("empty"), dir.file("empty.copy")));
    EXPECT_EQ(fs::file_size(dir.file("empty.copy")), 0u);

    EXPECT_FALSE(utility.CopyFileMem(dir.file("missing"), dir.file("out")));
    EXPECT_FALSE(utility.CopyFileMem(source, source + "/below"));
    // What is in the way and is no file stays as it is.
    writeAll(dir.file("folder/inside"), "i");
    EXPECT_FALSE(utility.CopyFileMem(source, dir.file("folder")));
    EXPECT_EQ(readAll(dir.file("folder/inside")), "i");
}

TEST_F(UtilityFiles, CopyFileMemAcrossChunks)
{
    // Sparse source one chunk and a few bytes long, with markers on both
    // sides of the chunk boundary.
    const std::string source = dir.file("big.img");
    {
        std::ofstream out(source, std::ios::binary);
        out << "head";
        out.seekp(static_cast<std::streamoff>(COPY_FILE_CHUNK_SIZE - 2));
        out << "ABCD";
        out << "tail";
    }
    const std::string destination = dir.file("big.copy");
    ASSERT_TRUE(utility.CopyFileMem(source, destination));
    EXPECT_EQ(fs::file_size(destination), COPY_FILE_CHUNK_SIZE + 6);
    std::ifstream a(source, std::ios::binary), b(destination, std::ios::binary);
    std::vector<char> bufA(1 << 20), bufB(1 << 20);
    bool same = true;
    while (same && a && b) {
        a.read(bufA.data(), static_cast<std::streamsize>(bufA.size()));
        b.read(bufB.data(), static_cast<std::streamsize>(bufB.size()));
        same = a.gcount() == b.gcount() && std::equal(bufA.begin(), bufA.begin() + a.gcount(), bufB.begin());
    }
    EXPECT_TRUE(same);
}

TEST_F(UtilityFiles, DirCopyCopiesTheNestedTree)
{
    const std::string source = dir.file("preload");
    writeAll(source + "/readme.txt", "top");
    writeAll(source + "/docs/manual.pdf", std::string(1000, 'm'));
    writeAll(source + "/docs/deep/er/note.txt", "deep");
    fs::create_directories(source + "/emptyfolder");
    const std::string destination = dir.file("volume");
    fs::create_directory(destination);
    writeAll(destination + "/docs/manual.pdf", std::string(5000, 'x'));  // older and longer

    // Windows separators as a setting may hold them.
    EXPECT_TRUE(utility.Dir_Copy(dir.path() + "\\preload", dir.path() + "\\volume", 3));
    EXPECT_EQ(readAll(destination + "/readme.txt"), "top");
    EXPECT_EQ(readAll(destination + "/docs/manual.pdf"), std::string(1000, 'm'));
    EXPECT_EQ(readAll(destination + "/docs/deep/er/note.txt"), "deep");
    EXPECT_TRUE(fs::is_directory(destination + "/emptyfolder"));

    EXPECT_FALSE(utility.Dir_Copy(dir.file("missing"), destination));
    writeAll(dir.file("plainfile"), "x");
    EXPECT_FALSE(utility.Dir_Copy(source, dir.file("plainfile")));
}

TEST_F(UtilityFiles, ACopyOntoItselfIsRefusedAndLosesNothing)
{
    const std::string source = dir.file("image.bin");
    writeAll(source, "firmware");
    fs::create_symlink(source, dir.file("link.bin"));
    fs::create_hard_link(source, dir.file("hard.bin"));
    fs::create_directory(dir.file("sub"));

    // The same file under its own name, through a link, a hard link and a
    // detour through another folder.
    for (const std::string& destination :
         {source, dir.file("link.bin"), dir.file("hard.bin"), dir.file("sub/../image.bin")}) {
        EXPECT_FALSE(utility.CopyFileMem(source, destination)) << destination;
        EXPECT_EQ(readAll(source), "firmware") << destination;
    }

    const std::string folder = dir.file("preload");
    writeAll(folder + "/a.txt", "a");
    writeAll(folder + "/docs/b.txt", "b");
    EXPECT_FALSE(utility.Dir_Copy(folder, folder));
    EXPECT_FALSE(utility.Dir_Copy(folder, folder + "/docs"));  // would copy into itself without end
    EXPECT_EQ(readAll(folder + "/a.txt"), "a");
    EXPECT_EQ(readAll(folder + "/docs/b.txt"), "b");
    EXPECT_FALSE(fs::exists(folder + "/docs/docs"));
}

TEST_F(UtilityFiles, ALinkInTheWayIsReplacedNeverFollowed)
{
    const std::string victim = dir.file("victim.txt");
    writeAll(victim, "keep me");
    writeAll(dir.file("src.txt"), "new");
    fs::create_symlink(victim, dir.file("dst.txt"));

    EXPECT_TRUE(utility.CopyFileMem(dir.file("src.txt"), dir.file("dst.txt")));
    EXPECT_EQ(readAll(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(dir.file("dst.txt")));
    EXPECT_EQ(readAll(dir.file("dst.txt")), "new");
}

TEST_F(UtilityFiles, APipeWhereAFileBelongsIsRefusedAtOnce)
{
    const std::string pipe = dir.file("pipe.bin");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    std::vector<uint8_t> buffer(16);
    // Without a writer on the other end, an ordinary open would wait forever.
    EXPECT_FALSE(utility.vReadFile(pipe, buffer.data(), 16));
    EXPECT_FALSE(utility.CopyFileMem(pipe, dir.file("copy.bin")));
}

TEST_F(UtilityFiles, FolderSizeCountsFilesNotLinks)
{
    const std::string folder = dir.file("tree");
    writeAll(folder + "/a", std::string(10, 'a'));
    writeAll(folder + "/sub/b", std::string(20, 'b'));
    writeAll(folder + "/sub/deeper/c", std::string(30, 'c'));
    writeAll(dir.file("outside"), std::string(1000, 'o'));
    fs::create_symlink(dir.file("outside"), folder + "/link-to-file");
    fs::create_directory_symlink(dir.path(), folder + "/sub/link-to-top");  // would loop if followed

    EXPECT_EQ(utility.dGetFolderSize(folder, 0), 60.0);
    EXPECT_EQ(utility.dGetFolderSize(folder + "/sub/b", 1), 20.0);
    EXPECT_EQ(utility.dGetFolderSize(folder + "/sub/b", 0), 0.0);
    EXPECT_EQ(utility.dGetFolderSize(dir.file("missing"), 0), 0.0);
    EXPECT_EQ(utility.dGetFolderSize(dir.file("missing"), 1), 0.0);
}

TEST_F(UtilityFiles, DeleteFolderTreeRemovesLinksNotTheirTargets)
{
    const std::string folder = dir.file("tree");
    writeAll(folder + "/a", "a");
    writeAll(folder + "/sub/b", "b");
    writeAll(dir.file("keep/precious"), "p");
    fs::create_directory_symlink(dir.file("keep"), folder + "/sub/link");
    ::chmod((folder + "/a").c_str(), 0444);

    EXPECT_TRUE(utility.vDeleteFolderTree(folder));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(readAll(dir.file("keep/precious")), "p");

    fs::create_directory_symlink(dir.file("keep"), dir.file("top-link"));
    EXPECT_TRUE(utility.vDeleteFolderTree(dir.file("top-link")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.file("top-link"))));
    EXPECT_TRUE(fs::exists(dir.file("keep/precious")));

    EXPECT_FALSE(utility.vDeleteFolderTree(""));
}

TEST_F(UtilityFiles, BrowseListReplacesTheFileInTheProgramFolder)
{
    utility.m_szProgramFolder = dir.path();
    EXPECT_TRUE(utility.vSaveBINBrowseList("C:\\fw\\a.bin\r\nC:\\fw\\b.bin\r\n"));
    EXPECT_TRUE(utility.vSaveBINBrowseList("C:\\fw\\c.bin\r\n"));
    EXPECT_EQ(readAll(dir.file("BrowsedBINPath.txt")), "C:\\fw\\c.bin\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    utility.m_szProgramFolder = dir.file("BrowsedBINPath.txt");  // not a folder
    EXPECT_FALSE(utility.vSaveBINBrowseList("x"));
}

TEST_F(UtilityFiles, DiskPartScriptIsDeletedFromTheCurrentFolder)
{
    krv::test::InTempCurrentFolder cwd;
    writeAll(cwd.dir().file("DiskPartTarget3.sc"), "select disk 3\r\n");
    writeAll(cwd.dir().file("DiskPartTarget4.sc"), "select disk 4\r\n");
    vDEBUG_SetLevel(1);
    EXPECT_TRUE(utility.vDelDiskPartSetupInfo(3));
    EXPECT_FALSE(fs::exists(cwd.dir().file("DiskPartTarget3.sc")));
    EXPECT_TRUE(fs::exists(cwd.dir().file("DiskPartTarget4.sc")));
    EXPECT_FALSE(utility.vDelDiskPartSetupInfo(3));
    EXPECT_TRUE(platform.capture().contains("No strDiskPartFileName[DiskPartTarget3.sc] to Delete"));
    vDEBUG_SetLevel(0);
}

}  // namespace
