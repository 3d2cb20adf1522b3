#pragma once
// Read access to a disk or to one of its volumes, offsets from its start:
// what the partition-table and file-system readers need and nothing more.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace krv::bench {

struct ByteSource {
    std::function<bool(uint64_t offset, void* buffer, size_t length)> read;
    // The first offset at or after `from` that may hold data; what lies
    // before it reads as zeros. Left empty: everything may hold data.
    std::function<uint64_t(uint64_t from)> nextData;
    uint64_t size = 0;

    uint64_t dataFrom(uint64_t from) const { return nextData ? nextData(from) : from; }
};

}  // namespace krv::bench
