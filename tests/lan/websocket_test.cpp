#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/reply_text.h"
#include "protocol/websocket.h"

namespace {

std::string acceptOf(const std::string& key) {
    char accept[acceptValueSize];
    if (!computeAcceptKey(key.c_str(), accept)) return "(refused)";
    return accept;
}

// Feeds bytes until the head is complete or too long; the status and length.
HeadStatus feed(RequestHead& head, const std::string& bytes, size_t* used = nullptr) {
    clearRequestHead(head);
    HeadStatus status = HeadStatus::incomplete;
    size_t i = 0;
    while (i < bytes.size() && status == HeadStatus::incomplete)
        status = appendHeadByte(head, static_cast<unsigned char>(bytes[i++]));
    if (used != nullptr) *used = i;
    return status;
}

std::string keyOf(const std::string& head, bool* fits = nullptr) {
    char key[webSocketKeySize];
    bool ok = findWebSocketKey(head.data(), head.size(), key, sizeof key);
    if (fits != nullptr) *fits = ok;
    return ok ? key : "(too long)";
}

// A client's frame: first byte, payload, masked with a fixed key unless told
// otherwise; extended lengths as the payload needs, or as forced.
std::string frame(unsigned char first, const std::string& payload, bool masked = true,
                  int lengthForm = 0) {
    const unsigned char mask[4] = {0x37, 0xfa, 0x21, 0x3d};
    std::string out(1, static_cast<char>(first));
    const size_t n = payload.size();
    const unsigned char maskBit = masked ? 0x80 : 0;
    if (lengthForm == 0) lengthForm = n < 126 ? 7 : (n < 65536 ? 16 : 64);
    if (lengthForm == 7) {
        out += static_cast<char>(maskBit | n);
    } else {
        out += static_cast<char>(maskBit | (lengthForm == 16 ? 126 : 127));
        for (int shift = lengthForm - 8; shift >= 0; shift -= 8)
            out += static_cast<char>((uint64_t(n) >> shift) & 0xFF);
    }
    if (masked) out.append(reinterpret_cast<const char*>(mask), 4);
    for (size_t i = 0; i < n; ++i)
        out += static_cast<char>(payload[i] ^ (masked ? mask[i % 4] : 0));
    return out;
}

// A client's byte stream in memory, and what the reader sent back.
struct Wire {
    std::string in;
    size_t at = 0;
    std::string out;
    FrameLink link{this, receive, send};

