#include "platform/bench/disk/FileSystems.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "platform/bench/disk/LittleEndian.h"

namespace krv::bench {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kChunk = 1 << 20;

bool readAt(const ByteSource& v, uint64_t offset, Bytes& out, size_t length)
{
    out.assign(length, 0);
    return offset <= v.size && length <= v.size - offset && v.read(offset, out.data(), length);
}

bool powerOfTwo(uint64_t x) { return x && !(x & (x - 1)); }

void appendUtf8(std::string& out, uint16_t unit)
{
    if (unit < 0x80) {
        out += static_cast<char>(unit);
    } else if (unit < 0x800) {
        out += static_cast<char>(0xC0 | unit >> 6);
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | unit >> 12);
        out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

std::string rightTrimmed(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

// Calls `visit(offset, bytes)` over [offset, offset + length) in chunks,
// handing holes (which read as zeros) over as null without reading them.
template <typename Visit>
bool scan(const ByteSource& v, uint64_t offset, uint64_t length, Visit visit)
{
    Bytes chunk;
    uint64_t end = offset + length;
    while (offset < end) {
        uint64_t data = std::min(v.dataFrom(offset), end);
        if (data > offset) {
            visit(offset, data - offset, nullptr);
            offset = data;
            continue;
        }
        size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, end - offset));
        if (!readAt(v, offset, chunk, n))
            return false;
        visit(offset, n, chunk.data());
        offset += n;
    }
    return true;
}

// ---- FAT ----

struct FatGeometry {
    uint32_t bytesPerSector = 0, sectorsPerCluster = 0, reserved = 0, fats = 0, rootEntries = 0, fatSectors = 0;
    uint64_t totalSectors = 0, firstDataSector = 0, clusters = 0;
    uint32_t rootCluster = 0;
};

bool fatBootSector(const Bytes& b, FatGeometry& g)
{
    if (!(b[0] == 0xEB || b[0] == 0xE9) || b[510] != 0x55 || b[511] != 0xAA)
        return false;
    g.bytesPerSector = le::u16(&b[11]);
    g.sectorsPerCluster = b[13];
    g.reserved = le::u16(&b[14]);
    g.fats = b[16];
    g.rootEntries = le::u16(&b[17]);
    g.totalSectors = le::u16(&b[19]) ? le::u16(&b[19]) : le::u32(&b[32]);
    g.fatSectors = le::u16(&b[22]) ? le::u16(&b[22]) : le::u32(&b[36]);
    if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || !powerOfTwo(g.bytesPerSector) ||
        !powerOfTwo(g.sectorsPerCluster) || g.reserved == 0 || g.fats == 0 || g.fatSectors == 0 ||
        g.totalSectors == 0)
        return false;
    uint64_t rootSectors = (uint64_t{g.rootEntries} * 32 + g.bytesPerSector - 1) / g.bytesPerSector;
    g.firstDataSector = g.reserved + uint64_t{g.fats} * g.fatSectors + rootSectors;
    if (g.firstDataSector >= g.totalSectors)
        return false;
    g.clusters = (g.totalSectors - g.firstDataSector) / g.sectorsPerCluster;
    g.rootCluster = le::u32(&b[44]);
    return true;
}

uint32_t fatEntry(const ByteSource& v, const FatGeometry& g, FileSystemKind kind, uint32_t cluster)
{
    uint64_t fatStart = uint64_t{g.reserved} * g.bytesPerSector;
    Bytes e;
    if (kind == FileSystemKind::Fat32)
        return readAt(v, fatStart + uint64_t{cluster} * 4, e, 4) ? le::u32(e.data()) & 0x0FFFFFFF : 0x0FFFFFFF;
    if (kind == FileSystemKind::Fat16)
        return readAt(v, fatStart + uint64_t{cluster} * 2, e, 2) ? le::u16(e.data()) : 0xFFFF;
    if (!readAt(v, fatStart + cluster + cluster / 2, e, 2))
        return 0xFFF;
    uint16_t pair = le::u16(e.data());
    return cluster & 1 ? pair >> 4 : pair & 0xFFF;
}

