#pragma once
// Ownership of a bench folder: one process at a time holds an exclusive
// flock on bench.lock for as long as it owns the bench, and writes its pid
// and name into the file so that others can say who has it. The lock goes
// with the process (also when it crashes); the descriptor is close-on-exec so
// programs the owner starts never inherit it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace krv::bench {

struct OwnerInfo {
    uint32_t pid = 0;
    std::string name;  // the owner's process name, may be empty
};

class BenchLock {
public:
    enum class Result { Taken, Busy, Failed };

    // Tries to take the bench in `folder` without waiting. Busy: another
    // process (or another open in this one) owns it; `error` names the folder
    // and, when known, the owner.
    static Result tryTake(const std::string& folder, std::unique_ptr<BenchLock>& lock, std::string& error);

    // Who the lock file says owns the bench, when that process still runs.
    // Reads only: never takes the lock, so it cannot disturb an owner.
    static std::optional<OwnerInfo> recordedOwner(const std::string& folder);

    ~BenchLock();
    BenchLock(const BenchLock&) = delete;
    BenchLock& operator=(const BenchLock&) = delete;

private:
    explicit BenchLock(int fd) : fd_(fd) {}
    int fd_;
};

std::string describeOwner(const std::optional<OwnerInfo>& owner);

}  // namespace krv::bench
