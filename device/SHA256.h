#pragma once
// The SHA-256 initial key of the bridges that check their firmware images
// with one, and its two vendor commands (opcode E9). The key is always the
// eight initial hash words H0..H7 of FIPS 180-4, sent big-endian; nothing is
// hashed on this side.
#include <cstdint>

#include "device/KrvnUSBDevHandle.h"

constexpr int SHA256_KEY_WORDS = 8;
constexpr uint32_t SHA256_KEY_SIZE = 32;

class CSHA256 {
public:
    CSHA256();

    // Key word 1..8; any other index gives 0xFFFFFFFF.
    uint32_t nGetKeyWord(int nIndex) const;
    // The 32 bytes the bridge receives: word 1 first, each word most
    // significant byte first.
    void vGetKeyBytes(uint8_t* pKey) const;

    // Sends a 32-byte key. 0 done, -1 failed (-10 bad handle).
    int SCSI6390_SHA256_SendKey(HANDLE hDev, const uint8_t* pKey);
    // The bridge's verdict on firmware image ucImage (non-zero: passes).
    // 0 done with the verdict stored; otherwise -1 and the verdict 0.
    int SCSI6390_SHA256_VerifyKey(HANDLE hDev, uint8_t* pucVerdict, uint8_t ucImage);

private:
    uint32_t m_dwKey[SHA256_KEY_WORDS];
    uint32_t m_dwCount[3];
    uint8_t m_ucBlock[64];
    uint32_t m_dwInitial[SHA256_KEY_WORDS];
};
