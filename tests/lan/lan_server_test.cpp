#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#endif

#include "net/socket_layer.h"
#include "net/socket_platform.h"
#include "net/socket_slot.h"
#include "output/lan/lan_server.h"
#include "protocol/origin_check.h"
#include "protocol/reply_text.h"
#include "protocol/websocket.h"
#include "settings/settings.h"
#include "settings/stop_request.h"
#include "tests/support/handles.h"
#include "tests/support/loopback.h"

namespace {

const MotionOutput motion{{12.5f, -0.0f, -179.99951f}, {0.70710677f, 0.0f, 0.0f, 0.70710677f}};
const ButtonState buttons{{1, 0, 0, 0, 1}};

std::string plainReply(const MotionOutput& m = motion) {
    char text[replyTextSize];
    int n = formatPlainReply(text, sizeof text, m, buttons);
    return std::string(text, static_cast<size_t>(n));
}

std::string replyFrame() {
    char frame[300];
    int n = formatReplyFrame(frame, sizeof frame, motion, buttons);
    return std::string(frame, static_cast<size_t>(n));
}

// A masked client frame of the given payload (mask bytes chosen by the caller),
// with the extended length the payload needs.
std::string clientFrame(const std::string& payload, const unsigned char mask[4],
                        unsigned char first = 0x81) {
    std::string frame(1, static_cast<char>(first));
    const size_t n = payload.size();
    const int lengthBytes = n < 126 ? 0 : (n < 65536 ? 2 : 8);
    frame += static_cast<char>(0x80 | (lengthBytes == 0 ? n : (lengthBytes == 2 ? 126 : 127)));
    for (int i = lengthBytes - 1; i >= 0; --i)
        frame += static_cast<char>((n >> (8 * i)) & 0xFF);
    for (int i = 0; i < 4; ++i)
        frame += static_cast<char>(mask[i]);
    for (size_t i = 0; i < payload.size(); ++i)
        frame += static_cast<char>(payload[i] ^ mask[i % 4]);
    return frame;
}

const unsigned char someMask[4] = {0x37, 0xfa, 0x21, 0x3d};

std::string handshakeReplyWith(const char* accept) {
    return std::string("HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: upgrade\r\n"
                       "Sec-WebSocket-Accept: ") +
           accept + "\r\n\r\n";
}

// What the server side saw in one session.
struct Session {
    bool opened = false;
    std::vector<int> commands;
    int replies = 0;
};

// One measurement cycle the way the worker runs it, with the device replaced by
// a list of outputs used in turn (the last one repeats): open, then answer each
// "D" until a read or a reply fails, then close client and listener.
class ServerThread {
  public:
    explicit ServerThread(std::vector<MotionOutput> outputs = {motion})
        : outputs_(std::move(outputs)), done_(std::async(std::launch::async, [this] { run(); })) {}
    ~ServerThread() { finish(); }

    // Waits (bounded) for the session to end; a hang is first broken by closing
    // the sockets, so that a failing test still ends.
    const Session& finish() {
        if (!done_.valid()) return session_;
        if (done_.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "server session did not end";
            closeClientSocket();
            closeListenSocket();
            if (done_.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
                std::abort(); // closing did not release it either
        }
        done_.get();
        return session_;
    }

  private:
    void run() {
        session_.opened = openLanServer().ok;
        if (session_.opened) {
            for (;;) {
                int command = readRequest();
                if (command < 0) break;
                session_.commands.push_back(command);
                if (command != 'D') continue;
                size_t index = std::min(static_cast<size_t>(session_.replies), outputs_.size() - 1);
                if (sendMotionOutput(outputs_[index], buttons) == ReplyOutcome::failed) break;
                ++session_.replies;
            }
        }
        closeClientSocket();
        closeListenSocket();
    }

    std::vector<MotionOutput> outputs_;
    Session session_;
    std::future<void> done_;
};

class LanServer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startSocketLayer());
        setDefaults();
        stopRequested = false;
        port = freePort();
        settings.lanPort = port;
        settings.webSocketEnabled = 0;
    }
    void TearDown() override {
        stopRequested = false;
        closeClientSocket();
        closeListenSocket();
        stopSocketLayer();
    }
    uint16_t port = 0;
};

