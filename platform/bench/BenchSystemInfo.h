#pragma once
// The machine state of a bench that is not a device: the power schemes with
// the active one, and the one-instance claims of the programs that use the
// bench. The active scheme is kept in the bench folder (power_scheme), so a
// scheme that one program run set is what the next run finds, as on a real
// machine; a claim is an flock on instance-NAME.lock in the bench folder,
// which goes with the process that holds it.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"

namespace krv::bench {

// The schemes every bench machine has, as powercfg names them.
inline constexpr const char* kSchemeBalanced = "381b4222-f694-41f0-9685-ff5bb260df2e";
inline constexpr const char* kSchemeHighPerformance = "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c";
inline constexpr const char* kSchemePowerSaver = "a1841308-3541-4fab-bc81-f71556f20b4a";

class BenchSystemInfo : public SystemInfo {
public:
    // `folder`: the bench folder. A machine starts on the balanced scheme.
    explicit BenchSystemInfo(std::string folder);
    ~BenchSystemInfo() override;
    BenchSystemInfo(const BenchSystemInfo&) = delete;
    BenchSystemInfo& operator=(const BenchSystemInfo&) = delete;

    std::vector<PowerScheme> powerSchemes() override;
    std::string activePowerScheme() override;
    bool setActivePowerScheme(const std::string& guid) override;
    bool claimProgramInstance(const std::string& name) override;

    // Where the active scheme is kept.
    static std::string powerSchemePath(const std::string& folder);
    static std::string instanceLockPath(const std::string& folder, const std::string& name);

private:
    std::string folder_;
    std::mutex mutex_;
    std::string active_;                 // guarded by mutex_
    std::map<std::string, int> claims_;  // name -> locked descriptor
};

}  // namespace krv::bench