    static bool receive(void* context, unsigned char* bytes, size_t count) {
        Wire& w = *static_cast<Wire*>(context);
        if (count > w.in.size() - w.at) return false;
        std::memcpy(bytes, w.in.data() + w.at, count);
        w.at += count;
        return true;
    }
    static bool send(void* context, const unsigned char* data, size_t length) {
        static_cast<Wire*>(context)->out.append(reinterpret_cast<const char*>(data), length);
        return true;
    }
};

std::string closeWith(unsigned code) {
    return {'\x88', '\x02', static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

const MotionOutput motion{{12.5f, -0.0f, -179.99951f}, {0.70710677f, 0.0f, 0.0f, 0.70710677f}};

} // namespace

TEST(WebSocketAccept, KnownValuesAndKeyLimit) {
    EXPECT_EQ(acceptOf("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(acceptOf(""), "Kfh9QIsMVZcl6xEPYxPHzW8SZ8w=");
    EXPECT_EQ(acceptOf("\tdGhlIHNhbXBsZSBub25jZQ=="), "IWTaGdeH14qKJqbIHtdJ+OhQJS8=");
    EXPECT_EQ(acceptOf("dGhlIHNhbXBsZSBub25jZQ==  "), "mogpCUDsFBfEiTi8XY/wyJyveQ0=");
    // Key and GUID share 127 characters: 91 is the longest key.
    EXPECT_EQ(acceptOf(std::string(91, 'k')), "Mxd/SwBPfhz1zQHW7M6srlOA0TM=");
    EXPECT_EQ(acceptOf(std::string(92, 'k')), "(refused)");
    EXPECT_EQ(acceptOf(std::string(300, 'k')), "(refused)");
}

TEST(WebSocketHead, CompleteAtTheEmptyLine) {
    // The bytes fed, and how many of them the head takes (0: incomplete).
    const struct {
        std::string bytes;
        size_t taken;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\n\x81\x81", 27}, // nothing of the frame behind it
        {"GET / HTTP/1.1\nHost: a\n\n\x81\x81", 24},       // bare LF line ends
        {"GET / HTTP/1.1\nHost: a\r\n\n", 25},             // mixed
        {"GET / HTTP/1.1\r\nHost: a\n\r\n", 26},
        {"a\r\n\r \n\r\n", 8}, // a line of CR and a blank, then the empty line
        {"a\n\r\r\n", 5},      // four line-end bytes in a row, as always
        {"GET / HTTP/1.1\r\nHost: a\r\n\r", 0},
        {"GET / HTTP/1.1\r\nHost: a\r\r", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        RequestHead head;
        size_t used = 0;
        EXPECT_EQ(feed(head, c.bytes, &used),
                  c.taken > 0 ? HeadStatus::complete : HeadStatus::incomplete);
        if (c.taken > 0) {
            EXPECT_EQ(std::string(head.text), c.bytes.substr(0, c.taken));
        }
    }
}

TEST(WebSocketHead, NeverHoldsMoreThan8192Bytes) {
    RequestHead head;
    size_t used = 0;
    EXPECT_EQ(feed(head, std::string(9000, 'x'), &used), HeadStatus::tooLong);
    EXPECT_EQ(used, 8192u);
    EXPECT_EQ(head.length, 8192u);
    EXPECT_EQ(head.text[8192], '\0');
    EXPECT_EQ(appendHeadByte(head, 'x'), HeadStatus::tooLong);
    EXPECT_EQ(head.length, 8192u);
    // A head of exactly 8192 bytes still completes.
    EXPECT_EQ(feed(head, std::string(8188, 'x') + "\r\n\r\n"), HeadStatus::complete);
    EXPECT_EQ(feed(head, std::string(8189, 'x') + "\r\n\r\n"), HeadStatus::tooLong);
}

TEST(WebSocketKey, TakenFromAHeaderLineOnly) {
    // Blanks around the value are dropped, as HTTP says.
    EXPECT_EQ(keyOf("GET /\r\nSec-WebSocket-Key:   abc\r\n\r\n"), "abc");
    EXPECT_EQ(keyOf("GET /\r\nSec-WebSocket-Key:\tabc \t\r\n\r\n"), "abc");
    EXPECT_EQ(keyOf("GET /\r\nSec-WebSocket-Key : abc\r\n\r\n"), "abc");
    // Header names in any letter case, as proxies and gateways write them.
    EXPECT_EQ(keyOf("GET /\r\nsec-websocket-key: abc\r\n\r\n"), "abc");
    EXPECT_EQ(keyOf("GET /\r\nSEC-WEBSOCKET-KEY: abc\r\n\r\n"), "abc");
    // Only a whole name at the start of a header line; the first one wins.
    EXPECT_EQ(keyOf("GET /\r\nSec-WebSocket-Key2: two\r\nSec-WebSocket-Key: one\r\n\r\n"), "one");
    EXPECT_EQ(keyOf("GET /\r\nX-Sec-WebSocket-Key: x\r\n\r\n"), "");
    EXPECT_EQ(keyOf("GET /\r\nX: Sec-WebSocket-Key: x\r\n\r\n"), "");
    EXPECT_EQ(keyOf("GET /\r\nSec-WebSocket-Key: a\r\nSec-WebSocket-Key: b\r\n\r\n"), "a");
    // Never from the request line, whatever it carries.
    EXPECT_EQ(keyOf("GET /?Sec-WebSocket-Key:EVIL HTTP/1.1\r\nX: y\r\n\r\n"), "");
    EXPECT_EQ(keyOf("Sec-WebSocket-Key: EVIL\r\n\r\n"), "");
    EXPECT_EQ(keyOf("GET /?Sec-WebSocket-Key:EVIL HTTP/1.1\r\nSec-WebSocket-Key: k\r\n\r\n"), "k");
    // Bare LF line ends end the value too.
    EXPECT_EQ(keyOf("GET /\nSec-WebSocket-Key: abc\n\n\n\n"), "abc");
    EXPECT_EQ(keyOf("GET /\r\nSec-WebSocket-Key:\r\n\r\n"), "");
    EXPECT_EQ(keyOf("GET /\r\n\r\n"), "");
}

TEST(WebSocketKey, SearchesStopAtTheEndOfTheHead) {
    // No colon within the head: no key. No line end: the value runs to the end.
    EXPECT_EQ(keyOf("GET /\r\nSec-WebSocket-Key"), "");
    EXPECT_EQ(keyOf("GET /\r\nSec-WebSocket-Key: abc"), "abc");
    // The head ends at its length even when bytes beyond it would continue it.
    const char beyond[] = "GET /\nSec-WebSocket-Key: abc\rdef";
    char key[webSocketKeySize];
    ASSERT_TRUE(findWebSocketKey(beyond, 27, key, sizeof key));
    EXPECT_STREQ(key, "ab");
    ASSERT_TRUE(findWebSocketKey(beyond, 22, key, sizeof key));
    EXPECT_STREQ(key, "");
    // A NUL received inside the head ends it as well.
    EXPECT_EQ(keyOf(std::string("GET /\nSec-WebSocket-Key: ab\0cd\r\n", 32)), "ab");
    EXPECT_EQ(keyOf(std::string("GET /\0\nSec-WebSocket-Key: ab\r\n", 30)), "");
    // A value too long for the key buffer is refused, not cut.
    bool fits = true;
    keyOf("GET /\nSec-WebSocket-Key: " + std::string(255, 'k') + "\r\n", &fits);
    EXPECT_TRUE(fits);
    keyOf("GET /\nSec-WebSocket-Key: " + std::string(256, 'k') + "\r\n", &fits);
    EXPECT_FALSE(fits);
}

TEST(WebSocketHandshake, UpgradeOrBadRequest) {
    RequestHead head;
    char reply[handshakeReplySize];
    bool upgrade = false;
    ASSERT_EQ(feed(head, "GET /\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"),
              HeadStatus::complete);
    const std::string expected = "HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: upgrade\r\n"
                                 "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
    ASSERT_EQ(formatHandshakeReply(head, reply, sizeof reply, upgrade),
              static_cast<int>(expected.size()));
    EXPECT_TRUE(upgrade);
    EXPECT_EQ(std::string(reply), expected);
    EXPECT_EQ(formatHandshakeReply(head, reply, expected.size(), upgrade), -1); // no cut reply

    // The lower-case name gets the very same reply.
    feed(head, "GET /\r\nsec-websocket-key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    ASSERT_GT(formatHandshakeReply(head, reply, sizeof reply, upgrade), 0);
    EXPECT_EQ(std::string(reply), expected);

    // No key, an empty one, one only in the request line or one too long to
    // take: refused, never a "101" with an accept value the client rejects.
    const std::string badRequest =
        "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    for (const std::string& bad :
         {std::string("GET /\r\nHost: x\r\n\r\n"),
          std::string("GET /\r\nSec-WebSocket-Key:\r\n\r\n"),
          std::string("GET /?Sec-WebSocket-Key:EVIL HTTP/1.1\r\n\r\n"),
          "GET /\r\nSec-WebSocket-Key: " + std::string(92, 'k') + "\r\n\r\n"}) {
        SCOPED_TRACE(bad);
        ASSERT_EQ(feed(head, bad), HeadStatus::complete);
        upgrade = true;
        ASSERT_EQ(formatHandshakeReply(head, reply, sizeof reply, upgrade),
                  static_cast<int>(badRequest.size()));
        EXPECT_FALSE(upgrade);
        EXPECT_EQ(std::string(reply), badRequest);
    }
}

TEST(WebSocketFrames, ReplyFrame) {
    char out[2 + replyTextSize];
    ButtonState buttons{{1, 0, 0, 0, 1}};
    ASSERT_EQ(formatReplyFrame(out, sizeof out, motion, buttons), 94);
    EXPECT_EQ(static_cast<unsigned char>(out[0]), 0x81);
    EXPECT_EQ(out[1], 92);
    EXPECT_EQ(out[2], '{');
    EXPECT_EQ(out[93], '}');

    // Wider buttons lengthen the text one digit at a time: 125 bytes is the
    // longest payload a frame without extended length carries.
    ButtonState wide125{{123456789, 123456789, 123456789, 1234567890, 0}};
    ButtonState wide126{{123456789, 123456789, 123456789, 1234567890, 10}};
    ASSERT_EQ(formatReplyFrame(out, sizeof out, motion, wide125), 127);
    EXPECT_EQ(out[1], 125);
    EXPECT_EQ(formatReplyFrame(out, sizeof out, motion, wide126), -1);
    EXPECT_EQ(formatReplyFrame(out, 94, motion, buttons), -1); // buffer too short
}

TEST(WebSocketFrames, MessagesStayInStepAroundControlFrames) {
    Wire wire;
    wire.in = frame(0x81, "D") + frame(0x81, "DD") +
              // fragments with a ping and a pong between them
              frame(0x01, "") + frame(0x00, "D") + frame(0x89, "ping!") + frame(0x8A, "x") +
              frame(0x80, "rest") + frame(0x82, "") + frame(0x82, "d") +
              frame(0x81, "D" + std::string(299, 'y')) +
              frame(0x82, "D" + std::string(65535, 'y')) + frame(0x81, "D", true, 64) +
              frame(0x81, "D");
    RequestStream stream;
    std::vector<int> commands;
    for (int command; (command = readRequestMessage(stream, wire.link)) >= 0;)
        commands.push_back(command);
    EXPECT_EQ(commands, (std::vector<int>{'D', 'D', 'D', 0, 'd', 'D', 'D', 'D', 'D'}));
    EXPECT_EQ(wire.at, wire.in.size());
    EXPECT_EQ(wire.out, std::string("\x8A\x05ping!")); // and no close: the stream just ended
}

TEST(WebSocketFrames, CloseIsAnsweredAndEndsTheReads) {
    struct Case {
        std::string payload;
        std::string answer;
    } cases[] = {{"\x03\xe8", closeWith(1000)},
                 {std::string("\x0f\xa0") + "bye", closeWith(4000)},
                 {"", std::string("\x88\x00", 2)},
                 {"\x03", closeWith(closeProtocolError)},
                 {"\x03\xed", closeWith(closeProtocolError)}}; // 1005 is never sent
    for (const Case& c : cases) {
        Wire wire;
        wire.in = frame(0x88, c.payload) + frame(0x81, "D");
        RequestStream stream;
        EXPECT_EQ(readRequestMessage(stream, wire.link), -1);
        EXPECT_EQ(wire.out, c.answer);
        EXPECT_EQ(wire.at, wire.in.size() - 7); // the frame behind it is not read
    }
}

TEST(WebSocketFrames, InvalidFramesEndTheConnectionUnread) {
    struct Case {
        const char* name;
        std::string bytes;
        size_t read; // bytes taken before giving up
        unsigned status;
    } cases[] = {
        {"unmasked", frame(0x81, "D", false), 2, closeProtocolError},
        {"long ping", frame(0x89, std::string(126, 'p')), 2, closeProtocolError},
        {"ping without FIN", frame(0x09, "p"), 2, closeProtocolError},
        {"reserved bit", frame(0xC1, "D"), 2, closeProtocolError},
        {"reserved opcode", frame(0x83, "D"), 2, closeProtocolError},
        {"stray continuation", frame(0x80, "D"), 2, closeProtocolError},
        {"message in a message", frame(0x01, "D") + frame(0x81, "D"), 9, closeProtocolError},
        {"64-bit top bit", std::string("\x82\xff\x80\0\0\0\0\0\0\0", 10) + "mask", 14,
         closeProtocolError},
        {"message over 64 KiB", frame(0x82, std::string(65537, 'y')), 14, closeMessageTooBig},
        {"fragments over 64 KiB",
         frame(0x02, std::string(65000, 'y')) + frame(0x80, std::string(537, 'y')), 65008 + 8,
         closeMessageTooBig},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wire wire;
        wire.in = c.bytes;
        RequestStream stream;
        EXPECT_EQ(readRequestMessage(stream, wire.link), -1);
        EXPECT_EQ(wire.at, c.read);
        EXPECT_EQ(wire.out, closeWith(c.status));
    }
}