// Ends the client's sending side and collects the rest until the server closes.
std::string drain(NativeSocket client) {
    shutdownSending(client);
    bool closed = false;
    std::string rest = receiveUntilClosed(client, &closed);
    EXPECT_TRUE(closed) << "server did not close the connection";
    closeClient(client);
    return rest;
}

// Waits (bounded) until a worker call has the socket in hand.
bool awaitBorrowed(SocketSlot& slot) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> guard(slot.lock);
            if (slot.borrowed != noSocket) return true;
        }
        std::this_thread::yield();
    }
    return false;
}

} // namespace

TEST_F(LanServer, PlainRepliesOnlyToCapitalD) {
    ServerThread server;
    NativeSocket client = connectLoopback(port);
    ASSERT_NE(client, noSocket);
    const std::string reply = plainReply();
    ASSERT_EQ(reply.size(), 72u);

    ASSERT_TRUE(sendText(client, "D\r\n"));
    EXPECT_EQ(receiveCount(client, 72), reply);
    // Other bytes are read and dropped; three D in one segment give three
    // replies back to back.
    ASSERT_TRUE(sendText(client, std::string("xd\0\xff ", 5) + "DDD"));
    EXPECT_EQ(receiveCount(client, 216), reply + reply + reply);
    EXPECT_EQ(drain(client), ""); // nothing for the CR LF or the other bytes

    const Session& s = server.finish();
    EXPECT_TRUE(s.opened);
    EXPECT_EQ(s.replies, 4);
    EXPECT_EQ(s.commands,
              (std::vector<int>{'D', '\r', '\n', 'x', 'd', 0, 0xff, ' ', 'D', 'D', 'D'}));
}

TEST_F(LanServer, ListensOnPortModulo65536) {
    NativeSocket probe = listenOn(4464);
    if (probe == noSocket) GTEST_SKIP() << "port 4464 is taken on this host";
    closeClient(probe);
    settings.lanPort = 70000;
    ServerThread server;
    NativeSocket client = connectLoopback(4464);
    ASSERT_NE(client, noSocket);
    ASSERT_TRUE(sendText(client, "D"));
    EXPECT_EQ(receiveCount(client, 72), plainReply());
    drain(client);
    EXPECT_EQ(server.finish().replies, 1);
}

TEST_F(LanServer, SecondClientWaitsUnservedAndIsDroppedWithTheFirst) {
    ServerThread server;
    NativeSocket first = connectLoopback(port);
    ASSERT_NE(first, noSocket);
    ASSERT_TRUE(sendText(first, "D"));
    ASSERT_EQ(receiveCount(first, 72).size(), 72u); // the first one is the one accepted
    NativeSocket second = connectLoopback(port);    // sits in the backlog
    ASSERT_NE(second, noSocket);
    ASSERT_TRUE(sendText(second, "D"));
    ASSERT_TRUE(sendText(first, "D"));
    EXPECT_EQ(receiveCount(first, 72), plainReply());
    drain(first);
    EXPECT_EQ(server.finish().replies, 2);
    EXPECT_EQ(drain(second), ""); // never served, dropped when the cycle ended
}

