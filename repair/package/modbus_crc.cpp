#include "modbus_crc.h"

#include <algorithm>

namespace tq318::repair {

CrcTables makeCrcTables() {
    CrcTables tables;
    for (unsigned i = 0; i < 256; ++i) {
        unsigned entry = i;
        for (int bit = 0; bit < 8; ++bit) entry = (entry & 1u) ? (entry >> 1) ^ 0xA001u : entry >> 1;
        tables.hi[i] = static_cast<uint8_t>(entry & 0xFFu);
        tables.lo[i] = static_cast<uint8_t>(entry >> 8);
    }
    return tables;
}

CrcRegisters modbusCrc(const CrcTables& tables, std::span<const uint8_t> data, const CrcYield& yield) {
    using Clock = std::chrono::steady_clock;
    // The clock is read once per chunk: small enough that a chunk takes a few
    // microseconds, large enough that reading the clock costs nothing.
    constexpr std::size_t kChunk = 4096;

    CrcRegisters r;
    auto lastYield = Clock::now();
    std::size_t position = 0;
    while (position < data.size()) {
        const std::size_t end = std::min(data.size(), position + kChunk);
        uint8_t hi = r.crcHi;
        uint8_t lo = r.crcLo;
        for (; position < end; ++position) {
            const uint8_t index = data[position] ^ hi;
            hi = tables.hi[index] ^ lo;
            lo = tables.lo[index];
        }
        r.crcHi = hi;
        r.crcLo = lo;
        if (yield.yield && Clock::now() - lastYield >= yield.interval) {
            yield.yield();
            lastYield = Clock::now();
        }
    }
    return r;
}

}  // namespace tq318::repair