// The label entry of a FAT root folder (attribute 08, not a long-name part).
std::string fatRootLabel(const ByteSource& v, const FatGeometry& g, FileSystemKind kind)
{
    auto labelIn = [](const Bytes& dir, bool& end) {
        for (size_t at = 0; at + 32 <= dir.size(); at += 32) {
            if (dir[at] == 0x00) {
                end = true;
                return std::string();
            }
            if (dir[at] == 0xE5 || dir[at + 11] == 0x0F || !(dir[at + 11] & 0x08))
                continue;
            return rightTrimmed(std::string(reinterpret_cast<const char*>(&dir[at]), 11));
        }
        return std::string();
    };
    Bytes dir;
    bool end = false;
    if (kind != FileSystemKind::Fat32) {
        uint64_t start = (uint64_t{g.reserved} + uint64_t{g.fats} * g.fatSectors) * g.bytesPerSector;
        return readAt(v, start, dir, uint64_t{g.rootEntries} * 32) ? labelIn(dir, end) : std::string();
    }
    uint32_t cluster = g.rootCluster;
    size_t clusterBytes = size_t{g.bytesPerSector} * g.sectorsPerCluster;
    for (int guard = 0; cluster >= 2 && cluster < g.clusters + 2 && guard < 4096; ++guard) {
        uint64_t at = (g.firstDataSector + uint64_t{cluster - 2} * g.sectorsPerCluster) * g.bytesPerSector;
        if (!readAt(v, at, dir, clusterBytes))
            return {};
        std::string label = labelIn(dir, end);
        if (!label.empty() || end)
            return label;
        cluster = fatEntry(v, g, kind, cluster);
    }
    return {};
}

uint64_t fatFreeClusters(const ByteSource& v, const FatGeometry& g, FileSystemKind kind)
{
    uint64_t fatStart = uint64_t{g.reserved} * g.bytesPerSector;
    uint64_t free = 0;
    if (kind == FileSystemKind::Fat12) {
        for (uint32_t c = 2; c < g.clusters + 2; ++c)
            free += fatEntry(v, g, kind, c) == 0;
        return free;
    }
    unsigned width = kind == FileSystemKind::Fat32 ? 4 : 2;
    uint64_t first = fatStart + 2ULL * width, length = g.clusters * width;
    scan(v, first, length, [&](uint64_t, uint64_t n, const uint8_t* bytes) {
        if (!bytes) {
            free += n / width;
            return;
        }
        for (uint64_t i = 0; i + width <= n; i += width)
            free += width == 4 ? (le::u32(bytes + i) & 0x0FFFFFFF) == 0 : le::u16(bytes + i) == 0;
    });
    return free;
}

bool probeFat(const ByteSource& v, const Bytes& boot, FileSystemView& view, bool countFree)
{
    FatGeometry g;
    if (!fatBootSector(boot, g))
        return false;
    FileSystemKind kind = g.clusters < 4085 ? FileSystemKind::Fat12
                        : g.clusters < 65525 ? FileSystemKind::Fat16
                                             : FileSystemKind::Fat32;
    if (kind == FileSystemKind::Fat32 && (g.rootEntries != 0 || g.rootCluster < 2))
        return false;
    view.kind = kind;
    view.name = kind == FileSystemKind::Fat32 ? "FAT32" : "FAT";
    view.serialNumber = le::u32(&boot[kind == FileSystemKind::Fat32 ? 67 : 39]);
    view.bytesPerSector = g.bytesPerSector;
    view.sectorsPerCluster = g.sectorsPerCluster;
    view.totalClusters = g.clusters;
    view.label = fatRootLabel(v, g, kind);
    if (view.label == "NO NAME")
        view.label.clear();
    if (countFree)
        view.freeClusters = fatFreeClusters(v, g, kind);
    return true;
}

// ---- exFAT ----

