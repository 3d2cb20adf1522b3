#pragma once
// The storage queries of a bench drive (its device number and its storage
// device descriptor), the same whichever handle asks: a pass-through handle,
// a disk or CD-ROM interface, a disk or volume opened for I/O.
#include "platform/StorageInfo.h"
#include "platform/bench/BenchDevices.h"

namespace krv::bench {

// False with last error 1167 when the device is not the appearance the
// handle was opened on (`generation`) or not on its bus.
bool storageNumberOf(const std::optional<DeviceView>& view, uint64_t generation, bool cdrom,
                     StorageDeviceNumber& number);
bool storageDescriptorOf(const std::optional<DeviceView>& view, uint64_t generation, bool cdrom,
                         StorageDeviceDescriptor& descriptor);

}  // namespace krv::bench
