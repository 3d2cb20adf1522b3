#pragma once
// The inbox of a bench: how `krvbench` hands changes to the process that owns
// the bench. Each command is one file, written whole to a temporary name and
// renamed in, so the owner never reads half a command. Names sort in posting
// order. The owner removes a command once applied; a command it cannot apply
// leaves a "<id>.rejected" file with the reason for the poster to read.
#include <string>
#include <vector>

#include "platform/bench/BenchCommand.h"

namespace krv::bench {

class Inbox {
public:
    enum class Fate { Pending, Done, Rejected };

    explicit Inbox(std::string folder);  // the inbox folder itself

    bool post(const BenchCommand& command, std::string& id, std::string& error);
    // Ids of the commands waiting, oldest first.
    std::vector<std::string> pending() const;
    bool read(const std::string& id, BenchCommand& command, std::string& error) const;
    void markDone(const std::string& id);
    void markRejected(const std::string& id, const std::string& reason);
    // What became of a posted command; a rejection is reported once (its
    // record is removed as it is read).
    Fate fate(const std::string& id, std::string& reason);

private:
    std::string pathOf(const std::string& id) const { return folder_ + "/" + id; }

    std::string folder_;
};

}  // namespace krv::bench
