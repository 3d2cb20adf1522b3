#pragma once
// The SCSI pass-through service on the bench: drives are opened by number
// and commands go to the bench's devices.
#include <memory>

#include "platform/ScsiPassThrough.h"
#include "platform/bench/BenchDevices.h"

namespace krv::bench {

class BenchScsi : public ScsiPassThrough {
public:
    explicit BenchScsi(std::shared_ptr<BenchDevices> devices) : devices_(std::move(devices)) {}
    std::unique_ptr<ScsiDevice> open(DriveKind kind, int number) override;

private:
    std::shared_ptr<BenchDevices> devices_;
};

}  // namespace krv::bench
