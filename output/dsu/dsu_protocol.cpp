#include "output/dsu/dsu_protocol.h"

#include <cstring>

namespace {

// CRC-32 (IEEE 802.3, reflected, as zlib's crc32) from a table built at
// compile time: both platforms' builds have it without a library.
struct CrcTable {
    uint32_t entry[256];
};

constexpr CrcTable makeCrcTable() {
    CrcTable table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table.entry[n] = c;
    }
    return table;
}

constexpr CrcTable crcTable = makeCrcTable();

uint16_t read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t read64(const uint8_t* p) {
    return static_cast<uint64_t>(read32(p)) | (static_cast<uint64_t>(read32(p + 4)) << 32);
}

float readFloat(const uint8_t* p) {
    const uint32_t bits = read32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void write16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void write32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void write64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void writeFloat(uint8_t* p, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    write32(p, bits);
}

// The header and type of a packet of size bytes, CRC still zero.
void beginPacket(uint8_t* out, size_t size, uint32_t senderId, uint32_t type,
                 const char* magic = "DSUS") {
    std::memset(out, 0, size);
    std::memcpy(out, magic, 4);
    write16(out + 4, dsuProtocolVersion);
    write16(out + 6, static_cast<uint16_t>(size - dsuHeaderSize));
    write32(out + 12, senderId);
    write32(out + 16, type);
}

void finishPacket(uint8_t* out, size_t size) {
    write32(out + 8, 0);
    write32(out + 8, dsuCrc32(out, size));
}

// The 11 bytes every port and pad answer begins with (after the type).
void writeSlotInfo(uint8_t* at, uint8_t slot, const DsuPadInfo& pad) {
    at[0] = slot;
    if (slot != dsuOurSlot) return; // "not connected": the rest stays zero
    at[1] = 2;                      // connected
    at[2] = 2;                      // full gyro
    at[3] = 0;                      // connection type: not applicable
    std::memcpy(at + 4, pad.mac, 6);
    at[10] = 0; // battery: not applicable
}

DsuRequest bad(DsuFault fault) {
    DsuRequest r;
    r.fault = fault;
    return r;
}

} // namespace

