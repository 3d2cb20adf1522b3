#pragma once
// The volumes service on the bench: the letters of BenchDisks' volumes, their
// names and extents, and the file-system view read from each volume's bytes
// at every call. The files of a formatted volume live in a folder of the
// bench (mountPath), one per format of the volume. Labels are written by the
// file systems' own tools (BenchFormat).
#include <memory>

#include "platform/Volumes.h"
#include "platform/bench/BenchDevices.h"

namespace krv::bench {

class BenchVolumes : public Volumes {
public:
    explicit BenchVolumes(std::shared_ptr<BenchDevices> devices) : devices_(std::move(devices)) {}

    bool driveLetterInUse(char letter) override;
    std::vector<char> letters() override;
    bool volumeName(char letter, std::string& name) override;
    bool diskExtents(char letter, std::vector<DiskExtent>& extents) override;
    std::vector<char> lettersOfDisk(int diskNumber) override;
    bool volumeInformation(char letter, VolumeInformation& info) override;
    bool freeSpace(char letter, VolumeFreeSpace& space) override;
    std::string mountPath(char letter) override;
    std::vector<VolumeFile> files(char letter) override;
    bool setVolumeLabel(char letter, const std::string& label) override;

private:
    std::optional<BenchVolume> find(char letter);

    std::shared_ptr<BenchDevices> devices_;
};

}  // namespace krv::bench
