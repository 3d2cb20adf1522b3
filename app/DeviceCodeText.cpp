#include "app/DeviceCodeText.h"

#include <cstdio>

#include "platform/Clock.h"

int CCRandom::nRand()
{
    m_dwNext = m_dwNext * 1103515245u + 12345u;
    return static_cast<int>((m_dwNext / 65536u) % 32768u);
}

uint32_t dwSecondsSeed(krv::Clock& clock) { return static_cast<uint32_t>(clock.epochSeconds() & 0xFF); }

std::string strDeviceCodeText(uint8_t ucC8FF, uint32_t dwSeed)
{
    CCRandom random;
    char sz[32];
    random.vSeed(dwSeed);
    int r1 = random.nRand(), r2 = random.nRand();
    std::snprintf(sz, sizeof sz, "%i", r1 % 9991 - r2 % 5000 + 10);
    std::string strText = sz;

    auto bit = [&](int n) { return (ucC8FF >> n) & 1 ? '1' : '0'; };
    std::string strBits;
    if (ucC8FF & 0x30)
        strBits += bit(6);
    strBits += bit(5);
    strBits += bit(4);
    static const struct {
        const char* bits;
        const char* code;
    } kCodes[] = {{"00", "1-"}, {"001", "2-"}, {"010", "3-"}, {"011", "4-"}, {"101", "5-"}, {"110", "6-"}, {"111", "7-"}};
    const char* pszCode = "Not Defined";
    for (const auto& entry : kCodes)
        if (strBits == entry.bits)
            pszCode = entry.code;
    strText += pszCode;

    random.vSeed(dwSeed);
    r1 = random.nRand();
    r2 = random.nRand();
    std::snprintf(sz, sizeof sz, "%i", r1 % 9991 + r2 % 5000 + 10);
    strText += sz;

    if (ucC8FF & 0x02) {
        strText += "2";
    } else {
        std::snprintf(sz, sizeof sz, "%d", ucC8FF & 0x0F);
        strText += sz;
    }
    return strText;
}
