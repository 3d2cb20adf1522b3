#pragma once
// Texts of the drives' identify data: the ATA IDENTIFY DEVICE words (each
// word's second byte first) and the NVMe Identify Controller bytes. NUL
// bytes are dropped and white space is trimmed at both ends, so a field the
// drive left empty gives an empty text rather than a text of NULs.
#include <cstddef>
#include <cstdint>
#include <string>

// ATA IDENTIFY DEVICE: serial number words 10-19, firmware words 23-26.
constexpr size_t ATA_SERIAL_WORD = 10;
constexpr size_t ATA_SERIAL_WORDS = 10;
constexpr size_t ATA_FIRMWARE_WORD = 23;
constexpr size_t ATA_FIRMWARE_WORDS = 4;
// NVMe Identify Controller: serial bytes 4-23, firmware bytes 64-71.
constexpr size_t NVME_SERIAL_OFFSET = 4;
constexpr size_t NVME_SERIAL_LENGTH = 20;
constexpr size_t NVME_FIRMWARE_OFFSET = 64;
constexpr size_t NVME_FIRMWARE_LENGTH = 8;

std::string strAtaIdentifyText(const uint8_t* pIdentify, size_t nFirstWord, size_t nWords);
std::string strNvmeIdentifyText(const uint8_t* pIdentify, size_t nOffset, size_t nLength);