uint32_t dsuCrc32(const uint8_t* data, size_t size) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        c = crcTable.entry[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

DsuRequest parseDsuRequest(const uint8_t* data, size_t size) {
    if (data == nullptr || size < dsuVersionRequestSize || size > dsuLargestRequest)
        return bad(DsuFault::size);
    if (std::memcmp(data, "DSUC", 4) != 0) return bad(DsuFault::magic);
    if (read16(data + 4) != dsuProtocolVersion) return bad(DsuFault::version);
    if (read16(data + 6) != size - dsuHeaderSize) return bad(DsuFault::length);
    uint8_t copy[dsuLargestRequest];
    std::memcpy(copy, data, size);
    write32(copy + 8, 0);
    if (dsuCrc32(copy, size) != read32(data + 8)) return bad(DsuFault::crc);

    DsuRequest r;
    r.clientId = read32(data + 12);
    const uint8_t* payload = data + 20;
    switch (read32(data + 16)) {
    case dsuVersionType:
        r.kind = DsuRequestKind::version;
        return r;
    case dsuPortInfoType: {
        if (size < dsuPortRequestMin) return bad(DsuFault::size);
        const int32_t count = static_cast<int32_t>(read32(payload));
        // The slots follow the count, one byte each; padding may follow them.
        if (count < 1 || count > dsuSlotCount ||
            size < dsuPortRequestMin + static_cast<size_t>(count))
            return bad(DsuFault::payload);
        for (int i = 0; i < count; ++i) {
            if (payload[4 + i] >= dsuSlotCount) return bad(DsuFault::payload);
            r.slots[i] = payload[4 + i];
        }
        r.slotCount = count;
        r.kind = DsuRequestKind::portInfo;
        return r;
    }
    case dsuPadDataType:
        if (size < dsuPadRequestSize) return bad(DsuFault::size);
        if (payload[0] > 3) return bad(DsuFault::payload);
        r.flags = payload[0];
        r.slot = payload[1];
        std::memcpy(r.mac, payload + 2, 6);
        r.kind = DsuRequestKind::padData;
        return r;
    default:
        return bad(DsuFault::type);
    }
}

bool dsuWantsOurPad(const DsuRequest& request, const uint8_t ourMac[6]) {
    if (request.kind != DsuRequestKind::padData) return false;
    if (request.flags == 0) return true; // every pad
    if ((request.flags & 1u) != 0 && request.slot == dsuOurSlot) return true;
    return (request.flags & 2u) != 0 && std::memcmp(request.mac, ourMac, 6) == 0;
}

size_t buildDsuVersionReply(uint32_t serverId, uint8_t out[dsuVersionReplySize]) {
    beginPacket(out, dsuVersionReplySize, serverId, dsuVersionType);
    write16(out + 20, dsuProtocolVersion);
    finishPacket(out, dsuVersionReplySize);
    return dsuVersionReplySize;
}

size_t buildDsuPortReply(uint32_t serverId, uint8_t slot, const DsuPadInfo& pad,
                         uint8_t out[dsuPortReplySize]) {
    beginPacket(out, dsuPortReplySize, serverId, dsuPortInfoType);
    writeSlotInfo(out + 20, slot, pad);
    finishPacket(out, dsuPortReplySize);
    return dsuPortReplySize;
}

void buildDsuPadData(uint32_t serverId, const DsuPadInfo& pad, const DsuPadState& state,
                     uint8_t out[dsuPadDataSize]) {
    beginPacket(out, dsuPadDataSize, serverId, dsuPadDataType);
    writeSlotInfo(out + 20, dsuOurSlot, pad);
    out[31] = 1; // the pad is active
    out[dsuPadButtonsAt] = state.buttons1;
    out[dsuPadButtonsAt + 1] = state.buttons2;
    for (size_t stick = 40; stick < 44; ++stick)
        out[stick] = 128; // sticks at rest
    // Analog buttons: 255 pressed, 0 released, for the buttons the device has.
    const uint8_t b1 = state.buttons1, b2 = state.buttons2;
    out[44] = (b1 & 0x80u) != 0 ? 255 : 0; // D-pad left
    out[45] = (b1 & 0x40u) != 0 ? 255 : 0; // down
    out[46] = (b1 & 0x20u) != 0 ? 255 : 0; // right
    out[47] = (b1 & 0x10u) != 0 ? 255 : 0; // up
    out[48] = (b2 & 0x80u) != 0 ? 255 : 0; // Y
    out[49] = (b2 & 0x40u) != 0 ? 255 : 0; // B
    out[50] = (b2 & 0x20u) != 0 ? 255 : 0; // A
    out[51] = (b2 & 0x10u) != 0 ? 255 : 0; // X
    out[52] = (b2 & 0x08u) != 0 ? 255 : 0; // R1
    out[53] = (b2 & 0x04u) != 0 ? 255 : 0; // L1
    out[54] = (b2 & 0x02u) != 0 ? 255 : 0; // R2
    out[55] = (b2 & 0x01u) != 0 ? 255 : 0; // L2
    write64(out + dsuPadTimestampAt, state.timestampMicros);
    for (int i = 0; i < 3; ++i) {
        writeFloat(out + dsuPadAccelAt + 4 * i, state.accel[i]);
        writeFloat(out + dsuPadGyroAt + 4 * i, state.gyro[i]);
    }
}

void stampDsuPadData(uint32_t counter, uint8_t out[dsuPadDataSize]) {
    write32(out + dsuPadCounterAt, counter);
    finishPacket(out, dsuPadDataSize);
}

size_t buildDsuVersionRequest(uint32_t clientId, uint8_t out[dsuVersionRequestSize]) {
    beginPacket(out, dsuVersionRequestSize, clientId, dsuVersionType, "DSUC");
    finishPacket(out, dsuVersionRequestSize);
    return dsuVersionRequestSize;
}

size_t buildDsuPortRequest(uint32_t clientId, int count, const uint8_t* slots,
                           uint8_t out[dsuPortRequestMax]) {
    count = count < 1 ? 1 : count > dsuSlotCount ? dsuSlotCount : count;
    const size_t size = dsuPortRequestMin + static_cast<size_t>(count);
    beginPacket(out, size, clientId, dsuPortInfoType, "DSUC");
    write32(out + 20, static_cast<uint32_t>(count));
    std::memcpy(out + 24, slots, static_cast<size_t>(count));
    finishPacket(out, size);
    return size;
}

size_t buildDsuPadRequest(uint32_t clientId, uint8_t slot, uint8_t out[dsuPadRequestSize]) {
    beginPacket(out, dsuPadRequestSize, clientId, dsuPadDataType, "DSUC");
    out[20] = 1; // by slot
    out[21] = slot;
    finishPacket(out, dsuPadRequestSize);
    return dsuPadRequestSize;
}

DsuAnswer parseDsuAnswer(const uint8_t* data, size_t size) {
    DsuAnswer a;
    if (data == nullptr || size < 20 || size > dsuPadDataSize) return a;
    if (std::memcmp(data, "DSUS", 4) != 0 || read16(data + 4) != dsuProtocolVersion ||
        read16(data + 6) != size - dsuHeaderSize)
        return a;
    uint8_t copy[dsuPadDataSize];
    std::memcpy(copy, data, size);
    write32(copy + 8, 0);
    if (dsuCrc32(copy, size) != read32(data + 8)) return a;
    const uint32_t type = read32(data + 16);
    const size_t wanted = type == dsuVersionType    ? dsuVersionReplySize
                          : type == dsuPortInfoType ? dsuPortReplySize
                          : type == dsuPadDataType  ? dsuPadDataSize
                                                    : 0;
    if (size != wanted) return a;
    a.serverId = read32(data + 12);
    if (type == dsuVersionType) {
        a.version = read16(data + 20);
        a.kind = DsuRequestKind::version;
        return a;
    }
    a.slot = data[20];
    a.state = data[21];
    a.model = data[22];
    std::memcpy(a.mac, data + 24, 6);
    a.battery = data[30];
    if (type == dsuPortInfoType) {
        a.kind = DsuRequestKind::portInfo;
        return a;
    }
    a.counter = read32(data + dsuPadCounterAt);
    a.pad.buttons1 = data[dsuPadButtonsAt];
    a.pad.buttons2 = data[dsuPadButtonsAt + 1];
    a.pad.timestampMicros = read64(data + dsuPadTimestampAt);
    for (int i = 0; i < 3; ++i) {
        a.pad.accel[i] = readFloat(data + dsuPadAccelAt + 4 * i);
        a.pad.gyro[i] = readFloat(data + dsuPadGyroAt + 4 * i);
    }
    a.kind = DsuRequestKind::padData;
    return a;
}
