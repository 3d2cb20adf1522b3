#pragma once
// A system journal that keeps what it was given, for tests that check where
// the debug lines go. The record outlives the journal, which its sink owns.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SystemJournal.h"

namespace krv::test {

struct JournalRecord {
    std::mutex mutex;
    std::vector<std::string> tags;  // one per open
    std::vector<std::string> entries;
};

class RecordingJournal : public SystemJournal {
public:
    explicit RecordingJournal(std::shared_ptr<JournalRecord> record) : record_(std::move(record)) {}
    void open(const std::string& tag) override
    {
        std::lock_guard<std::mutex> lock(record_->mutex);
        record_->tags.push_back(tag);
    }
    void write(std::string_view line) override
    {
        std::lock_guard<std::mutex> lock(record_->mutex);
        record_->entries.emplace_back(line);
    }

private:
    std::shared_ptr<JournalRecord> record_;
};

}  // namespace krv::test
