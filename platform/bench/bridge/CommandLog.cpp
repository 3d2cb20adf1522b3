#include "platform/bench/bridge/CommandLog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "platform/bench/BenchFiles.h"
#include "platform/bench/bridge/Images.h"

namespace krv::bench {

namespace {

// A log file grows by appends; once it passes this size it is cut down to
// its last kKeepLines lines (older sessions fall off the top).
constexpr uint64_t kMaxFileBytes = 48ULL << 20;
constexpr size_t kKeepLines = 200'000;

const char* directionName(DataDirection direction)
{
    switch (direction) {
    case DataDirection::In: return "in";
    case DataDirection::Out: return "out";
    case DataDirection::None: break;
    }
    return "none";
}

std::string trimToLastLines(const std::string& text, size_t keep)
{
    size_t lines = 0;
    for (size_t pos = text.size(); pos > 0; --pos) {
        if (text[pos - 1] == '\n' && pos != text.size() && ++lines >= keep)
            return text.substr(pos);
    }
    return text;
}

std::string wallClockText()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

std::string formatLogEntry(const LogEntry& entry)
{
    char ms[24];
    std::snprintf(ms, sizeof ms, "%8llu ", static_cast<unsigned long long>(entry.ms));
    std::string line = ms;
    if (entry.kind == LogEntry::Kind::Event)
        return line + "event " + entry.note;
    line += entry.cdrom ? "cdrom" : "disk ";
    for (uint8_t b : entry.cdb)
        line += " " + toHex(&b, 1);
    line += std::string(" ") + directionName(entry.direction) + " " + std::to_string(entry.dataLength) + " t/o " +
            std::to_string(entry.timeoutSeconds) + "s -> ";
    switch (entry.result) {
    case LogEntry::Result::Good: line += "good " + std::to_string(entry.transferred); break;
    case LogEntry::Result::CheckCondition: {
        char sense[24];
        std::snprintf(sense, sizeof sense, "check %02X/%02X/%02X", entry.sense.key, entry.sense.asc, entry.sense.ascq);
        line += sense;
        break;
    }
    case LogEntry::Result::TransportFailed: line += "failed " + std::to_string(entry.lastError); break;
    }
    if (!entry.note.empty())
        line += " (" + entry.note + ")";
    return line;
}

void CommandLog::add(LogEntry entry)
{
    if (entries_.size() >= kMaxEntries) {
        size_t cut = kMaxEntries / 4;
        entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(cut));
        dropped_ += cut;
        flushed_ = flushed_ > cut ? flushed_ - cut : 0;
    }
    entries_.push_back(std::move(entry));
}

void CommandLog::event(uint64_t ms, std::string what)
{
    LogEntry entry;
    entry.kind = LogEntry::Kind::Event;
    entry.ms = ms;
    entry.note = std::move(what);
    add(std::move(entry));
}

void CommandLog::forgetFlushed()
{
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(flushed_));
    flushed_ = 0;
}

bool CommandLog::flush(const std::string& path, std::string& error)
{
    if (flushed_ == entries_.size())
        return true;
    std::string text;
    if (!sessionOpened_)
        text += "# session of pid " + std::to_string(::getpid()) + ", opened " + wallClockText() +
                " (times are this session's bench milliseconds)\n";
    for (size_t i = flushed_; i < entries_.size(); ++i)
        text += formatLogEntry(entries_[i]) + "\n";
    // Appended, not rewritten: a long run's log costs what it adds. Only a
    // file grown past its bound is rewritten, cut to its last lines.
    struct stat st {};
    const bool tooBig = ::stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) + text.size() > kMaxFileBytes;
    if (tooBig) {
        std::string whole;
        if (!readTextFile(path, whole, error))
            return false;
        if (!writeFileAtomically(path, trimToLastLines(whole + text, kKeepLines), error))
            return false;
    } else if (!appendToTextFile(path, text, error)) {
        return false;
    }
    sessionOpened_ = true;
    flushed_ = entries_.size();
    return true;
}

}  // namespace krv::bench