bool probeExFat(const ByteSource& v, const Bytes& boot, FileSystemView& view, bool countFree)
{
    if (std::memcmp(&boot[3], "EXFAT   ", 8) != 0 || boot[510] != 0x55 || boot[511] != 0xAA)
        return false;
    unsigned sectorShift = boot[108], clusterShift = boot[109];
    if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25)
        return false;
    uint64_t sector = 1ULL << sectorShift, cluster = sector << clusterShift;
    uint64_t fatOffset = le::u32(&boot[80]) * sector;
    uint64_t heap = le::u32(&boot[88]) * sector;
    uint32_t clusters = le::u32(&boot[92]);
    uint32_t root = le::u32(&boot[96]);
    view.kind = FileSystemKind::ExFat;
    view.name = "exFAT";
    view.serialNumber = le::u32(&boot[100]);
    view.bytesPerSector = static_cast<uint32_t>(sector);
    view.sectorsPerCluster = 1U << clusterShift;
    view.totalClusters = clusters;
    auto clusterAt = [&](uint32_t c) { return heap + uint64_t{c - 2} * cluster; };
    uint32_t bitmapCluster = 0;
    uint64_t bitmapLength = 0;
    Bytes dir, e;
    bool end = false;
    for (int guard = 0; root >= 2 && root < clusters + 2 && guard < 4096 && !end; ++guard) {
        if (!readAt(v, clusterAt(root), dir, cluster))
            break;
        for (size_t at = 0; at + 32 <= dir.size(); at += 32) {
            uint8_t type = dir[at];
            if (type == 0x00) {
                end = true;
                break;
            }
            if (type == 0x83) {
                unsigned count = std::min<unsigned>(dir[at + 1], 11);
                for (unsigned i = 0; i < count; ++i)
                    appendUtf8(view.label, le::u16(&dir[at + 2 + 2 * i]));
            } else if (type == 0x81 && !bitmapCluster) {
                bitmapCluster = le::u32(&dir[at + 20]);
                bitmapLength = le::u64(&dir[at + 24]);
            }
        }
        root = readAt(v, fatOffset + uint64_t{root} * 4, e, 4) ? le::u32(e.data()) : 0xFFFFFFFF;
    }
    if (countFree && bitmapCluster >= 2) {
        uint64_t used = 0, bits = clusters;
        scan(v, clusterAt(bitmapCluster), std::min<uint64_t>(bitmapLength, (bits + 7) / 8),
             [&](uint64_t offset, uint64_t n, const uint8_t* bytes) {
                 if (!bytes)
                     return;
                 uint64_t bitBase = (offset - clusterAt(bitmapCluster)) * 8;
                 for (uint64_t i = 0; i < n; ++i) {
                     uint8_t b = bytes[i];
                     if (bitBase + i * 8 + 8 > bits)
                         b &= static_cast<uint8_t>((1U << (bits - bitBase - i * 8)) - 1);
                     used += static_cast<uint64_t>(std::popcount(b));
                 }
             });
        view.freeClusters = clusters - std::min<uint64_t>(used, clusters);
    }
    return true;
}

// ---- NTFS ----

struct NtfsGeometry {
    uint64_t bytesPerSector = 0, clusterBytes = 0, recordBytes = 0, mftOffset = 0, totalClusters = 0;
};

// Reads MFT record `number` with its update-sequence fix-ups applied.
bool ntfsRecord(const ByteSource& v, const NtfsGeometry& g, uint64_t number, Bytes& record)
{
    if (!readAt(v, g.mftOffset + number * g.recordBytes, record, g.recordBytes) ||
        std::memcmp(record.data(), "FILE", 4) != 0)
        return false;
    uint16_t usaOffset = le::u16(&record[4]), usaCount = le::u16(&record[6]);
    if (usaCount == 0 || usaOffset + 2ULL * usaCount > record.size())
        return false;
    for (uint16_t i = 1; i < usaCount; ++i) {
        uint64_t end = i * g.bytesPerSector - 2;
        if (end + 2 > record.size())
            break;
        record[end] = record[usaOffset + 2 * i];
        record[end + 1] = record[usaOffset + 2 * i + 1];
    }
    return true;
}

// The first attribute of `type` in a record: its offset, or 0.
size_t ntfsAttribute(const Bytes& record, uint32_t type)
{
    size_t at = le::u16(&record[20]);
    while (at + 16 <= record.size()) {
        uint32_t t = le::u32(&record[at]), length = le::u32(&record[at + 4]);
        if (t == 0xFFFFFFFF || length < 16 || at + length > record.size())
            return 0;
        if (t == type)
            return at;
        at += length;
    }
    return 0;
}

