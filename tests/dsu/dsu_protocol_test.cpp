// The DSU protocol's packets and the pad's motion: requests as clients send
// them (and as they must not), answers checked field by field, the CRC
// against zlib's published check value, and the axes against turns of the
// device about each of its axes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "output/dsu/dsu_motion.h"
#include "output/dsu/dsu_protocol.h"

namespace {

std::vector<uint8_t> request(uint32_t type, std::vector<uint8_t> payload) {
    std::vector<uint8_t> p = {'D', 'S', 'U', 'C', 0xE9, 0x03, 0, 0, 0, 0, 0, 0, 42, 0, 0, 0};
    const size_t length = 4 + payload.size();
    p[6] = static_cast<uint8_t>(length);
    for (int i = 0; i < 4; ++i)
        p.push_back(static_cast<uint8_t>(type >> (8 * i)));
    p.insert(p.end(), payload.begin(), payload.end());
    const uint32_t crc = dsuCrc32(p.data(), p.size());
    for (int i = 0; i < 4; ++i)
        p[8 + i] = static_cast<uint8_t>(crc >> (8 * i));
    return p;
}

uint32_t read32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

float readFloat(const uint8_t* p) {
    const uint32_t bits = read32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// A server packet: magic, version, length, and a CRC over it with its field zeroed.
void expectServerPacket(const uint8_t* p, size_t size, uint32_t type) {
    EXPECT_EQ(std::memcmp(p, "DSUS", 4), 0);
    EXPECT_EQ(p[4] | (p[5] << 8), 1001);
    EXPECT_EQ(static_cast<size_t>(p[6] | (p[7] << 8)), size - 16);
    std::vector<uint8_t> copy(p, p + size);
    std::memset(copy.data() + 8, 0, 4);
    EXPECT_EQ(read32(p + 8), dsuCrc32(copy.data(), size));
    EXPECT_EQ(read32(p + 16), type);
}

} // namespace

TEST(DsuProtocol, CrcIsZlibs) {
    const char check[] = "123456789";
    EXPECT_EQ(dsuCrc32(reinterpret_cast<const uint8_t*>(check), 9), 0xCBF43926u);
}

TEST(DsuProtocol, RequestsTakenAndRefused) {
    struct Case {
        const char* what;
        std::vector<uint8_t> packet;
        DsuRequestKind kind;
        DsuFault fault;
    };
    auto spoil = [](std::vector<uint8_t> p, size_t at, uint8_t value) {
        p[at] = value;
        return p;
    };
    const auto version = request(dsuVersionType, {});
    const auto ports = request(dsuPortInfoType, {4, 0, 0, 0, 0, 1, 2, 3});
    const auto pad = request(dsuPadDataType, {1, 0, 0, 0, 0, 0, 0, 0});
    std::vector<uint8_t> longer = version;
    longer.push_back(0);
    const Case cases[] = {
        {"version", version, DsuRequestKind::version, DsuFault::none},
        {"ports", ports, DsuRequestKind::portInfo, DsuFault::none},
        {"one port", request(dsuPortInfoType, {1, 0, 0, 0, 2}), DsuRequestKind::portInfo,
         DsuFault::none},
        {"pad", pad, DsuRequestKind::padData, DsuFault::none},
        {"short", std::vector<uint8_t>(version.begin(), version.begin() + 12), DsuRequestKind::bad,
         DsuFault::size},
        {"longer than any request", request(dsuVersionType, std::vector<uint8_t>(81, 0)),
         DsuRequestKind::bad, DsuFault::size},
        // Padding, as clients send it: four slot bytes whatever the count,
        // requests padded to their answer's size.
        {"version padded", request(dsuVersionType, {0, 0}), DsuRequestKind::version,
         DsuFault::none},
        {"version padded to the largest", request(dsuVersionType, std::vector<uint8_t>(80, 0)),
         DsuRequestKind::version, DsuFault::none},
        {"one port, four slot bytes", request(dsuPortInfoType, {1, 0, 0, 0, 0, 1, 2, 3}),
         DsuRequestKind::portInfo, DsuFault::none},
        {"ports padded", request(dsuPortInfoType, {2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}),
         DsuRequestKind::portInfo, DsuFault::none},
        {"pad padded", request(dsuPadDataType, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         DsuRequestKind::padData, DsuFault::none},
        {"pad short", request(dsuPadDataType, {1, 0, 0, 0, 0, 0, 0}), DsuRequestKind::bad,
         DsuFault::size},
        {"server magic", spoil(version, 3, 'S'), DsuRequestKind::bad, DsuFault::magic},
        {"version 1000", spoil(version, 4, 0xE8), DsuRequestKind::bad, DsuFault::version},
        {"length", longer, DsuRequestKind::bad, DsuFault::length},
        {"crc", spoil(version, 9, version[9] ^ 1), DsuRequestKind::bad, DsuFault::crc},
        {"payload bit", spoil(pad, 21, 1), DsuRequestKind::bad, DsuFault::crc},
        {"type", request(0x110002, {0, 0, 0, 0}), DsuRequestKind::bad, DsuFault::type},
        {"five ports", request(dsuPortInfoType, {5, 0, 0, 0, 0, 1, 2, 3}), DsuRequestKind::bad,
         DsuFault::payload},
        {"count beyond the slots", request(dsuPortInfoType, {3, 0, 0, 0, 0, 1}),
         DsuRequestKind::bad, DsuFault::payload},
        {"slot 4", request(dsuPortInfoType, {1, 0, 0, 0, 4}), DsuRequestKind::bad,
         DsuFault::payload},
        {"pad flags 4", request(dsuPadDataType, {4, 0, 0, 0, 0, 0, 0, 0}), DsuRequestKind::bad,
         DsuFault::payload},
    };
    for (const Case& c : cases) {
        const DsuRequest r = parseDsuRequest(c.packet.data(), c.packet.size());
        EXPECT_EQ(r.kind, c.kind) << c.what;
        EXPECT_EQ(r.fault, c.fault) << c.what;
    }
    const DsuRequest r = parseDsuRequest(ports.data(), ports.size());
    EXPECT_EQ(r.clientId, 42u);
    ASSERT_EQ(r.slotCount, 4);
    EXPECT_EQ(r.slots[3], 3);

    const uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    struct Want {
        std::vector<uint8_t> payload;
        bool ours;
    };
    const Want wants[] = {{{0, 9, 0, 0, 0, 0, 0, 0}, true},
                          {{1, 0, 0, 0, 0, 0, 0, 0}, true},
                          {{1, 1, 0, 0, 0, 0, 0, 0}, false},
                          {{2, 0, 1, 2, 3, 4, 5, 6}, true},
                          {{2, 0, 1, 2, 3, 4, 5, 7}, false}};
    for (const Want& w : wants) {
        const auto p = request(dsuPadDataType, w.payload);
        EXPECT_EQ(dsuWantsOurPad(parseDsuRequest(p.data(), p.size()), mac), w.ours)
            << int(w.payload[0]) << " " << int(w.payload[1]);
    }
}

TEST(DsuProtocol, Answers) {
    const DsuPadInfo pad = {{2, 0x54, 0x4F, 0x4C, 0, 1}};
    uint8_t version[dsuVersionReplySize];
    ASSERT_EQ(buildDsuVersionReply(7, version), 22u);
    expectServerPacket(version, 22, dsuVersionType);
    EXPECT_EQ(read32(version + 12), 7u);
    EXPECT_EQ(version[20] | (version[21] << 8), 1001);

    for (uint8_t slot = 0; slot < 4; ++slot) {
        uint8_t port[dsuPortReplySize];
        ASSERT_EQ(buildDsuPortReply(7, slot, pad, port), 32u);
        expectServerPacket(port, 32, dsuPortInfoType);
        EXPECT_EQ(port[20], slot);
        EXPECT_EQ(port[21], slot == 0 ? 2 : 0) << "state";
        EXPECT_EQ(port[22], slot == 0 ? 2 : 0) << "full gyro";
        EXPECT_EQ(std::memcmp(port + 24, slot == 0 ? pad.mac : std::array<uint8_t, 6>{}.data(), 6),
                  0);
        EXPECT_EQ(port[30], 0) << "battery not applicable";
    }

    DsuPadState state;
    state.buttons1 = 0x50;
    state.buttons2 = 0x30;
    state.timestampMicros = 0x0102030405060708ull;
    state.accel[1] = -1.0f;
    state.gyro[2] = 90.0f;
    uint8_t data[dsuPadDataSize];
    buildDsuPadData(7, pad, state, data);
    stampDsuPadData(5, data);
    expectServerPacket(data, 100, dsuPadDataType);
    EXPECT_EQ(data[20], 0);
    EXPECT_EQ(data[21], 2);
    EXPECT_EQ(data[31], 1);
    EXPECT_EQ(read32(data + 32), 5u);
    EXPECT_EQ(data[36], 0x50);
    EXPECT_EQ(data[37], 0x30);
    EXPECT_EQ(data[40], 128);
    EXPECT_EQ(data[47], 255) << "analog D-pad up";
    EXPECT_EQ(data[45], 255) << "analog D-pad down";
    EXPECT_EQ(data[50], 255) << "analog A";
    EXPECT_EQ(data[51], 255) << "analog X";
    EXPECT_EQ(data[49], 0) << "analog B";
    EXPECT_EQ(read32(data + 68), 0x05060708u);
    EXPECT_EQ(readFloat(data + 80), -1.0f);
    EXPECT_EQ(readFloat(data + 96), 90.0f);
}

// What a client sends the server takes, and what the server sends a client
// reads back field by field; a spoilt answer is bad.
TEST(DsuProtocol, ClientRequestsAndAnswersRoundTrip) {
    uint8_t out[dsuPortRequestMax];
    const uint8_t slots[2] = {0, 3};
    DsuRequest r = parseDsuRequest(out, buildDsuVersionRequest(9, out));
    EXPECT_EQ(r.kind, DsuRequestKind::version);
    EXPECT_EQ(r.clientId, 9u);
    r = parseDsuRequest(out, buildDsuPortRequest(9, 2, slots, out));
    ASSERT_EQ(r.kind, DsuRequestKind::portInfo);
    EXPECT_EQ(r.slotCount, 2);
    EXPECT_EQ(r.slots[1], 3);
    r = parseDsuRequest(out, buildDsuPadRequest(9, 0, out));
    const uint8_t mac[6] = {};
    EXPECT_TRUE(dsuWantsOurPad(r, mac));

    const DsuPadInfo pad = {{2, 0x54, 0x4F, 0x4C, 0, 1}};
    uint8_t packet[dsuPadDataSize];
    DsuAnswer a = parseDsuAnswer(packet, buildDsuVersionReply(7, packet));
    EXPECT_EQ(a.kind, DsuRequestKind::version);
    EXPECT_EQ(a.version, 1001);
    a = parseDsuAnswer(packet, buildDsuPortReply(7, 0, pad, packet));
    EXPECT_EQ(a.kind, DsuRequestKind::portInfo);
    EXPECT_EQ(a.state, 2);
    EXPECT_EQ(std::memcmp(a.mac, pad.mac, 6), 0);
    DsuPadState state;
    state.buttons2 = 0x20;
    state.timestampMicros = 123456789012ull;
    state.accel[1] = -0.98f;
    state.gyro[0] = 90.0f;
    buildDsuPadData(7, pad, state, packet);
    stampDsuPadData(41, packet);
    a = parseDsuAnswer(packet, dsuPadDataSize);
    ASSERT_EQ(a.kind, DsuRequestKind::padData);
    EXPECT_EQ(a.serverId, 7u);
    EXPECT_EQ(a.counter, 41u);
    EXPECT_EQ(a.pad.buttons2, 0x20);
    EXPECT_EQ(a.pad.timestampMicros, 123456789012ull);
    EXPECT_EQ(a.pad.accel[1], -0.98f);
    EXPECT_EQ(a.pad.gyro[0], 90.0f);
    packet[90] ^= 1;
    EXPECT_EQ(parseDsuAnswer(packet, dsuPadDataSize).kind, DsuRequestKind::bad) << "CRC";
    EXPECT_EQ(parseDsuAnswer(packet, 99).kind, DsuRequestKind::bad) << "size";
    EXPECT_EQ(parseDsuAnswer(out, buildDsuVersionRequest(9, out)).kind, DsuRequestKind::bad)
        << "a client's packet";
}

// A steady turn about each device axis, 100 lines a second; the pad's rate
// and its sign in the protocol's axes: tip up is pitch +, a swing to the left
// is yaw −, a roll to the left is roll −.
TEST(DsuMotion, TurnsAndButtons) {
    struct Case {
        int axis;
        double degreesPerSecond;
        float pitch, yaw, roll;
    };
    const Case cases[] = {{0, 90, 90, 0, 0},  {0, -45, -45, 0, 0},  {1, 90, 0, -90, 0},
                          {1, -30, 0, 30, 0}, {2, 120, 0, 0, -120}, {2, -720, 0, 0, 720}};
    for (const Case& c : cases) {
        DsuMotionTracker tracker;
        const float accel[3] = {0.1f, -0.98f, 0.2f};
        const ButtonState none{};
        for (int k = 0; k < 10; ++k) {
            const double angle = c.degreesPerSecond * k * 0.01 * std::numbers::pi / 180;
            float q[4] = {0, 0, 0, static_cast<float>(std::cos(angle / 2))};
            q[c.axis] = static_cast<float>(std::sin(angle / 2));
            const DsuPadState s = dsuPadStateOf(tracker, q, accel, none, 1000000 + k * 10000);
            EXPECT_EQ(s.timestampMicros, static_cast<uint64_t>(1000000 + k * 10000));
            EXPECT_EQ(std::memcmp(s.accel, accel, sizeof accel), 0);
            if (k == 0) {
                EXPECT_EQ(s.gyro[0] + s.gyro[1] + s.gyro[2], 0.0f)
                    << "no rate without a line before";
                continue;
            }
            EXPECT_NEAR(s.gyro[0], c.pitch, 0.01) << c.axis << " " << c.degreesPerSecond;
            EXPECT_NEAR(s.gyro[1], c.yaw, 0.01) << c.axis << " " << c.degreesPerSecond;
            EXPECT_NEAR(s.gyro[2], c.roll, 0.01) << c.axis << " " << c.degreesPerSecond;
        }
    }

    // A gap (a restart) or a window without length gives no rate.
    DsuMotionTracker tracker;
    const float accel[3] = {0, 0, 1};
    const float level[4] = {0, 0, 0, 1}, turned[4] = {0.5f, 0, 0, 0.8660254f}, none[4] = {};
    dsuPadStateOf(tracker, level, accel, ButtonState{}, 0);
    EXPECT_EQ(dsuPadStateOf(tracker, turned, accel, ButtonState{}, 6000000).gyro[0], 0.0f);
    EXPECT_EQ(dsuPadStateOf(tracker, none, accel, ButtonState{}, 6010000).gyro[0], 0.0f);
    EXPECT_NEAR(dsuPadStateOf(tracker, turned, accel, ButtonState{}, 6020000).gyro[0], 0.0f, 1e-3);

    struct Buttons {
        ButtonState state;
        uint8_t one, two;
    };
    const Buttons buttons[] = {{{{1, 0, 0, 0, 0}}, 0x00, 0x20}, {{{0, 1, 0, 0, 0}}, 0x00, 0x40},
                               {{{0, 0, 1, 0, 0}}, 0x10, 0x00}, {{{0, 0, 0, 1, 0}}, 0x40, 0x00},
                               {{{0, 0, 0, 0, 1}}, 0x00, 0x10}, {{{2, 1, 1, 1, 1}}, 0x50, 0x50}};
    for (const Buttons& b : buttons) {
        uint8_t one = 0xFF, two = 0xFF;
        dsuButtonsOf(b.state, &one, &two);
        EXPECT_EQ(one, b.one);
        EXPECT_EQ(two, b.two);
    }
}
