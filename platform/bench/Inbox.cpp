#include "platform/bench/Inbox.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/bench/BenchFiles.h"

namespace krv::bench {

namespace {

constexpr std::string_view kCommandSuffix = ".cmd";
constexpr std::string_view kRejectedSuffix = ".rejected";

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Wall-clock nanoseconds, fixed width, then pid and a counter: posters in
// several processes sort by time and never collide.
std::string newId()
{
    static std::atomic<unsigned> counter{0};
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    char name[96];
    std::snprintf(name, sizeof name, "%010lld%09ld-%d-%u%s", static_cast<long long>(ts.tv_sec), ts.tv_nsec,
                  static_cast<int>(::getpid()), counter.fetch_add(1), kCommandSuffix.data());
    return name;
}

}  // namespace

Inbox::Inbox(std::string folder) : folder_(std::move(folder)) {}

bool Inbox::post(const BenchCommand& command, std::string& id, std::string& error)
{
    std::string name = newId();
    if (!writeFileAtomically(pathOf(name), formatCommand(command), error))
        return false;
    id = name;
    return true;
}

std::vector<std::string> Inbox::pending() const
{
    std::vector<std::string> ids;
    DIR* d = ::opendir(folder_.c_str());
    if (!d)
        return ids;
    while (dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        // Temporaries start with '.' and are not commands until renamed in.
        if (!name.empty() && name.front() != '.' && endsWith(name, kCommandSuffix))
            ids.emplace_back(name);
    }
    ::closedir(d);
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool Inbox::read(const std::string& id, BenchCommand& command, std::string& error) const
{
    std::string text;
    if (!readTextFile(pathOf(id), text, error))
        return false;
    return parseCommand(text, command, error);
}

void Inbox::markDone(const std::string& id) { ::unlink(pathOf(id).c_str()); }

void Inbox::markRejected(const std::string& id, const std::string& reason)
{
    // The reason is in place before the command goes, so a poster that sees
    // the command gone finds the reason at once.
    std::string ignored;
    writeFileAtomically(pathOf(id) + std::string(kRejectedSuffix), reason + "\n", ignored);
    ::unlink(pathOf(id).c_str());
}

Inbox::Fate Inbox::fate(const std::string& id, std::string& reason)
{
    if (::access(pathOf(id).c_str(), F_OK) == 0)
        return Fate::Pending;
    std::string rejected = pathOf(id) + std::string(kRejectedSuffix);
    std::string error;
    if (!readTextFile(rejected, reason, error))
        return Fate::Done;
    ::unlink(rejected.c_str());
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
        reason.pop_back();
    return Fate::Rejected;
}

}  // namespace krv::bench
