// Fuzz target: the firmware file rules. The input is a file name and a file
// content; the rules run on the bytes in memory and on the same bytes
// written to a file, must agree with each other, and must never read
// outside what they were given, whatever its length.
// seed-corpus: tests/app/seeds/firmware_file.seed
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/FWFileRules.h"
#include "fuzz/FuzzPlatform.h"

namespace {

using fuzz::vCheck;
using fuzz::vInstallPlatform;

// One folder of its own for the whole run, removed when the run ends.
class WorkFolder {
public:
    WorkFolder()
    {
        std::string strTemplate = (std::filesystem::temp_directory_path() / "krvfuzz-fw-XXXXXX").string();
        if (!::mkdtemp(strTemplate.data()))
            __builtin_trap();
        m_strPath = strTemplate;
    }
    ~WorkFolder()
    {
        // Only ever the folder made above.
        if (m_strPath.find("krvfuzz-fw-") == std::string::npos)
            return;
        std::error_code ec;
        std::filesystem::remove_all(m_strPath, ec);
    }
    const std::string& path() const { return m_strPath; }

private:
    std::string m_strPath;
};

// A name the file system takes for one file in the work folder.
std::string strFileName(std::string_view strName)
{
    std::string strSafe(strName.substr(0, 200));
    for (char& c : strSafe)
        if (c == '/' || c == '\\' || c == '\0')
            c = '_';
    if (strSafe.empty() || strSafe == "." || strSafe == "..")
        strSafe = "x";
    return strSafe;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pucData, size_t nSize)
{
    vInstallPlatform();
    static const WorkFolder s_folder;
    if (nSize == 0)
        return 0;
    // First byte: how long the name is; then the name; the rest is the file.
    const size_t nNameLength = std::min<size_t>(pucData[0], nSize - 1);
    const std::string_view strName(reinterpret_cast<const char*>(pucData + 1), nNameLength);
    const uint8_t* pucImage = pucData + 1 + nNameLength;
    const size_t nImageSize = nSize - 1 - nNameLength;

    // On the bytes.
    const uint8_t ucSignature = ucFWSignatureOfImage(pucImage, nImageSize);
    std::string strVersion;
    const bool bHasVersion = bFWVersionOfImage(pucImage, nImageSize, strVersion);
    vCheck(bHasVersion == (strVersion.size() == 2 * FWFILE_VERSION_LENGTH));
    vCheck(bHasVersion == (nImageSize >= FWFILE_VERSION_OFFSET + FWFILE_VERSION_LENGTH));

    std::string strRevision;
    if (bBcdRevisionFromFWFileName(std::string(strName), strRevision))
        vCheck(strRevision.size() == 4);

    // Devices whose running versions are pieces of the content.
    std::vector<FWDevicePDInfo> devices;
    for (size_t i = 0; i < 3 && 12 * (i + 1) <= nImageSize; ++i)
        devices.push_back({std::string(reinterpret_cast<const char*>(pucImage) + 12 * i, 12 - i * 5),
                           static_cast<uint8_t>(pucImage[i] & 1)});
    (void)strFWPDTypeMismatch(std::string(strName), devices);

    // The same bytes as a file.
    const std::string strPath = s_folder.path() + "/" + strFileName(strName);
    {
        std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(pucImage), static_cast<std::streamsize>(nImageSize));
        if (!file)
            return 0;
    }
    vCheck(uGet8574FWSignatureFromeBin(strPath) == ucSignature);
    vCheck(strGetFWVersionFromBin(strPath) == strVersion);
    if (bCheckFWFile(strPath))
        vCheck(bHasVersion);
    for (uint8_t ucRev = 0; ucRev < 9; ++ucRev)
        (void)bCmp8574ChipAndFWVersion(ucRev, ucSignature);
    if (bBcdRevisionFromFWFile(strPath, strRevision))
        vCheck(strRevision.size() == 4);
    std::filesystem::remove(strPath);
    return 0;
}
