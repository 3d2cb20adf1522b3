#pragma once
// The storage stack under the files of the bench's volumes: a file on a
// port's volume is read and written through that port's device (its
// commands, latency and faults); every other file is the host's alone.
#include <memory>

#include "platform/FileMedia.h"
#include "platform/bench/BenchDevices.h"

namespace krv::bench {

class BenchFileMedia : public FileMedia {
public:
    explicit BenchFileMedia(std::shared_ptr<BenchDevices> devices) : devices_(std::move(devices)) {}

    int deviceOf(const std::string& path) override;
    bool readTransfer(int device, uint8_t* data, size_t size) override;
    bool writeTransfer(int device, const uint8_t* data, size_t size, std::vector<uint8_t>& stored) override;
    // A bench drive stores each write before it answers it: a flush has
    // nothing left to do, unless the drive has gone from the bus. The
    // volume's folder on the host is not flushed (it is the drive's medium).
    bool flush(int device) override;

private:
    std::shared_ptr<BenchDevices> devices_;
};

}  // namespace krv::bench
