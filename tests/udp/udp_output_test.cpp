// The UDP output's notes across restarts (the end-to-end test runs one cycle
// per bridge): each thing said once per change, a closed port counted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "output/udp/udp_output.h"

namespace {

std::vector<std::string> notes;

void keepNote(const char* line) {
    notes.push_back(line);
}

// A loopback UDP port that was free a moment ago (nobody listens there now).
std::string closedTarget() {
    const auto s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
#ifdef _WIN32
    closesocket(s);
#else
    close(s);
#endif
    return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

TEST(UdpOutput, SaysEachThingOncePerChange) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    setUdpNoteListener(keepNote);
    const MotionOutput motion{{1, 2, 3}, {0, 0, 0, 1}};
    const ButtonState buttons{{0, 1, 0, 0, 0}};

    EXPECT_FALSE(openUdpOutput("", UdpFormat::opentrack));
    sendUdpOutput(motion, buttons);
    EXPECT_EQ(udpOutputCounts().sent + udpOutputCounts().failed, 0u);
    EXPECT_TRUE(notes.empty());

    for (int restart = 0; restart < 3; ++restart)
        EXPECT_FALSE(openUdpOutput("no-such-host.invalid:4242", UdpFormat::opentrack));
    EXPECT_EQ(notes.size(), 1u);

    // A closed port: the run of failures goes on across restarts.
    const std::string target = closedTarget();
    for (int restart = 0; restart < 3; ++restart) {
        ASSERT_TRUE(openUdpOutput(target.c_str(), UdpFormat::opentrack));
        for (int i = 0; i < 20; ++i)
            sendUdpOutput(motion, buttons);
    }
    EXPECT_EQ(udpOutputCounts().sent + udpOutputCounts().failed, 60u);
#ifndef _WIN32
    // Linux reports each port unreachable on the next send, which does not go
    // out either: nothing reached the closed port, so nothing counts as sent.
    EXPECT_GE(udpOutputCounts().failed, 57u);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_NE(notes[2].find("cannot send to " + target), std::string::npos);
#endif
    EXPECT_LE(notes.size(), 3u);

    // Another format to the same target is said.
    const size_t said = notes.size();
    ASSERT_TRUE(openUdpOutput(target.c_str(), UdpFormat::osc));
    EXPECT_EQ(notes.size(), said + 1);
    EXPECT_NE(notes.back().find("OSC /tolvane/motion to " + target), std::string::npos);
    closeUdpOutput();
    EXPECT_FALSE(udpOutputOpen());
}

} // namespace
