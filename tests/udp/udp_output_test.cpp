// The UDP output against a receiver on loopback: one datagram per send, off
// without a target, and failures that are counted and said once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using Receiver = SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using Receiver = int;
#endif

#include "output/udp/udp_output.h"

namespace {

std::vector<std::string> notes;

void keepNote(const char* line) {
    notes.push_back(line);
}

// A UDP socket on a free loopback port.
struct Peer {
    Receiver socket;
    int port = 0;
    Peer() {
        socket = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t size = sizeof address;
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~Peer() { close(); }
    void close() {
#ifdef _WIN32
        closesocket(socket);
#else
        ::close(socket);
#endif
    }
    std::string target() const {
        return "127.0.0.1:" + std::to_string(port);
    }
    // The next datagram, or empty after two seconds without one.
    std::string receive() {
#ifdef _WIN32
        DWORD timeout = 2000;
        setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof timeout);
#else
        pollfd ready{socket, POLLIN, 0};
        if (poll(&ready, 1, 2000) != 1) return {};
#endif
        char data[200];
        const int got = static_cast<int>(recv(socket, data, sizeof data, 0));
        return got > 0 ? std::string(data, static_cast<size_t>(got)) : std::string();
    }
};

class UdpOutput : public testing::Test {
  protected:
    static void SetUpTestSuite() {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        setUdpNoteListener(keepNote);
    }
    void SetUp() override {
        notes.clear();
    }
    void TearDown() override {
        closeUdpOutput();
    }

    MotionOutput motion{{1, 2, 3}, {0, 0, 0, 1}};
    ButtonState buttons{{0, 1, 0, 0, 0}};
};

TEST_F(UdpOutput, OneDatagramPerSampleInEitherFormat) {
    Peer peer;
    ASSERT_TRUE(openUdpOutput(peer.target().c_str(), UdpFormat::opentrack));
    EXPECT_TRUE(udpOutputOpen());
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("opentrack poses to " + peer.target()), std::string::npos);
    const UdpOutputCounts before = udpOutputCounts();
    for (int i = 0; i < 3; ++i)
        sendUdpOutput(motion, buttons);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(peer.receive().size(), 48u);
    EXPECT_EQ(udpOutputCounts().sent, before.sent + 3);

    // A restart to the same target says nothing new; a new format is said.
    ASSERT_TRUE(openUdpOutput(peer.target().c_str(), UdpFormat::opentrack));
    EXPECT_EQ(notes.size(), 1u);
    ASSERT_TRUE(openUdpOutput(peer.target().c_str(), UdpFormat::osc));
    EXPECT_EQ(notes.size(), 2u);
    sendUdpOutput(motion, buttons);
    const std::string osc = peer.receive();
    ASSERT_EQ(osc.size(), 80u);
    EXPECT_EQ(osc.substr(0, 15), "/tolvane/motion");
}

TEST_F(UdpOutput, OffWithoutATargetOrWithAnUnusableOne) {
    EXPECT_FALSE(openUdpOutput("", UdpFormat::opentrack));
    EXPECT_FALSE(udpOutputOpen());
    EXPECT_TRUE(notes.empty());
    const UdpOutputCounts before = udpOutputCounts();
    sendUdpOutput(motion, buttons);
    EXPECT_EQ(udpOutputCounts().sent, before.sent);

    // Each problem once, however many restarts try again.
    for (int restart = 0; restart < 3; ++restart)
        EXPECT_FALSE(openUdpOutput("no-such-host.invalid:4242", UdpFormat::opentrack));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("cannot resolve 'no-such-host.invalid'"), std::string::npos);
    EXPECT_FALSE(openUdpOutput("127.0.0.1", UdpFormat::osc));
    EXPECT_FALSE(openUdpOutput("127.0.0.1", UdpFormat::osc));
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[1].find("not HOST:PORT"), std::string::npos);
    EXPECT_FALSE(udpOutputOpen());
}

TEST_F(UdpOutput, AClosedPortIsCountedAndSaidOnce) {
    Peer peer;
    const std::string target = peer.target();
    peer.close();
    ASSERT_TRUE(openUdpOutput(target.c_str(), UdpFormat::opentrack));
    const UdpOutputCounts before = udpOutputCounts();
    for (int i = 0; i < 40; ++i)
        sendUdpOutput(motion, buttons);
    const UdpOutputCounts after = udpOutputCounts();
    EXPECT_EQ(after.sent + after.failed, before.sent + before.failed + 40);
#ifndef _WIN32
    // Linux reports the port unreachable of one datagram on the next send.
    EXPECT_GE(after.failed - before.failed, 10u);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[1].find("cannot send to " + target), std::string::npos);
#endif
    EXPECT_LE(notes.size(), 2u);
}

} // namespace
