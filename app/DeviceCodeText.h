#pragma once
// The device code the variant's device information shows: two numbers drawn
// from a generator seeded with the clock's seconds, around codes made from
// the bits of register 0xC8FF. The generator is the C library's rand() as
// its standard describes it (draws 0..32767), so a seed gives the same draws
// on every system.
#include <cstdint>
#include <string>

namespace krv {
class Clock;
}

class CCRandom {
public:
    void vSeed(uint32_t dwSeed) { m_dwNext = dwSeed; }
    // 0 .. 32767.
    int nRand();

private:
    uint32_t m_dwNext = 1;
};

// The low byte of the clock's current time in seconds.
uint32_t dwSecondsSeed(krv::Clock& clock);

// The device code for the register value, the generator seeded with dwSeed
// before each number.
std::string strDeviceCodeText(uint8_t ucC8FF, uint32_t dwSeed);
