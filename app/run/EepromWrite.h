#pragma once
// One image's write to a bridge's EEPROM (a configuration image, or a
// firmware image with its verify): the piece of the update a stop request
// never cuts, since a half-written or unverified image is worse than an
// image not begun. A write begins only while no stop is asked for; while it
// is under way the window's count of writes tells the exit to wait for it.
#include <atomic>

#include "app/run/PortWork.h"

class CEepromWrite {
public:
    // Counted before the stop request is looked at: once every worker has
    // been asked to stop, an exit that sees no write counted will see none
    // begin. A stopped port's running result becomes a failure.
    CEepromWrite(std::atomic<int>& nWrites, CPortWork& work) : m_nWrites(nWrites)
    {
        ++m_nWrites;
        m_bBegun = !work.m_Stop.stopRequested();
        if (!m_bBegun)
            work.m_ucResult = 0;
    }
    ~CEepromWrite() { --m_nWrites; }
    CEepromWrite(const CEepromWrite&) = delete;
    CEepromWrite& operator=(const CEepromWrite&) = delete;

    bool bBegun() const { return m_bBegun; }

private:
    std::atomic<int>& m_nWrites;
    bool m_bBegun = false;
};
