// The OSC encoder against liblo: the same bytes as liblo's own message (the
// gateway's OSC output before it used this encoder), and oscdump reads what
// it sends.
#include <gtest/gtest.h>
#include <lo/lo.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "output/udp/osc_message.h"
#include "tests/support/child_process.h"

namespace {

struct Values {
    float numbers[7];
    int32_t buttons[5];
};

const Values cases[] = {
    {{0, 0, -0.0f, 0, 0, 0, 1}, {0, 0, 0, 0, 0}},
    {{12.5f, -89.999f, 179.0f, 0.70711f, -0.5f, 0.25f, -0.00001f}, {1, 0, 1, 0, 1}},
    {{1e30f, -1e-30f, std::numeric_limits<float>::infinity(), 0.1f, 0.2f, 0.3f, 0.4f},
     {-1, 2147483647, -2147483647 - 1, 9, 255}},
};

TEST(OscInterop, SameBytesAsLiblo) {
    for (const Values& v : cases) {
        lo_message message = lo_message_new();
        for (float number : v.numbers)
            lo_message_add_float(message, number);
        for (int32_t button : v.buttons)
            lo_message_add_int32(message, button);
        unsigned char theirs[200];
        size_t theirSize = sizeof theirs;
        ASSERT_NE(lo_message_serialise(message, oscMotionAddress, theirs, &theirSize), nullptr);
        lo_message_free(message);

        unsigned char ours[200];
        const size_t ourSize = encodeOscMotion(v.numbers, v.buttons, ours, sizeof ours);
        ASSERT_EQ(ourSize, theirSize);
        EXPECT_EQ(std::memcmp(ours, theirs, ourSize), 0);
    }
}

int freeUdpPort() {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    close(s);
    return ntohs(address.sin_port);
}

TEST(OscInterop, OscdumpReadsTheMessage) {
    if (access("/usr/bin/oscdump", X_OK) != 0) GTEST_SKIP() << "oscdump (liblo-tools) missing";
    const std::string folder = scratchFolder("osc_interop");
    const int port = freeUdpPort();
    Child dump;
    ASSERT_TRUE(dump.start({"/usr/bin/oscdump", "-L", std::to_string(port)}, folder,
                           folder + "/oscdump.err"));
    const Values& v = cases[1];
    unsigned char datagram[oscMotionSize];
    ASSERT_EQ(encodeOscMotion(v.numbers, v.buttons, datagram, sizeof datagram), oscMotionSize);

    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    // oscdump says nothing once it listens: send until it prints (bounded).
    std::string line;
    for (int attempt = 0; attempt < 50 && line.empty(); ++attempt) {
        sendto(s, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        dump.readLine(&line, Bound(200));
    }
    close(s);
    ASSERT_FALSE(line.empty()) << dump.errors();
    // "<time tag> /tolvane/motion fffffffiiiii <values>"
    const size_t path = line.find(' ');
    ASSERT_NE(path, std::string::npos);
    EXPECT_EQ(line.substr(path + 1), "/tolvane/motion fffffffiiiii 12.500000 -89.999001 "
                                     "179.000000 0.707110 -0.500000 0.250000 -0.000010 "
                                     "1 0 1 0 1");
}

} // namespace