TEST_F(LanServer, ReplyThatDoesNotFitIsNotSentAndServingGoesOn) {
    // Quaternion values that no device produces make the plain text longer
    // than 255 bytes; the JSON text of 1e30 angles exceeds a short frame.
    MotionOutput tooWide{{3e38f, 3e38f, 3e38f}, {3e38f, -3e38f, 3e38f, -3e38f}};
    MotionOutput tooLongForFrame{{1e30f, 1e30f, 1e30f}, {0, 0, 0, 1}};
    {
        ServerThread server({tooWide, motion});
        NativeSocket client = connectLoopback(port);
        ASSERT_NE(client, noSocket);
        ASSERT_TRUE(sendText(client, "D"));
        ASSERT_TRUE(sendText(client, "D"));
        EXPECT_EQ(receiveCount(client, 72), plainReply());
        EXPECT_EQ(drain(client), "");
        EXPECT_EQ(server.finish().replies, 2);
    }
    settings.webSocketEnabled = 1;
    {
        ServerThread server({tooLongForFrame, motion});
        NativeSocket client = connectLoopback(port);
        ASSERT_NE(client, noSocket);
        ASSERT_TRUE(sendText(client, "GET / HTTP/1.1\r\nSec-WebSocket-Key: x\r\n\r\n"));
        char accept[acceptValueSize];
        ASSERT_TRUE(computeAcceptKey("x", accept));
        ASSERT_EQ(receiveCount(client, handshakeReplyWith(accept).size()),
                  handshakeReplyWith(accept));
        ASSERT_TRUE(sendText(client, clientFrame("D", someMask) + clientFrame("D", someMask)));
        EXPECT_EQ(receiveCount(client, 94), replyFrame());
        EXPECT_EQ(drain(client), "");
    }
}

TEST_F(LanServer, FailedOpenClosesItsSocketEveryTime) {
    NativeSocket holder = listenOn(port);
    ASSERT_NE(holder, noSocket);
    const int before = openHandleCount();
    for (int attempt = 0; attempt < 200; ++attempt)
        ASSERT_FALSE(openLanServer());
    EXPECT_FALSE(socketSlotOpen(listenSocket));
    EXPECT_EQ(openHandleCount(), before);
    closeClient(holder);
}

TEST_F(LanServer, ListensAgainAtOnceAfterClosingTheClientItself) {
    for (int cycle = 0; cycle < 2; ++cycle) {
        std::thread opener([] {
            if (openLanServer()) {
                // Close while the client is still connected, as Run does, so
                // this side holds the connection's leftovers.
                closeClientSocket();
                closeListenSocket();
            }
        });
        NativeSocket client = connectLoopback(port);
        if (client == noSocket) {
            ADD_FAILURE() << "no listener in cycle " << cycle;
            stopRequested = true;
            closeListenSocket();
            opener.join();
            break;
        }
        bool closed = false;
        receiveUntilClosed(client, &closed);
        EXPECT_TRUE(closed);
        opener.join();
        closeClient(client);
    }
}

TEST_F(LanServer, ClosingReleasesAWorkerBlockedInAcceptHandshakeOrRequest) {
    struct Case {
        bool webSocket;
        const char* sent; // nullptr: no client at all (blocked in accept)
        bool expectOpened;
    };
    const Case cases[] = {{false, nullptr, false},
                          {true, "GET / HTTP/1.1\r\nSec-Web", true},
                          {false, "", true},
                          {true, "GET / HTTP/1.1\r\nSec-WebSocket-Key: abc\r\n\r\n\x81\x81", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent == nullptr ? "accept" : c.sent);
        settings.webSocketEnabled = c.webSocket ? 1 : 0;
        ServerThread server;
        NativeSocket client = noSocket;
        if (c.sent != nullptr) {
            client = connectLoopback(port);
            ASSERT_NE(client, noSocket);
            ASSERT_TRUE(sendText(client, c.sent));
            ASSERT_TRUE(awaitBorrowed(clientSocket));
        } else {
            ASSERT_TRUE(awaitBorrowed(listenSocket));
        }
        // The window thread's stop: client first, then the listener.
        closeClientSocket();
        closeListenSocket();
        const Session& s = server.finish();
        EXPECT_EQ(s.opened, c.expectOpened);
        EXPECT_TRUE(s.commands.empty());
        EXPECT_FALSE(socketSlotOpen(listenSocket));
        EXPECT_FALSE(socketSlotOpen(clientSocket));
        if (client != noSocket) {
            bool closed = false;
            receiveUntilClosed(client, &closed);
            EXPECT_TRUE(closed);
            closeClient(client);
        }
    }
}

