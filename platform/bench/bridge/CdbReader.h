#pragma once
// Small checks a bench device makes of a command before it acts on it, and
// the data-in answer common to every read.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/ScsiPassThrough.h"
#include "platform/bench/bridge/Images.h"
#include "platform/bench/bridge/Sense.h"

namespace krv::bench {

class CdbReader {
public:
    explicit CdbReader(const ScsiCommand& command) : c_(command) {}

    uint8_t operator[](size_t i) const { return i < c_.cdbLength ? c_.cdb[i] : 0; }
    size_t length() const { return c_.cdbLength; }
    // Bytes `from` up to the end of the CDB are all zero.
    bool zeroFrom(size_t from) const
    {
        for (size_t i = from; i < c_.cdbLength; ++i)
            if (c_.cdb[i] != 0)
                return false;
        return true;
    }
    uint32_t be32(size_t at) const
    {
        return uint32_t{(*this)[at]} << 24 | uint32_t{(*this)[at + 1]} << 16 | uint32_t{(*this)[at + 2]} << 8 |
               (*this)[at + 3];
    }
    // A read: data comes in.
    bool readsData() const { return c_.direction == DataDirection::In && c_.dataLength > 0; }
    // A read whose buffer takes the `length` bytes the CDB asks for: a
    // device refuses to send more than the host made room for.
    bool readsAtLeast(uint32_t length) const { return readsData() && c_.dataLength >= length; }
    // A write of exactly `length` bytes.
    bool writesExactly(uint32_t length) const { return c_.direction == DataDirection::Out && c_.dataLength == length; }
    bool movesNoData() const { return c_.dataLength == 0; }

private:
    const ScsiCommand& c_;
};

// Answers a read with `data`, as much as the host's buffer and `limit` take.
inline void answerWith(ScsiCommand& command, const uint8_t* data, size_t size, size_t limit = SIZE_MAX)
{
    size_t n = std::min({size, limit, static_cast<size_t>(command.dataLength)});
    if (n)
        std::memcpy(command.data, data, n);
    endGood(command, static_cast<uint32_t>(n));
}

inline void answerWith(ScsiCommand& command, const Bytes& data, size_t limit = SIZE_MAX)
{
    answerWith(command, data.data(), data.size(), limit);
}

}  // namespace krv::bench
