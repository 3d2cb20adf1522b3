#include "platform/bench/BenchFileMedia.h"

#include "platform/LastError.h"
#include "platform/bench/BenchDisks.h"
#include "platform/bench/BenchLayout.h"

namespace krv::bench {

int BenchFileMedia::deviceOf(const std::string& path)
{
    // Only the ports' drives go through a bridge; the system disk and the
    // USB disk have no faults to give.
    const int device = devices_->disks().deviceOfFilesPath(path);
    return device >= 1 && device <= kMaxPorts ? device : 0;
}

bool BenchFileMedia::readTransfer(int device, uint8_t* data, size_t size)
{
    return devices_->fileRead(device, data, size);
}

bool BenchFileMedia::writeTransfer(int device, const uint8_t* data, size_t size, std::vector<uint8_t>& stored)
{
    return devices_->fileWrite(device, data, size, stored);
}

bool BenchFileMedia::flush(int device)
{
    if (devices_->onBus(device))
        return true;
    setLastError(winerr::kDeviceNotConnected);
    return false;
}

}  // namespace krv::bench
