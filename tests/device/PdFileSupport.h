#pragma once
// PD and MCU firmware files for the tests, built the way their tools write
// them: ".cyacd" rows of 128 data bytes with their checksums and CR LF line
// ends, Intel HEX records with an extended linear address first, Richtek
// ".bin" images of 16384 bytes.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace krv::test {

inline std::string hexBytes(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02X", v);
        text += b;
    }
    return text;
}

inline uint8_t twosComplement(const std::vector<uint8_t>& bytes)
{
    uint8_t sum = 0;
    for (uint8_t v : bytes)
        sum = static_cast<uint8_t>(sum + v);
    return static_cast<uint8_t>(0x100 - sum);
}

// One ".cyacd" row line (without its line end).
inline std::string cyacdRow(uint16_t row, const std::vector<uint8_t>& data, uint8_t arrayId = 0)
{
    std::vector<uint8_t> fields = {arrayId, static_cast<uint8_t>(row >> 8), static_cast<uint8_t>(row),
                                   static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
    fields.insert(fields.end(), data.begin(), data.end());
    fields.push_back(twosComplement(fields));
    return ":" + hexBytes(fields);
}

// A ".cyacd" file of `rows` rows from `firstRow`, row i's data all (i + 1),
// except the image version, which stands where the file's id says.
struct CyacdImage {
    std::string text;
    std::vector<std::vector<uint8_t>> rows;   // data of each row, in file order
    uint16_t firstRow = 0;
};

inline CyacdImage cyacdImage(const std::string& id, uint16_t firstRow, size_t rows,
                             const std::vector<uint8_t>& version = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0})
{
    CyacdImage image;
    image.firstRow = firstRow;
    image.text = id + "\r\n";
    for (size_t i = 0; i < rows; ++i) {
        std::vector<uint8_t> data(128, static_cast<uint8_t>(i + 1));
        // Where the id's version text falls: the third row's data from byte 0
        // ("140411A40000"), the second row's from byte 96 (the CCG3 ids).
        if (id == "140411A40000" && i == 2)
            std::copy(version.begin(), version.end(), data.begin());
        if ((id == "1D0311AD0000" || id == "1D0411AD0000") && i == 1)
            std::copy(version.begin(), version.end(), data.begin() + 96);
        image.rows.push_back(data);
        image.text += cyacdRow(static_cast<uint16_t>(firstRow + i), data) + "\r\n";
    }
    return image;
}

// One Intel HEX record line.
inline std::string hexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> fields = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                                   static_cast<uint8_t>(address), type};
    fields.insert(fields.end(), data.begin(), data.end());
    fields.push_back(twosComplement(fields));
    return ":" + hexBytes(fields);
}

// An MCU image of `bytes` bytes at 0x08000000, 16 bytes a record.
inline std::string mcuHexFile(const std::vector<uint8_t>& bytes)
{
    std::string text = hexRecord(4, 0, {0x08, 0x00}) + "\r\n";
    for (size_t at = 0; at < bytes.size(); at += 16) {
        std::vector<uint8_t> piece(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + 16));
        text += hexRecord(0, static_cast<uint16_t>(at), piece) + "\r\n";
    }
    return text + hexRecord(1, 0, {}) + "\r\n";
}

inline std::vector<uint8_t> richtekImage(uint8_t versionLow, uint8_t versionHigh, uint8_t fill = 0x5C)
{
    std::vector<uint8_t> image(16384);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(fill + i * 7);
    image[0x1000] = versionLow;
    image[0x1001] = versionHigh;
    return image;
}

}  // namespace krv::test