uint64_t ntfsFreeClusters(const ByteSource& v, const NtfsGeometry& g)
{
    Bytes record;
    size_t at = 0;
    if (!ntfsRecord(v, g, 6, record) || !(at = ntfsAttribute(record, 0x80)) || record[at + 8] == 0)
        return 0;
    // The bitmap's data runs: a header byte (length and offset widths), the
    // run length, then the start relative to the previous run's.
    size_t run = at + le::u16(&record[at + 32]);
    int64_t lcn = 0;
    uint64_t used = 0, bit = 0, bits = g.totalClusters;
    while (run < record.size() && record[run] != 0 && bit < bits) {
        unsigned lenBytes = record[run] & 0x0F, offBytes = record[run] >> 4;
        if (run + 1 + lenBytes + offBytes > record.size() || lenBytes == 0 || lenBytes > 8 || offBytes > 8)
            break;
        uint64_t length = 0;
        for (unsigned i = 0; i < lenBytes; ++i)
            length |= uint64_t{record[run + 1 + i]} << (8 * i);
        int64_t delta = 0;
        for (unsigned i = 0; i < offBytes; ++i)
            delta |= int64_t{record[run + 1 + lenBytes + i]} << (8 * i);
        if (offBytes && (record[run + lenBytes + offBytes] & 0x80))
            delta -= int64_t{1} << (8 * offBytes);
        lcn += delta;
        uint64_t bytes = std::min<uint64_t>(length * g.clusterBytes, (bits - bit + 7) / 8);
        scan(v, static_cast<uint64_t>(lcn) * g.clusterBytes, bytes, [&](uint64_t, uint64_t n, const uint8_t* p) {
            for (uint64_t i = 0; i < n && bit < bits; ++i, bit += 8) {
                uint8_t b = p ? p[i] : 0;
                if (bit + 8 > bits)
                    b &= static_cast<uint8_t>((1U << (bits - bit)) - 1);
                used += static_cast<uint64_t>(std::popcount(b));
            }
        });
        run += 1 + lenBytes + offBytes;
    }
    return g.totalClusters - std::min(used, g.totalClusters);
}

bool probeNtfs(const ByteSource& v, const Bytes& boot, FileSystemView& view, bool countFree)
{
    if (std::memcmp(&boot[3], "NTFS    ", 8) != 0 || boot[510] != 0x55 || boot[511] != 0xAA)
        return false;
    NtfsGeometry g;
    g.bytesPerSector = le::u16(&boot[11]);
    uint8_t spc = boot[13];
    uint64_t sectorsPerCluster = spc <= 0x80 ? spc : 1ULL << (256 - spc);
    if (g.bytesPerSector < 512 || g.bytesPerSector > 4096 || !powerOfTwo(g.bytesPerSector) ||
        !powerOfTwo(sectorsPerCluster))
        return false;
    g.clusterBytes = g.bytesPerSector * sectorsPerCluster;
    auto perRecord = static_cast<int8_t>(boot[64]);
    g.recordBytes = perRecord > 0 ? uint64_t(perRecord) * g.clusterBytes : 1ULL << -perRecord;
    g.mftOffset = le::u64(&boot[48]) * g.clusterBytes;
    g.totalClusters = le::u64(&boot[40]) / sectorsPerCluster;
    if (g.recordBytes < 256 || g.recordBytes > 65536)
        return false;
    view.kind = FileSystemKind::Ntfs;
    view.name = "NTFS";
    view.serialNumber = le::u32(&boot[72]);
    view.bytesPerSector = static_cast<uint32_t>(g.bytesPerSector);
    view.sectorsPerCluster = static_cast<uint32_t>(sectorsPerCluster);
    view.totalClusters = g.totalClusters;
    Bytes record;
    if (size_t at = 0; ntfsRecord(v, g, 3, record) && (at = ntfsAttribute(record, 0x60)) && record[at + 8] == 0) {
        uint32_t length = le::u32(&record[at + 16]);
        size_t value = at + le::u16(&record[at + 20]);
        for (size_t i = 0; i + 1 < length && value + i + 1 < record.size(); i += 2)
            appendUtf8(view.label, le::u16(&record[value + i]));
    }
    if (countFree)
        view.freeClusters = ntfsFreeClusters(v, g);
    return true;
}

}  // namespace

bool probeFileSystem(const ByteSource& volume, FileSystemView& view, bool countFree)
{
    view = FileSystemView{};
    view.name = "RAW";
    Bytes boot;
    if (!readAt(volume, 0, boot, 512))
        return false;
    FileSystemView found;
    bool known = probeNtfs(volume, boot, found, countFree) || probeExFat(volume, boot, found, countFree) ||
                 probeFat(volume, boot, found, countFree);
    if (known)
        view = std::move(found);
    return known;
}

}  // namespace krv::bench
