#pragma once
// The DSU ("cemuhook") motion protocol, version 1001, as pure functions over
// buffers: the requests a client sends, the answers and the pad data the
// server sends. Every packet is a 16-byte header (magic, version, length of
// what follows the header, CRC-32 of the whole packet with its own field
// zeroed, sender id), then the message type and its payload, all
// little-endian.

#include <cstddef>
#include <cstdint>

constexpr uint16_t dsuProtocolVersion = 1001;
constexpr uint32_t dsuVersionType = 0x100000;
constexpr uint32_t dsuPortInfoType = 0x100001;
constexpr uint32_t dsuPadDataType = 0x100002;

constexpr size_t dsuHeaderSize = 16;
// Requests, at least this long: the version request has no payload, the
// port request a count and one to four slots, the pad-data request flags, a
// slot and a MAC. Clients pad them as they like (some send four slot bytes
// whatever the count, some pad to the answer's size); the length field and
// the CRC cover the padding, and anything past dsuLargestRequest is no request.
constexpr size_t dsuVersionRequestSize = 20;
constexpr size_t dsuPortRequestMin = 24; // without its slots; one to four follow
constexpr size_t dsuPortRequestMax = 28; // with four slots, unpadded
constexpr size_t dsuPadRequestSize = 28;
// Answers.
constexpr size_t dsuVersionReplySize = 22;
constexpr size_t dsuPortReplySize = 32;
constexpr size_t dsuPadDataSize = 100;
constexpr size_t dsuLargestRequest = 100;

constexpr int dsuSlotCount = 4;
constexpr int dsuOurSlot = 0; // the device's slot; the others are "not connected"

uint32_t dsuCrc32(const uint8_t* data, size_t size);

enum class DsuRequestKind : uint8_t {
    bad, // not a request of ours: counted, never answered
    version,
    portInfo,
    padData,
};

// Why a packet was taken as bad, for the tests and the fuzzer.
enum class DsuFault : uint8_t { none, size, magic, version, length, crc, type, payload };

struct DsuRequest {
    DsuRequestKind kind = DsuRequestKind::bad;
    DsuFault fault = DsuFault::none;
    uint32_t clientId = 0;
    // portInfo: the slots asked about, in order.
    int slotCount = 0;
    uint8_t slots[4] = {};
    // padData: 0 every pad, bit 1 by slot, bit 2 by MAC.
    uint8_t flags = 0;
    uint8_t slot = 0;
    uint8_t mac[6] = {};
};

// Takes a packet only when it is at least its request's size and at most
// dsuLargestRequest, with the client's magic "DSUC", version 1001, a length
// that matches, a right CRC and a payload that makes sense (slots 0..3, a
// count of 1..4, pad flags 0..3).
DsuRequest parseDsuRequest(const uint8_t* data, size_t size);

// Whether a pad-data request asks for the device's slot.
bool dsuWantsOurPad(const DsuRequest& request, const uint8_t ourMac[6]);

// The device as the answers describe it.
struct DsuPadInfo {
    uint8_t mac[6];
};

// Answers; each writes its packet whole (CRC included) and returns its size.
size_t buildDsuVersionReply(uint32_t serverId, uint8_t out[dsuVersionReplySize]);
// slot: the slot asked about; ours is "connected" with full motion, any
// other "not connected".
size_t buildDsuPortReply(uint32_t serverId, uint8_t slot, const DsuPadInfo& pad,
                         uint8_t out[dsuPortReplySize]);

// One pad-data message: the device's five buttons, the motion timestamp and
// the motion, in the protocol's axes and units.
struct DsuPadState {
    uint8_t buttons1 = 0; // D-pad left 0x80, down 0x40, right 0x20, up 0x10, options, R3, L3, share
    uint8_t buttons2 = 0; // Y 0x80, B 0x40, A 0x20, X 0x10, R1, L1, R2, L2
    uint64_t timestampMicros = 0;
    float accel[3] = {}; // g
    float gyro[3] = {};  // pitch, yaw, roll in degrees per second
};

// Fills the packet but for its counter and CRC, which differ per client.
void buildDsuPadData(uint32_t serverId, const DsuPadInfo& pad, const DsuPadState& state,
                     uint8_t out[dsuPadDataSize]);
// Sets the per-client packet counter and the CRC of a packet of buildDsuPadData.
void stampDsuPadData(uint32_t counter, uint8_t out[dsuPadDataSize]);

// Offsets inside the pad-data message, for the tests.
constexpr size_t dsuPadCounterAt = 32;
constexpr size_t dsuPadButtonsAt = 36;
constexpr size_t dsuPadTimestampAt = 68;
constexpr size_t dsuPadAccelAt = 76;
constexpr size_t dsuPadGyroAt = 88;

// A client's side (tolvane-probe --dsu): the three requests, each written
// whole and unpadded; each returns its size.
size_t buildDsuVersionRequest(uint32_t clientId, uint8_t out[dsuVersionRequestSize]);
// count slots (1..4) from slots; out holds dsuPortRequestMax bytes.
size_t buildDsuPortRequest(uint32_t clientId, int count, const uint8_t* slots,
                           uint8_t out[dsuPortRequestMax]);
// Pad data of one slot; a server sends it for a few seconds after each.
size_t buildDsuPadRequest(uint32_t clientId, uint8_t slot, uint8_t out[dsuPadRequestSize]);

// A server's packet as a client reads it: bad unless it has the server's
// magic, version 1001, a length that matches, a right CRC and the size of
// its type.
struct DsuAnswer {
    DsuRequestKind kind = DsuRequestKind::bad;
    uint32_t serverId = 0;
    uint16_t version = 0; // version answers
    // port and pad-data answers
    uint8_t slot = 0;
    uint8_t state = 0; // 0 not connected, 2 connected
    uint8_t model = 0; // 2 full gyro
    uint8_t mac[6] = {};
    uint8_t battery = 0;
    // pad data
    uint32_t counter = 0;
    DsuPadState pad;
};
DsuAnswer parseDsuAnswer(const uint8_t* data, size_t size);
