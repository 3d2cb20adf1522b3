#pragma once
// The medium under a file. On the host a file's bytes reach its disk through
// the kernel's own storage stack, so nothing is added here. A backend whose
// volumes are emulated passes each read and write of a file on such a volume
// through the device that holds it (its commands, latency and faults), as a
// storage stack carries file data to a drive: a drive that fails, times out
// or drops off the bus fails the file's I/O, and one that returns or stores
// a wrong byte changes what the file holds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace krv {

class FileMedia {
public:
    virtual ~FileMedia() = default;
    // The device holding the file at `path`; 0 when the file is on no
    // emulated volume.
    virtual int deviceOf(const std::string& path) = 0;
    // The device's transfer of `size` bytes of file data just read, which
    // it may change. False with the last error set when the device failed it.
    virtual bool readTransfer(int device, uint8_t* data, size_t size) = 0;
    // The device's transfer of `size` bytes of file data before they are
    // written. The caller's bytes are never changed: a device that stores
    // other bytes than it was given puts all `size` of what it stores in
    // `stored`, and leaves `stored` empty when it stores `data` as it is, so
    // the common write moves the caller's buffer without a copy. False with
    // the last error set when the device failed it.
    virtual bool writeTransfer(int device, const uint8_t* data, size_t size, std::vector<uint8_t>& stored) = 0;
    // The device's flush of the file data it has taken (a file's sync):
    // false with the last error set when the device cannot do it.
    virtual bool flush(int device) = 0;
};

}  // namespace krv
