#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "output/dsu/dsu_protocol.h"

// Any datagram a network may deliver, as the server's thread parses it: the
// parser reads no byte beyond it, takes only packets of a request's sizes, and
// what it takes it takes again once the CRC is made right by the fuzzer.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly size bytes, so that a read past it is caught.
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    if (size > 0) std::memcpy(copy, data, size);
    const DsuRequest request = parseDsuRequest(copy, size);
    if (request.kind != DsuRequestKind::bad) {
        if (size < dsuVersionRequestSize || size > dsuLargestRequest) std::abort();
        if (request.kind == DsuRequestKind::portInfo &&
            (request.slotCount < 1 || request.slotCount > dsuSlotCount))
            std::abort();
    }
    // The same bytes with a right header: they must parse to the same kind
    // whether the first try failed on its CRC or not.
    if (size >= dsuVersionRequestSize && size <= dsuLargestRequest) {
        std::memcpy(copy, "DSUC", 4);
        copy[4] = static_cast<uint8_t>(dsuProtocolVersion & 0xFF);
        copy[5] = static_cast<uint8_t>(dsuProtocolVersion >> 8);
        copy[6] = static_cast<uint8_t>(size - dsuHeaderSize);
        copy[7] = 0;
        std::memset(copy + 8, 0, 4);
        const uint32_t crc = dsuCrc32(copy, size);
        for (int i = 0; i < 4; ++i)
            copy[8 + i] = static_cast<uint8_t>(crc >> (8 * i));
        const DsuRequest fixed = parseDsuRequest(copy, size);
        if (fixed.fault == DsuFault::magic || fixed.fault == DsuFault::crc ||
            fixed.fault == DsuFault::version || fixed.fault == DsuFault::length)
            std::abort();
        // Every answer the server could give to it fits its buffer.
        uint8_t reply[dsuPadDataSize];
        if (fixed.kind == DsuRequestKind::portInfo)
            for (int i = 0; i < fixed.slotCount; ++i)
                buildDsuPortReply(1, fixed.slots[i], DsuPadInfo{{1, 2, 3, 4, 5, 6}}, reply);
    }
    std::free(copy);
    return 0;
}
