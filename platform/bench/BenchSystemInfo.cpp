#include "platform/bench/BenchSystemInfo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>

#include "platform/FileSystem.h"
#include "platform/bench/BenchFiles.h"
#include "platform/LastError.h"
#include "platform/Paths.h"

namespace krv::bench {

namespace {

const std::vector<PowerScheme>& schemes()
{
    static const std::vector<PowerScheme> kSchemes = {
        {kSchemeBalanced, "Balanced"},
        {kSchemeHighPerformance, "High performance"},
        {kSchemePowerSaver, "Power saver"},
    };
    return kSchemes;
}

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool knownScheme(const std::string& guid)
{
    const auto& all = schemes();
    return std::any_of(all.begin(), all.end(), [&](const PowerScheme& s) { return s.guid == guid; });
}

// A claim name as a file-name part: letters, digits, '-', '_' and '.' stay.
std::string fileNamePart(const std::string& name)
{
    std::string part;
    for (char c : name)
        part += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '_';
    return part;
}

}  // namespace

BenchSystemInfo::BenchSystemInfo(std::string folder) : folder_(std::move(folder)), active_(kSchemeBalanced)
{
    std::string text, ignored;
    if (readTextFile(powerSchemePath(folder_), text, ignored)) {
        std::string line = lowerCase(text.substr(0, text.find('\n')));
        if (knownScheme(line))
            active_ = line;
    }
}

BenchSystemInfo::~BenchSystemInfo()
{
    for (auto& [name, fd] : claims_)
        ::close(fd);
}

std::string BenchSystemInfo::powerSchemePath(const std::string& folder) { return joinPath(folder, "power_scheme"); }

std::string BenchSystemInfo::instanceLockPath(const std::string& folder, const std::string& name)
{
    return joinPath(folder, "instance-" + fileNamePart(name) + ".lock");
}

std::vector<PowerScheme> BenchSystemInfo::powerSchemes() { return schemes(); }

std::string BenchSystemInfo::activePowerScheme()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return active_;
}

bool BenchSystemInfo::setActivePowerScheme(const std::string& guid)
{
    const std::string wanted = lowerCase(guid);
    if (!knownScheme(wanted)) {
        setLastError(winerr::kFileNotFound);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writeFileAtomic(powerSchemePath(folder_), wanted + "\n"))
        return false;
    active_ = wanted;
    return true;
}

bool BenchSystemInfo::claimProgramInstance(const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (claims_.count(name))
        return true;
    const std::string path = instanceLockPath(folder_, name);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        setLastErrorFromErrno(errno);
        return false;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        setLastError(err == EWOULDBLOCK ? winerr::kAlreadyExists : winErrorFromErrno(err));
        return false;
    }
    claims_[name] = fd;
    return true;
}

}  // namespace krv::bench