TEST_F(LanServer, StopRacingWithConnectsNeverHangsOrLeaks) {
    // Stopping at arbitrary moments of open, accept and handshake, the way the
    // window thread does: every session must end, and no socket may stay behind.
    settings.webSocketEnabled = 1;
    const int before = openHandleCount();
    for (int round = 0; round < 40; ++round) {
        stopRequested = false;
        ServerThread server;
        std::atomic<bool> stop{false};
        std::thread connector([&] {
            NativeSocket client = connectLoopback(port, Bound(300));
            if (client == noSocket) return;
            sendText(client, "GET / HTTP/1.1\r\nSec-WebSocket-Key: k\r\n\r\n");
            while (!stop.load())
                std::this_thread::yield();
            closeClient(client);
        });
        for (int spin = 0; spin < round * 50; ++spin)
            std::this_thread::yield();
        stopRequested = true;
        closeClientSocket();
        closeListenSocket();
        server.finish();
        stop = true;
        connector.join();
    }
    EXPECT_FALSE(socketSlotOpen(listenSocket));
    EXPECT_FALSE(socketSlotOpen(clientSocket));
    EXPECT_EQ(openHandleCount(), before);
}

TEST_F(LanServer, WebSocketExchangeWithFrameRightBehindTheHead) {
    settings.webSocketEnabled = 1;
    ServerThread server;
    NativeSocket client = connectLoopback(port);
    ASSERT_NE(client, noSocket);
    // The opening handshake of RFC 6455 section 1.3, and a frame in the same segment.
    ASSERT_TRUE(sendText(client, "GET /chat HTTP/1.1\r\nHost: server.example.com\r\n"
                                 "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                 "Origin: http://example.com\r\n"
                                 "Sec-WebSocket-Protocol: chat, superchat\r\n"
                                 "Sec-WebSocket-Version: 13\r\n\r\n" +
                                     clientFrame("D", someMask)));
    const std::string head = handshakeReplyWith("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(receiveCount(client, head.size()), head);
    const std::string frame = receiveCount(client, 94);
    ASSERT_EQ(frame.size(), 94u);
    EXPECT_EQ(static_cast<unsigned char>(frame[0]), 0x81);
    EXPECT_EQ(frame[1], 92);
    char json[replyTextSize];
    formatJsonReply(json, sizeof json, motion, buttons);
    EXPECT_EQ(frame.substr(2), json);
    // A binary frame and a frame of another letter: one reply, one dropped.
    std::string binary = clientFrame("D", someMask);
    binary[0] = static_cast<char>(0x82);
    ASSERT_TRUE(sendText(client, binary + clientFrame("d", someMask)));
    EXPECT_EQ(receiveCount(client, 94), frame);
    EXPECT_EQ(drain(client), "");
    EXPECT_EQ(server.finish().commands, (std::vector<int>{'D', 'D', 'd'}));
}

TEST_F(LanServer, WebSocketHeadVariants) {
    settings.webSocketEnabled = 1;
    const auto accept = [](const char* key) {
        char value[acceptValueSize];
        computeAcceptKey(key, value);
        return std::string(value);
    };
    const std::string badRequest =
        "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    struct Case {
        const char* name;
        std::vector<std::string> pieces; // sent one after the other
        std::string expected;            // the whole reply, "" for none
    };
    const Case cases[] = {
        // A blank line of bare LF ends the head, and the key ends at its
        // line's LF.
        {"bare LF",
         {"GET / HTTP/1.1\nSec-WebSocket-Key: abc\n\n"},
         handshakeReplyWith(accept("abc").c_str())},
        // Proxies and HTTP/2 gateways write header names in lower case.
        {"lower-case name",
         {"GET / HTTP/1.1\r\nsec-websocket-key: abc\r\n\r\n"},
         handshakeReplyWith(accept("abc").c_str())},
        {"key of 92",
         {"GET / HTTP/1.1\r\nSec-WebSocket-Key: " + std::string(92, 'k') + "\r\n\r\n"},
         badRequest},
        // A head without a key is refused and closed; so is one whose only
        // key is in the request line, and a frame behind it is never read.
        {"no key", {"GET / HTTP/1.1\r\nHost: x\r\n\r\n"}, badRequest},
        {"key in the request line",
         {"GET /?Sec-WebSocket-Key:EVIL HTTP/1.1\r\nHost: x\r\n\r\n" + clientFrame("D", someMask)},
         badRequest},
        // Browsers put the key after their cookies.
        {"head of 8192 bytes",
         {"GET / HTTP/1.1\r\nCookie: " + std::string(8140, 'c') +
          "\r\nSec-WebSocket-Key: abc\r\n\r\n"},
         handshakeReplyWith("zwKd5BnoWxQ6GxTxxSmBSHGHX9M=")},
        // Too long a head gets a status, not a reset, even with its end unread.
        {"head over 8192 bytes",
         {"GET / HTTP/1.1\r\nX: " + std::string(8200, 'x') + "\r\n\r\n"},
         "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n"
         "Content-Length: 0\r\n\r\n"},
        {"closed mid-head", {"GET / HTTP/1.1\r\nSec-WebSocket-Key: abc\r\n"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServerThread server;
        NativeSocket client = connectLoopback(port);
        ASSERT_NE(client, noSocket);
        for (const std::string& piece : c.pieces)
            ASSERT_TRUE(sendText(client, piece));
        if (!c.expected.empty()) {
            EXPECT_EQ(receiveCount(client, c.expected.size()), c.expected);
        }
        EXPECT_EQ(drain(client), "");
        const Session& s = server.finish();
        EXPECT_TRUE(s.opened);
        EXPECT_TRUE(s.commands.empty());
    }
}

// The handshake of a client with key "abc", answered.
bool greeted(NativeSocket client) {
    char accept[acceptValueSize];
    computeAcceptKey("abc", accept);
    const std::string head = handshakeReplyWith(accept);
    return sendText(client, "GET / HTTP/1.1\r\nSec-WebSocket-Key: abc\r\n\r\n") &&
           receiveCount(client, head.size()) == head;
}

TEST_F(LanServer, WebSocketMessagesOfAnyShapeStayInStep) {
    settings.webSocketEnabled = 1;
    ServerThread server;
    NativeSocket client = connectLoopback(port);
    ASSERT_NE(client, noSocket);
    ASSERT_TRUE(greeted(client));
    const unsigned char other[4] = {1, 2, 3, 4};
    const std::string reply = replyFrame();
    ASSERT_TRUE(sendText(client, clientFrame("DD", someMask)));
    EXPECT_EQ(receiveCount(client, 94), reply);
    // A fragmented message with a ping between its fragments: the pong comes
    // at once, the reply when the message is complete.
    ASSERT_TRUE(sendText(client, clientFrame("D", someMask, 0x01) +
                                     clientFrame("are you there", other, 0x89) +
                                     clientFrame("rest", other, 0x80)));
    EXPECT_EQ(receiveCount(client, 15 + 94), std::string("\x8A\x0D") + "are you there" + reply);
    // 16-bit and 64-bit lengths, then the 7-byte frames.
    ASSERT_TRUE(sendText(client, clientFrame("D" + std::string(299, 'x'), other) +
                                     clientFrame("D" + std::string(65535, 'x'), someMask, 0x82) +
                                     clientFrame("D", someMask) + clientFrame("D", other)));
    EXPECT_EQ(receiveCount(client, 4 * 94), reply + reply + reply + reply);
    // A normal close is echoed and ends the connection.
    ASSERT_TRUE(sendText(client, clientFrame("\x03\xe8", other, 0x88)));
    bool closed = false;
    EXPECT_EQ(receiveUntilClosed(client, &closed), "\x88\x02\x03\xe8");
    EXPECT_TRUE(closed);
    closeClient(client);
    EXPECT_EQ(server.finish().commands, std::vector<int>(6, 'D'));
}

TEST_F(LanServer, DialectIsTakenOncePerConnection) {
    // The settings dialog may change the switch between two requests: the
    // connection keeps the dialect it was accepted with.
    for (int webSocket = 0; webSocket < 2; ++webSocket) {
        settings.webSocketEnabled = webSocket;
        ServerThread server;
        NativeSocket client = connectLoopback(port);
        ASSERT_NE(client, noSocket);
        const std::string request = webSocket ? clientFrame("D", someMask) : "D";
        const std::string reply = webSocket ? replyFrame() : plainReply();
        if (webSocket) {
            ASSERT_TRUE(greeted(client));
        }
        ASSERT_TRUE(sendText(client, request));
        EXPECT_EQ(receiveCount(client, reply.size()), reply);
        settings.webSocketEnabled = 1 - webSocket;
        ASSERT_TRUE(sendText(client, request));
        EXPECT_EQ(receiveCount(client, reply.size()), reply);
        EXPECT_EQ(drain(client), "");
        EXPECT_EQ(server.finish().replies, 2);
    }
}

TEST_F(LanServer, PortWhoseLow16BitsAreZeroOpensNothing) {
    const int before = openHandleCount();
    for (int32_t lanPort : {0, 65536, 131072}) {
        settings.lanPort = lanPort;
        ServerThread server; // would wait in accept on a port the system picked
        EXPECT_FALSE(server.finish().opened);
    }
    EXPECT_EQ(openHandleCount(), before);
}

namespace {

// Connects to host:port, waiting (bounded) while the server does not listen
// yet; noSocket when it never does.
NativeSocket connectWhenListening(const char* host, uint16_t port) {
    const std::string service = std::to_string(port);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        NativeSocket socket = noSocket;
        if (connectClient(host, service.c_str(), &socket) ||
            std::chrono::steady_clock::now() > deadline)
            return socket;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Whether host:port refuses a connection at once (nothing listens there).
bool refused(const char* host, uint16_t port) {
    const std::string service = std::to_string(port);
    NativeSocket socket = noSocket;
    if (!connectClient(host, service.c_str(), &socket)) return true;
    closeClient(socket);
    return false;
}

#ifndef _WIN32
// An IPv4 address of this machine that is not loopback, "" when it has none.
std::string otherAddressOfThisMachine() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "";
    std::string found;
    for (ifaddrs* a = list; a != nullptr && found.empty(); a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET ||
            (a->ifa_flags & IFF_UP) == 0 || (a->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        char text[INET_ADDRSTRLEN];
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text) != nullptr) found = text;
    }
    freeifaddrs(list);
    return found;
}
#endif

} // namespace

TEST_F(LanServer, LanAddressKeepsTheServerToIt) {
    struct Case {
        const char* lanAddress;
        const char* served; // where the client connects
        std::vector<std::string> refusedAt;
    };
    std::vector<Case> cases = {{"localhost", "127.0.0.1", {}}, {"::1", "::1", {"127.0.0.1"}}};
#ifdef __linux__
    // Every 127.x address is this machine's own on Linux: another address
    // that needs no network at all.
    cases.push_back({"127.0.0.1", "127.0.0.1", {"127.0.0.2"}});
    cases.push_back({"", "127.0.0.2", {}}); // the default: every address, as always
#endif
#ifndef _WIN32
    const std::string other = otherAddressOfThisMachine();
    if (!other.empty()) {
        cases.push_back({"127.0.0.1", "127.0.0.1", {other}});
        cases.push_back({"", other.c_str(), {}});
    }
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("lanAddress=") + c.lanAddress + ", client at " + c.served);
        setLanAddress(c.lanAddress);
        if (std::strcmp(c.lanAddress, "::1") == 0) {
            ListenAddress v6;
            ASSERT_TRUE(parseListenAddress("::1", &v6, nullptr));
            NativeSocket probe = noSocket;
            if (!openListener(0, &probe, v6)) continue; // no IPv6 on this machine
            closeNativeSocket(probe);
        }
        ServerThread server;
        NativeSocket client = connectWhenListening(c.served, port);
        ASSERT_NE(client, noSocket);
        for (const std::string& elsewhere : c.refusedAt)
            EXPECT_TRUE(refused(elsewhere.c_str(), port)) << elsewhere;
        ASSERT_TRUE(sendText(client, "D"));
        EXPECT_EQ(receiveCount(client, 72), plainReply());
        drain(client);
        EXPECT_EQ(server.finish().replies, 1);
    }
    // A value the reader would never have stored opens nothing.
    const int before = openHandleCount();
    setLanAddress("no.such.address");
    ServerThread server;
    EXPECT_FALSE(server.finish().opened);
    EXPECT_EQ(openHandleCount(), before);
}

