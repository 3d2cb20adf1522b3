#include "platform/bench/bridge/DiskIdentity.h"

#include <algorithm>
#include <cstdio>

namespace krv::bench {

namespace {

// Text in an identify page: the characters, then blanks to the field's end.
void putPadded(Bytes& page, size_t offset, size_t width, std::string_view text)
{
    for (size_t i = 0; i < width; ++i)
        page[offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

void putLe(Bytes& page, size_t offset, uint64_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        page[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// ATA strings hold two characters per word, the first in the word's high byte.
void putAtaString(Bytes& page, size_t firstWord, size_t words, std::string_view text)
{
    for (size_t i = 0; i < words * 2; ++i) {
        char c = i < text.size() ? text[i] : ' ';
        size_t word = firstWord + i / 2;
        page[word * 2 + (i % 2 == 0 ? 1 : 0)] = static_cast<uint8_t>(c);
    }
}

void putWord(Bytes& page, size_t word, uint16_t value)
{
    page[word * 2] = static_cast<uint8_t>(value);
    page[word * 2 + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

DiskIdentity benchDiskIdentity(int port, uint64_t sizeBytes)
{
    char serial[24];
    std::snprintf(serial, sizeof serial, "KRVNVME0000000%06d", port);
    DiskIdentity disk;
    disk.serial = serial;
    disk.model = "KRV Bench NVMe SSD";
    disk.firmware = "BNCH0100";
    disk.sizeBytes = sizeBytes;
    return disk;
}

Bytes standardInquiry(uint8_t peripheralType, std::string_view vendor, std::string_view product,
                      std::string_view revision, uint16_t chipId)
{
    Bytes data(kStandardInquirySize, 0);
    data[0] = peripheralType;
    data[1] = peripheralType == kCdRomUnit ? 0x80 : 0x00;  // a CD-ROM unit is removable
    data[2] = 0x06;                                        // SPC-4
    data[3] = 0x02;                                        // response data format
    data[4] = static_cast<uint8_t>(kStandardInquirySize - 5);
    putPadded(data, 8, 8, vendor);
    putPadded(data, 16, 16, product);
    putPadded(data, 32, 4, revision);
    data[36] = static_cast<uint8_t>(chipId);
    data[37] = static_cast<uint8_t>(chipId >> 8);
    return data;
}

Bytes nvmeIdentifyController(const DiskIdentity& disk)
{
    Bytes page(kIdentifySize, 0);
    putLe(page, 0, 0x2C4C, 2);  // PCI vendor id of the drive
    putLe(page, 2, 0x2C4C, 2);  // subsystem vendor id
    putPadded(page, 4, 20, disk.serial);
    putPadded(page, 24, 40, disk.model);
    putPadded(page, 64, 8, disk.firmware);
    page[77] = 5;                // largest transfer: 2^5 pages
    putLe(page, 80, 0x00010400, 4);  // NVMe 1.4
    page[512] = 0x66;            // submission queue entry size 64 bytes
    page[513] = 0x44;            // completion queue entry size 16 bytes
    putLe(page, 516, 1, 4);      // one namespace
    return page;
}

Bytes nvmeIdentifyNamespace(const DiskIdentity& disk)
{
    Bytes page(kIdentifySize, 0);
    uint64_t blocks = disk.sizeBytes / disk.sectorSize;
    putLe(page, 0, blocks, 8);   // size
    putLe(page, 8, blocks, 8);   // capacity
    putLe(page, 16, blocks, 8);  // utilisation
    page[25] = 0;                // one LBA format
    page[26] = 0;                // format 0 in use
    page[128 + 2] = disk.sectorSize == 4096 ? 12 : 9;  // format 0: 2^n-byte blocks
    return page;
}

Bytes ataIdentifyDevice(const DiskIdentity& disk)
{
    Bytes page(kAtaIdentifySize, 0);
    uint64_t blocks = disk.sizeBytes / disk.sectorSize;
    putWord(page, 0, 0x0040);                // fixed device
    putAtaString(page, 10, 10, disk.serial);
    putAtaString(page, 23, 4, disk.firmware);
    putAtaString(page, 27, 20, disk.model);
    putWord(page, 49, 0x0200);               // LBA supported
    uint32_t lba28 = static_cast<uint32_t>(std::min<uint64_t>(blocks, 0x0FFFFFFF));
    putWord(page, 60, static_cast<uint16_t>(lba28));
    putWord(page, 61, static_cast<uint16_t>(lba28 >> 16));
    putWord(page, 83, 0x4400);               // 48-bit addressing
    putWord(page, 86, 0x0400);
    for (size_t w = 0; w < 4; ++w)
        putWord(page, 100 + w, static_cast<uint16_t>(blocks >> (16 * w)));
    if (disk.sectorSize != 512) {
        // Word 106 says words 117-118 give the logical sector, in words.
        putWord(page, 106, 0x5000);
        const uint32_t words = disk.sectorSize / 2;
        putWord(page, 117, static_cast<uint16_t>(words));
        putWord(page, 118, static_cast<uint16_t>(words >> 16));
    }
    // Integrity word: signature A5 and a checksum that makes the bytes sum to 0.
    page[510] = 0xA5;
    unsigned sum = 0;
    for (size_t i = 0; i < 511; ++i)
        sum += page[i];
    page[511] = static_cast<uint8_t>(-static_cast<int>(sum & 0xFF));
    return page;
}

}  // namespace krv::bench
