#include "platform/bench/disk/Fat32Writer.h"

#include <cstring>
#include <vector>

#include "platform/bench/disk/LittleEndian.h"
#include "platform/bench/disk/PartitionTable.h"

namespace krv::bench {

bool fat32Layout(uint64_t sectors, Fat32Layout& layout)
{
    const uint64_t mib = 2048;  // sectors
    uint32_t spc = sectors <= 260 * mib ? 1 : sectors <= 8192 * mib ? 8 : sectors <= 16384 * mib ? 16
                 : sectors <= 32768 * mib ? 32 : 64;
    if (sectors > 0xFFFFFFFFULL)
        return false;
    Fat32Layout l;
    l.sectorsPerCluster = spc;
    // Each table entry covers a cluster; solve for the table's size the way
    // the published formula does, then count the clusters that remain.
    uint64_t data = sectors - l.reservedSectors;
    uint64_t perFatSector = (256ULL * spc + 2) / 2;
    l.fatSectors = static_cast<uint32_t>((data + perFatSector - 1) / perFatSector);
    l.clusters = (sectors - l.reservedSectors - 2ULL * l.fatSectors) / spc;
    if (sectors <= l.reservedSectors + 2ULL * l.fatSectors || l.clusters < 65525 || l.clusters >= 0x0FFFFFF5)
        return false;
    layout = l;
    return true;
}

bool writeFat32(const DiskImage& disk, uint64_t offset, uint64_t sectors, const std::string& label, uint32_t serial,
                std::string& error)
{
    Fat32Layout l;
    if (!fat32Layout(sectors, l)) {
        error = "a FAT32 volume of " + std::to_string(sectors) + " sectors is too small or too large";
        return false;
    }
    std::string name = label.empty() ? "NO NAME" : label;
    name.resize(11, ' ');
    std::vector<uint8_t> boot(kSectorSize, 0);
    boot[0] = 0xEB;
    boot[1] = 0x58;
    boot[2] = 0x90;
    std::memcpy(&boot[3], "KRVBENCH", 8);
    le::put16(&boot[11], kSectorSize);
    boot[13] = static_cast<uint8_t>(l.sectorsPerCluster);
    le::put16(&boot[14], static_cast<uint16_t>(l.reservedSectors));
    boot[16] = 2;
    boot[21] = 0xF8;
    le::put16(&boot[24], 63);
    le::put16(&boot[26], 255);
    le::put32(&boot[28], static_cast<uint32_t>(offset / kSectorSize));
    le::put32(&boot[32], static_cast<uint32_t>(sectors));
    le::put32(&boot[36], l.fatSectors);
    le::put32(&boot[44], 2);   // root folder cluster
    le::put16(&boot[48], 1);   // FS information sector
    le::put16(&boot[50], 6);   // backup boot sector
    boot[64] = 0x80;
    boot[66] = 0x29;
    le::put32(&boot[67], serial);
    std::memcpy(&boot[71], name.data(), 11);
    std::memcpy(&boot[82], "FAT32   ", 8);
    boot[510] = 0x55;
    boot[511] = 0xAA;

    std::vector<uint8_t> info(kSectorSize, 0);
    le::put32(&info[0], 0x41615252);
    le::put32(&info[484], 0x61417272);
    le::put32(&info[488], static_cast<uint32_t>(l.clusters - 1));
    le::put32(&info[492], 3);
    info[510] = 0x55;
    info[511] = 0xAA;

    std::vector<uint8_t> fat(kSectorSize, 0);
    le::put32(&fat[0], 0x0FFFFFF8);
    le::put32(&fat[4], 0x0FFFFFFF);
    le::put32(&fat[8], 0x0FFFFFFF);  // the root folder: one cluster

    std::vector<uint8_t> root(size_t{kSectorSize} * l.sectorsPerCluster, 0);
    if (!label.empty()) {
        std::memcpy(&root[0], name.data(), 11);
        root[11] = 0x08;
    }
    uint64_t fat0 = offset + uint64_t{l.reservedSectors} * kSectorSize;
    uint64_t fatBytes = uint64_t{l.fatSectors} * kSectorSize;
    uint64_t rootAt = fat0 + 2 * fatBytes;
    std::vector<uint8_t> zeros(kSectorSize * 32, 0);
    bool ok = disk.write(offset, zeros.data(), zeros.size()) && disk.write(offset, boot.data(), kSectorSize) &&
              disk.write(offset + kSectorSize, info.data(), kSectorSize) &&
              disk.write(offset + 6 * kSectorSize, boot.data(), kSectorSize) &&
              disk.write(offset + 7 * kSectorSize, info.data(), kSectorSize) &&
              disk.write(fat0, fat.data(), kSectorSize) && disk.write(fat0 + fatBytes, fat.data(), kSectorSize) &&
              disk.write(rootAt, root.data(), root.size());
    if (!ok)
        error = "cannot write the FAT32 volume on " + disk.path();
    return ok;
}

}  // namespace krv::bench
