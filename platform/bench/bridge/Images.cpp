#include "platform/bench/bridge/Images.h"

#include <algorithm>
#include <cctype>

namespace krv::bench {

namespace {

constexpr uint8_t kChecksumSignatures[8] = {0x5A, 0x4B, 0x3C, 0x2D, 0x1E, 0x0F, 0x69, 0x78};
constexpr uint8_t kCrcSignatures[8] = {0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0, 0x96, 0x87};

void putText(Bytes& image, size_t offset, size_t width, std::string_view text)
{
    for (size_t i = 0; i < width && i < text.size(); ++i)
        image[offset + i] = static_cast<uint8_t>(text[i]);
}

void putLe16(Bytes& image, size_t offset, uint16_t value)
{
    image[offset] = static_cast<uint8_t>(value);
    image[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void seal(Bytes& config, uint8_t mark)
{
    config[image::kMarkOffset] = mark;
    config[image::kChecksumOffset] = configChecksum(config);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

const FirmwareVersion kDefaultFirmwareVersion = {0x23, 0x06, 0x01, 0x80, 0x01, 0x00};

uint8_t checksumSignature(int majorRevision) { return kChecksumSignatures[majorRevision & 7]; }
uint8_t crcSignature(int majorRevision) { return kCrcSignatures[majorRevision & 7]; }

bool firmwareBootable(const Bytes& firmware, int majorRevision)
{
    if (firmware.size() != image::kFirmwareSize)
        return false;
    uint8_t signature = firmware[image::kFirmwareSize - image::kSignatureFromEnd];
    return signature == checksumSignature(majorRevision) || signature == crcSignature(majorRevision);
}

FirmwareVersion firmwareVersionOf(const Bytes& firmware)
{
    FirmwareVersion version{};
    if (firmware.size() >= image::kVersionOffset + version.size())
        std::copy_n(firmware.begin() + image::kVersionOffset, version.size(), version.begin());
    return version;
}

std::array<uint8_t, image::kHeaderLength> firmwareHeaderOf(const Bytes& firmware)
{
    std::array<uint8_t, image::kHeaderLength> header{};
    if (firmware.size() >= image::kVersionOffset + header.size())
        std::copy_n(firmware.begin() + image::kVersionOffset, header.size(), header.begin());
    return header;
}

Bytes makeFirmwareImage(const FirmwareVersion& version, int majorRevision)
{
    Bytes firmware(image::kFirmwareSize);
    // A small linear congruential generator seeded by the version, so that
    // two versions differ all through the image the way two builds do.
    uint32_t state = 0x4B52564EU;
    for (uint8_t b : version)
        state = state * 31 + b;
    for (auto& byte : firmware) {
        state = state * 1664525U + 1013904223U;
        byte = static_cast<uint8_t>(state >> 24);
    }
    const char tag[4] = {'K', 'V', 'F', 'W'};
    std::copy(std::begin(tag), std::end(tag), firmware.begin() + image::kVersionOffset - 4);
    std::copy(version.begin(), version.end(), firmware.begin() + image::kVersionOffset);
    firmware[image::kFirmwareSize - image::kSignatureFromEnd] = checksumSignature(majorRevision);
    return firmware;
}

Bytes erasedFirmware() { return Bytes(image::kFirmwareSize, 0xFF); }

bool parseFirmwareVersion(std::string_view text, FirmwareVersion& version, std::string& why)
{
    std::string digits;
    for (char c : text)
        if (c != '_')
            digits += c;
    Bytes bytes;
    if (digits.size() != 12 || !fromHex(digits, bytes) || bytes.size() != 6) {
        why = "bad firmware version '" + std::string(text) + "' (twelve hex digits YYMMDDSSCCTT, such as 230601800100)";
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), version.begin());
    return true;
}

std::string formatFirmwareVersion(const FirmwareVersion& version)
{
    std::string text = toHex(version.data(), version.size());
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

uint8_t configChecksum(const Bytes& config)
{
    unsigned sum = 0;
    for (size_t i = 4; i < image::kChecksumOffset && i < config.size(); ++i)
        sum += config[i];
    return static_cast<uint8_t>(sum);
}

bool configIntact(const Bytes& config, uint8_t mark)
{
    return config.size() == image::kConfigSize && config[image::kMarkOffset] == mark &&
           config[image::kChecksumOffset] == configChecksum(config);
}

Bytes makeUsb3Config(std::string_view serial, uint16_t productId, std::string_view product)
{
    Bytes config(image::kConfigSize, 0xFF);
    putText(config, 4, 20, serial);
    putText(config, 24, 36, "KRV Bench");
    putText(config, 60, 8, "KRV");
    putText(config, 68, 32, product);
    putText(config, 100, 16, "Bench Drive");
    putLe16(config, 116, 0x2C4B);  // vendor id
    putLe16(config, 118, productId);
    putLe16(config, 120, 0x0100);  // device release
    config[124] = 0x02;
    seal(config, image::kUsb3Mark);
    return config;
}

Bytes makeUsb4Config(uint16_t pcieDeviceId)
{
    Bytes config(image::kConfigSize, 0xFF);
    putText(config, 4, 40, "KRV Bench");
    putText(config, 44, 40, "USB4 NVMe Bridge");
    putLe16(config, 92, 0x2C4B);        // USB4 vendor id
    putLe16(config, 94, pcieDeviceId);  // USB4 product id
    putLe16(config, 116, 0x2C4B);       // PCIe vendor id
    putLe16(config, 118, pcieDeviceId);
    config[120] = 0x00;
    config[121] = 0x00;
    seal(config, image::kUsb4Mark);
    return config;
}

const std::array<uint8_t, image::kShaKeySize>& sha256InitialKey()
{
    static const std::array<uint8_t, image::kShaKeySize> key = [] {
        const uint32_t words[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                   0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};
        std::array<uint8_t, image::kShaKeySize> bytes{};
        for (size_t w = 0; w < 8; ++w)
            for (size_t b = 0; b < 4; ++b)
                bytes[w * 4 + b] = static_cast<uint8_t>(words[w] >> (24 - 8 * b));
        return bytes;
    }();
    return key;
}

std::string toHex(const uint8_t* data, size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

bool fromHex(std::string_view text, Bytes& out)
{
    Bytes bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (high >= 0)
                return false;
            continue;
        }
        int d = hexDigit(c);
        if (d < 0)
            return false;
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0)
        return false;
    out = std::move(bytes);
    return true;
}

}  // namespace krv::bench