TEST_F(LanServer, WebSocketOriginsLetInOnlyListedPages) {
    settings.webSocketEnabled = 1;
    char accept[acceptValueSize];
    computeAcceptKey("abc", accept);
    const std::string upgraded = handshakeReplyWith(accept);
    const std::string forbidden = forbiddenOriginReply;
    struct Case {
        const char* origins;
        std::string headers; // after the key line
        bool served;
    };
    const Case cases[] = {
        {"", "Origin: https://evil.example\r\n", true}, // the default: no check
        {"null, http://localhost:8000", "Origin: null\r\n", true},
        {"null, http://localhost:8000", "origin:HTTP://LocalHost:8000 \r\n", true},
        {"null, http://localhost:8000", "", true}, // a program, not a browser
        {"null, http://localhost:8000", "Origin: https://evil.example\r\n", false},
        {"null, http://localhost:8000", "Origin: http://localhost:8001\r\n", false},
        {"http://localhost:8000", "Origin: null\r\n", false},
        // A second Origin cannot slip past a first one that is listed.
        {"null", "Origin: null\r\nOrigin: https://evil.example\r\n", false},
        {"null", "Origin-Note: x\r\n", true}, // another header
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.origins) + " | " + c.headers);
        setWebSocketOrigins(c.origins);
        ServerThread server;
        NativeSocket client = connectLoopback(port);
        ASSERT_NE(client, noSocket);
        ASSERT_TRUE(sendText(client, "GET / HTTP/1.1\r\nSec-WebSocket-Key: abc\r\n" + c.headers +
                                         "\r\n" + clientFrame("D", someMask)));
        const std::string& expected = c.served ? upgraded : forbidden;
        EXPECT_EQ(receiveCount(client, expected.size()), expected);
        if (c.served) {
            EXPECT_EQ(receiveCount(client, replyFrame().size()), replyFrame());
        }
        drain(client);
        // A refused page is closed before any request is read.
        EXPECT_EQ(server.finish().commands.size(), c.served ? 1u : 0u);
    }
}

// What a failed listener names in its reason: the address as people write it.
TEST(ListenAddressText, IsWrittenAsPeopleWriteIt) {
    struct Case {
        const char* setting;
        const char* shown;
    } cases[] = {{"", "0.0.0.0:8096"},
                 {"localhost", "127.0.0.1:8096"},
                 {"192.168.1.20", "192.168.1.20:8096"},
                 {"::", "[::]:8096"},
                 {"::1", "[::1]:8096"},
                 {"fe80::1:2", "[fe80::1:2]:8096"},
                 {"2001:db8:0:0:1:0:0:1", "[2001:db8::1:0:0:1]:8096"},
                 {"1:0:2:0:3:0:4:0", "[1:0:2:0:3:0:4:0]:8096"},
                 {"1:2:3:4:5:6:7:0", "[1:2:3:4:5:6:7:0]:8096"},
                 {"0:0:1::", "[0:0:1::]:8096"}};
    for (const Case& c : cases) {
        ListenAddress address;
        ASSERT_TRUE(parseListenAddress(c.setting, &address, nullptr)) << c.setting;
        char text[64];
        TextBuilder out(text, sizeof text);
        appendListenAddress(out, address, 8096);
        EXPECT_STREQ(text, c.shown) << c.setting;
    }
}
