#include "platform/bench/disk/PartitionTable.h"

#include <algorithm>
#include <cstring>

#include "platform/bench/disk/Crc32.h"
#include "platform/bench/disk/LittleEndian.h"

namespace krv::bench {

const Guid kGptBasicData{0xEBD0A0A2, 0xB9E5, 0x4433, {0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7}};
const Guid kGptMicrosoftReserved{0xE3C9E316, 0x0B5C, 0x4DB8, {0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE}};

namespace {

using Sector = std::vector<uint8_t>;

constexpr size_t kMbrTable = 446;
constexpr size_t kGptEntrySize = 128;
constexpr uint32_t kGptEntries = 128;
constexpr uint64_t kGptEntryBytes = kGptEntries * kGptEntrySize;  // 32 sectors of 512 bytes, 4 of 4096

bool isExtended(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

bool readSector(const ByteSource& disk, uint64_t lba, Sector& sector, uint32_t sectorSize)
{
    sector.assign(sectorSize, 0);
    return (lba + 1) * sectorSize <= disk.size && disk.read(lba * sectorSize, sector.data(), sectorSize);
}

bool bootSignature(const Sector& s) { return s[510] == 0x55 && s[511] == 0xAA; }

Guid guidAt(const uint8_t* p)
{
    Guid g;
    g.Data1 = le::u32(p);
    g.Data2 = le::u16(p + 4);
    g.Data3 = le::u16(p + 6);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}

void putGuid(uint8_t* p, const Guid& g)
{
    le::put32(p, g.Data1);
    le::put16(p + 4, g.Data2);
    le::put16(p + 6, g.Data3);
    std::memcpy(p + 8, g.Data4, 8);
}

PartitionInfo mbrEntry(const uint8_t* e, uint64_t base, uint32_t sectorSize)
{
    PartitionInfo p;
    p.style = PartitionStyle::Mbr;
    p.bootIndicator = e[0] == 0x80;
    p.mbrType = e[4];
    uint32_t start = le::u32(e + 8), count = le::u32(e + 12);
    if (p.mbrType != 0 && count != 0) {
        p.startingOffset = (base + start) * sectorSize;
        p.length = uint64_t{count} * sectorSize;
        p.hiddenSectors = static_cast<uint32_t>(base + start);
    }
    p.recognizedPartition = p.mbrType != 0 && !isExtended(p.mbrType) && p.mbrType != 0xEE;
    return p;
}

bool readGpt(const ByteSource& disk, DriveLayout& layout, uint32_t sectorSize)
{
    Sector header;
    if (!readSector(disk, 1, header, sectorSize) || std::memcmp(header.data(), "EFI PART", 8) != 0)
        return false;
    uint32_t headerSize = le::u32(&header[12]);
    if (headerSize < 92 || headerSize > sectorSize)
        return false;
    uint32_t storedCrc = le::u32(&header[16]);
    Sector check = header;
    le::put32(&check[16], 0);
    if (crc32(check.data(), headerSize) != storedCrc)
        return false;
    uint64_t entriesLba = le::u64(&header[72]);
    uint32_t count = le::u32(&header[80]), size = le::u32(&header[84]);
    if (size < 128 || size > 4096 || count == 0 || count > 1024)
        return false;
    std::vector<uint8_t> entries(uint64_t{count} * size);
    if (entriesLba * sectorSize + entries.size() > disk.size ||
        !disk.read(entriesLba * sectorSize, entries.data(), entries.size()))
        return false;
    if (crc32(entries.data(), entries.size()) != le::u32(&header[88]))
        return false;
    layout.style = PartitionStyle::Gpt;
    layout.gptDiskId = guidAt(&header[56]);
    uint32_t number = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = &entries[uint64_t{i} * size];
        Guid type = guidAt(e);
        if (type == Guid{})
            continue;
        PartitionInfo p;
        p.style = PartitionStyle::Gpt;
        p.gptType = type;
        p.gptId = guidAt(e + 16);
        uint64_t first = le::u64(e + 32), last = le::u64(e + 40);
        p.startingOffset = first * sectorSize;
        p.length = last >= first ? (last - first + 1) * sectorSize : 0;
        p.gptAttributes = le::u64(e + 48);
        for (size_t c = 0; c < 36; ++c) {
            uint16_t unit = le::u16(e + 56 + 2 * c);
            if (unit == 0)
                break;
            p.gptName += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        p.partitionNumber = ++number;
        p.recognizedPartition = type == kGptBasicData;
        layout.partitions.push_back(std::move(p));
    }
    return true;
}

void readMbr(const ByteSource& disk, const Sector& mbr, DriveLayout& layout, uint32_t sectorSize)
{
    layout.style = PartitionStyle::Mbr;
    layout.mbrSignature = le::u32(&mbr[440]);
    uint32_t number = 0;
    uint64_t extendedStart = 0;
    for (int i = 0; i < 4; ++i) {
        PartitionInfo p = mbrEntry(&mbr[kMbrTable + 16 * i], 0, sectorSize);
        if (p.recognizedPartition)
            p.partitionNumber = ++number;
        if (isExtended(p.mbrType) && p.length && !extendedStart)
            extendedStart = p.startingOffset / sectorSize;
        layout.partitions.push_back(p);
    }
    // The logical partitions: a chain of extended boot records, each
    // pointing at its partition and at the next record (relative to the
    // extended container's start). A loop in the chain ends it.
    uint64_t ebr = extendedStart;
    for (int guard = 0; ebr && guard < 128; ++guard) {
        Sector s;
        if (!readSector(disk, ebr, s, sectorSize) || !bootSignature(s))
            break;
        for (int i = 0; i < 4; ++i) {
            PartitionInfo p = mbrEntry(&s[kMbrTable + 16 * i], i == 0 ? ebr : extendedStart, sectorSize);
            if (i == 0 && p.recognizedPartition)
                p.partitionNumber = ++number;
            layout.partitions.push_back(p);
        }
        uint8_t nextType = s[kMbrTable + 16 + 4];
        uint32_t next = le::u32(&s[kMbrTable + 16 + 8]);
        ebr = isExtended(nextType) && next ? extendedStart + next : 0;
    }
}

bool writeSectors(const DiskImage& disk, uint64_t lba, uint32_t sectorSize, const std::vector<uint8_t>& bytes,
                  std::string& error)
{
    if (!disk.write(lba * sectorSize, bytes.data(), bytes.size())) {
        error = "cannot write the partition table of " + disk.path();
        return false;
    }
    return true;
}

bool fitsDisk(const DiskImage& disk, const std::vector<NewPartition>& partitions, uint64_t first, uint64_t end,
              uint32_t sectorSize, std::string& error)
{
    for (const auto& p : partitions)
        if (p.offset % sectorSize || p.length % sectorSize || p.length == 0 || p.offset < first * sectorSize ||
            p.offset + p.length > end * sectorSize) {
            error = "a partition does not fit disk " + disk.path();
            return false;
        }
    return true;
}

}  // namespace

uint64_t gptEntrySectors(uint32_t sectorSize) { return kGptEntryBytes / sectorSize; }

DriveLayout readDriveLayout(const ByteSource& disk, uint32_t sectorSize)
{
    DriveLayout layout;
    Sector mbr;
    if (!readSector(disk, 0, mbr, sectorSize) || !bootSignature(mbr))
        return layout;
    bool protective = false;
    for (int i = 0; i < 4; ++i)
        protective = protective || mbr[kMbrTable + 16 * i + 4] == 0xEE;
    if (protective) {
        DriveLayout gpt;
        if (readGpt(disk, gpt, sectorSize))
            return gpt;
    }
    readMbr(disk, mbr, layout, sectorSize);
    return layout;
}

bool carriesVolume(const PartitionInfo& p)
{
    if (p.length == 0)
        return false;
    if (p.style == PartitionStyle::Gpt)
        return p.gptType == kGptBasicData;
    return p.style == PartitionStyle::Mbr && p.recognizedPartition;
}

Guid guidFromText(const std::string& text)
{
    // Two rounds of FNV-1a give the 128 bits; version 4 and variant bits set.
    uint64_t a = 0xcbf29ce484222325ULL, b = 0x84222325cbf29ce4ULL;
    for (unsigned char c : text) {
        a = (a ^ c) * 0x100000001b3ULL;
        b = (b ^ c) * 0x100000001b3ULL + 0x9E37;
    }
    Guid g;
    g.Data1 = static_cast<uint32_t>(a >> 32);
    g.Data2 = static_cast<uint16_t>(a >> 16);
    g.Data3 = static_cast<uint16_t>((a & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = static_cast<uint8_t>(b >> (8 * i));
    g.Data4[0] = static_cast<uint8_t>((g.Data4[0] & 0x3F) | 0x80);
    return g;
}

bool writeMbr(const DiskImage& disk, uint32_t signature, const std::vector<NewPartition>& partitions,
              std::string& error, uint32_t sectorSize)
{
    uint64_t sectors = disk.size() / sectorSize;
    if (partitions.size() > 4 ||
        !fitsDisk(disk, partitions, 1, std::min<uint64_t>(sectors, 0x100000000ULL), sectorSize, error)) {
        if (error.empty())
            error = "an MBR holds four partitions";
        return false;
    }
    Sector mbr(sectorSize, 0);
    le::put32(&mbr[440], signature);
    for (size_t i = 0; i < partitions.size(); ++i) {
        uint8_t* e = &mbr[kMbrTable + 16 * i];
        e[1] = 0xFE;  // CHS fields say "use the LBA ones"
        e[2] = 0xFF;
        e[3] = 0xFF;
        e[4] = partitions[i].mbrType;
        e[5] = 0xFE;
        e[6] = 0xFF;
        e[7] = 0xFF;
        le::put32(e + 8, static_cast<uint32_t>(partitions[i].offset / sectorSize));
        le::put32(e + 12, static_cast<uint32_t>(partitions[i].length / sectorSize));
    }
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    return writeSectors(disk, 0, sectorSize, mbr, error);
}

bool writeGpt(const DiskImage& disk, const std::string& seed, const std::vector<NewPartition>& partitions,
              std::string& error, uint32_t sectorSize)
{
    uint64_t sectors = disk.size() / sectorSize;
    const uint64_t entrySectors = gptEntrySectors(sectorSize);
    if (sectors < 2 * (entrySectors + 2) + 1)
        return error = "disk " + disk.path() + " is too small for a GPT", false;
    uint64_t firstUsable = 2 + entrySectors, lastUsable = sectors - entrySectors - 2;
    if (partitions.size() > kGptEntries ||
        !fitsDisk(disk, partitions, firstUsable, lastUsable + 1, sectorSize, error))
        return false;
    Sector mbr(sectorSize, 0);
    uint8_t* e = &mbr[kMbrTable];
    e[2] = 0x02;
    e[4] = 0xEE;
    e[5] = e[6] = e[7] = 0xFF;
    le::put32(e + 8, 1);
    le::put32(e + 12, static_cast<uint32_t>(std::min<uint64_t>(sectors - 1, 0xFFFFFFFF)));
    mbr[510] = 0x55;
    mbr[511] = 0xAA;

    std::vector<uint8_t> entries(kGptEntries * kGptEntrySize, 0);
    for (size_t i = 0; i < partitions.size(); ++i) {
        uint8_t* p = &entries[i * kGptEntrySize];
        putGuid(p, partitions[i].gptType == Guid{} ? kGptBasicData : partitions[i].gptType);
        putGuid(p + 16, guidFromText(seed + "/partition/" + std::to_string(i + 1)));
        le::put64(p + 32, partitions[i].offset / sectorSize);
        le::put64(p + 40, (partitions[i].offset + partitions[i].length) / sectorSize - 1);
        const std::string& name = partitions[i].name.empty() ? std::string("Basic data partition") : partitions[i].name;
        for (size_t c = 0; c < name.size() && c < 36; ++c)
            le::put16(p + 56 + 2 * c, static_cast<uint8_t>(name[c]));
    }
    uint32_t entriesCrc = crc32(entries.data(), entries.size());
    Guid diskId = guidFromText(seed + "/disk");
    auto header = [&](uint64_t self, uint64_t other, uint64_t entriesLba) {
        Sector h(sectorSize, 0);
        std::memcpy(h.data(), "EFI PART", 8);
        le::put32(&h[8], 0x00010000);
        le::put32(&h[12], 92);
        le::put64(&h[24], self);
        le::put64(&h[32], other);
        le::put64(&h[40], firstUsable);
        le::put64(&h[48], lastUsable);
        putGuid(&h[56], diskId);
        le::put64(&h[72], entriesLba);
        le::put32(&h[80], kGptEntries);
        le::put32(&h[84], kGptEntrySize);
        le::put32(&h[88], entriesCrc);
        le::put32(&h[16], crc32(h.data(), 92));
        return h;
    };
    return writeSectors(disk, 0, sectorSize, mbr, error) &&
           writeSectors(disk, 1, sectorSize, header(1, sectors - 1, 2), error) &&
           writeSectors(disk, 2, sectorSize, entries, error) &&
           writeSectors(disk, lastUsable + 1, sectorSize, entries, error) &&
           writeSectors(disk, sectors - 1, sectorSize, header(sectors - 1, 1, lastUsable + 1), error);
}

}  // namespace krv::bench
