// tolvane-config check: what the bridge would make of the settings, one try
// of the serial port and of the LAN port, all of it within 80 columns.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/xvfb_server.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out;
};

Outcome config(const std::string& folder, const std::vector<std::string>& args) {
    std::vector<std::string> argv{TOLVANE_CONFIG};
    argv.insert(argv.end(), args.begin(), args.end());
    Outcome run;
    Child child;
    if (!child.start(argv, folder, folder + "/config.err")) return run;
    std::string line;
    while (child.readLine(&line))
        run.out += line + "\n";
    run.status = child.waitExit();
    return run;
}

// The output as one line, so that sentences broken for the console match.
std::string joined(const std::string& out) {
    std::string text;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t start = line.find_first_not_of(' ');
        text += (text.empty() ? "" : " ") + line.substr(start == std::string::npos ? 0 : start);
    }
    return text;
}

// Every line within 79 columns, but a word (a long path) that is longer.
void expectWithinConsole(const std::string& out) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t start = line.find_first_not_of(' ');
        const bool oneWord = line.find(' ', start) == std::string::npos;
        EXPECT_TRUE(line.size() <= 79u || oneWord) << line;
    }
}

// A pseudo-terminal's far end stands for the device's port.
struct Terminal {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    std::string path() const {
        return master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : "";
    }
    ~Terminal() {
        if (master >= 0) close(master);
    }
};

// A listening socket on a port the system picked, or a closed one (port
// free, most likely) after release.
struct Listener {
    int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    Listener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof address;
        if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(socket, 1) == 0 &&
            getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
    }
    void release() {
        close(socket);
        socket = -1;
    }
    ~Listener() {
        if (socket >= 0) close(socket);
    }
};

TEST(ConfigCheck, NoFileAndNoPortSayWhatTheBridgeWouldDoAndWhy) {
    const std::string folder = scratchFolder("config_check_missing");
    const Outcome run = config(folder, {"check"});
    EXPECT_EQ(run.status, 1);
    const std::string text = joined(run.out);
    EXPECT_NE(text.find("no settings file " + folder + "/tolv.conf: the defaults apply"),
              std::string::npos)
        << run.out;
    EXPECT_NE(text.find("settings in effect: comPort=COM19 "), std::string::npos) << run.out;
    EXPECT_NE(text.find("cannot open the serial port /dev/COM19: No such file"), std::string::npos)
        << run.out;
    EXPECT_NE(text.find("LAN server: off with these settings"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("tolvane-headless"), std::string::npos) << run.out;
    expectWithinConsole(run.out);
}

TEST(ConfigCheck, PresentPortAndTakenOrFreeLanPort) {
    const std::string folder = scratchFolder("config_check_ports");
    Terminal terminal;
    Listener taken;
    ASSERT_FALSE(terminal.path().empty());
    ASSERT_NE(taken.port, 0);
    ASSERT_EQ(config(folder, {"set", "comPort=" + terminal.path(), "deviceMode=C", "lanEnabled=1",
                              "lanPort=" + std::to_string(taken.port)})
                  .status,
              0);

    Outcome run = config(folder, {"check"});
    EXPECT_EQ(run.status, 1);
    std::string text = joined(run.out);
    EXPECT_NE(text.find("settings read from " + folder + "/tolv.conf"), std::string::npos);
    EXPECT_NE(text.find("the serial port " + terminal.path() + " opens"), std::string::npos)
        << run.out;
    EXPECT_NE(
        text.find("LAN server: port " + std::to_string(taken.port) + " cannot be listened on"),
        std::string::npos)
        << run.out;
    expectWithinConsole(run.out);

    taken.release();
    run = config(folder, {"check"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(joined(run.out).find(" is free: the bridge can listen on 0.0.0.0:" +
                                   std::to_string(taken.port)),
              std::string::npos)
        << run.out;

    // What it listens on with lanAddress, and an address that is not here.
    const struct {
        const char* address;
        int status;
        std::string said;
    } addresses[] = {
        {"localhost", 0,
         "can listen on 127.0.0.1:" + std::to_string(taken.port) +
             " (lanAddress): loopback, for programs on this machine only"},
        {"203.0.113.77", 1, "lanAddress 203.0.113.77 is no address of this machine"},
    };
    for (const auto& a : addresses) {
        ASSERT_EQ(config(folder, {"set", std::string("lanAddress=") + a.address}).status, 0);
        run = config(folder, {"check"});
        EXPECT_EQ(run.status, a.status) << run.out;
        EXPECT_NE(joined(run.out).find(a.said), std::string::npos) << run.out;
    }
}

// A UDP receiver on loopback, or (closed) a port where nothing receives.
struct Receiver {
    int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    int port = 0;
    Receiver() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
    }
    ~Receiver() {
        if (socket >= 0) close(socket);
    }
};

TEST(ConfigCheck, TheUdpTargetIsLookedUpAndTried) {
    const std::string folder = scratchFolder("config_check_udp");
    Terminal terminal;
    ASSERT_FALSE(terminal.path().empty());
    Receiver listening, closed;
    ASSERT_NE(listening.port, 0);
    ASSERT_NE(closed.port, 0);
    const std::string open = "127.0.0.1:" + std::to_string(listening.port);
    const std::string refused = "127.0.0.1:" + std::to_string(closed.port);
    close(closed.socket);
    closed.socket = -1;
    struct Case {
        std::string target;
        int status;
        std::string says;
    } cases[] = {
        {"no-such-host.invalid:4242", 1, "UDP output: cannot resolve 'no-such-host.invalid': "},
        {open, 0, "UDP output: udpTarget " + open + " resolves and a datagram can be sent to it"},
        {refused, 0,
         "UDP output: udpTarget " + refused + " resolves, but a datagram to it was refused "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        ASSERT_EQ(
            config(folder, {"set", "comPort=" + terminal.path(), "udpTarget=" + c.target}).status,
            0);
        const Outcome run = config(folder, {"check"});
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_NE(joined(run.out).find(c.says), std::string::npos) << run.out;
        expectWithinConsole(run.out);
    }
    // The receiver got the empty datagrams, and nothing else.
    char datagram[16];
    EXPECT_EQ(recv(listening.socket, datagram, sizeof datagram, MSG_DONTWAIT), 0);
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A UDP socket bound on loopback: a DSU port that is taken.
struct TakenUdpPort {
    int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    int port = 0;
    TakenUdpPort() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
    }
    ~TakenUdpPort() {
        if (socket >= 0) close(socket);
    }
};

// Where the servers would listen, as set and check say it: every address,
// addresses of many machines (refused by set), an address that is not here,
// a DSU port in use, and a monitor that is not present (on an Xvfb of one).
TEST(ConfigCheck, AddressesAndMonitorsAsSetAndCheckSayThem) {
    const std::string folder = scratchFolder("config_check_addresses");
    Terminal terminal;
    Listener lan;
    TakenUdpPort dsu, released;
    ASSERT_FALSE(terminal.path().empty());
    ASSERT_NE(dsu.port, 0);
    ASSERT_NE(released.port, 0);
    close(released.socket);
    released.socket = -1;
    const std::string freePort = std::to_string(released.port);
    lan.release();
    const std::string lanPort = std::to_string(lan.port);
    ASSERT_EQ(config(folder, {"set", "comPort=" + terminal.path(), "lanPort=" + lanPort}).status,
              0);
    XvfbServer xvfb;
    const bool display = xvfbInstalled() && startXvfb(&xvfb, 1024, 768);
    const struct {
        std::vector<std::string> set;
        int setStatus;
        std::string setSays; // on standard error
        int checkStatus;
        std::string checkSays;
    } cases[] = {
        {{"lanAddress=0.0.0.0"},
         0,
         "",
         0,
         "listen on 0.0.0.0:" + lanPort + " (lanAddress): on every IPv4 address of this machine"},
        {{"lanAddress=::"},
         0,
         "",
         0,
         "listen on [::]:" + lanPort + " (lanAddress): on every IPv6 and IPv4 address"},
        {{"lanAddress=255.255.255.255"},
         2,
         "lanAddress: '255.255.255.255' is the broadcast "
         "address: it names every machine of the network",
         0,
         ""},
        {{"lanAddress=224.0.0.1"}, 2, "lanAddress: '224.0.0.1' is a multicast address", 0, ""},
        {{"dsuAddress=255.255.255.255"},
         2,
         "dsuAddress: '255.255.255.255' is the broadcast",
         0,
         ""},
        {{"dsuAddress=224.0.0.1"}, 2, "dsuAddress: '224.0.0.1' is a multicast address", 0, ""},
        {{"dsuServer=on", "dsuAddress=0.0.0.0", "dsuPort=" + freePort},
         0,
         "",
         0,
         "DSU server: UDP port " + freePort + " is free: the bridge can listen on 0.0.0.0:" +
             freePort + " (dsuAddress: every address;"},
        {{"dsuAddress=203.0.113.77"},
         0,
         "",
         1,
         "DSU server: dsuAddress 203.0.113.77 is no address of this machine"},
        {{"dsuAddress=127.0.0.1", "dsuPort=" + std::to_string(dsu.port)},
         0,
         "",
         1,
         "DSU server: UDP port " + std::to_string(dsu.port) + " on 127.0.0.1 is taken"},
        {{"dsuServer=off"},
         0,
         "",
         0,
         "DSU server: off with these settings (dsuServer=on starts it); UDP port " +
             std::to_string(dsu.port) + " on 127.0.0.1 is taken"},
        {{"mouseScreen=3"},
         0,
         display ? "mouseScreen=3, but only 1 monitor is present now" : "",
         0,
         display ? "air mouse: mouseScreen=3, but only 1 monitor is present now" : ""},
        {{"mouseScreen=1"}, 0, "", 0, ""},
    };
    if (display) setenv("DISPLAY", xvfb.display, 1);
    unsetenv("WAYLAND_DISPLAY");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set[0]);
        std::vector<std::string> args{"set"};
        args.insert(args.end(), c.set.begin(), c.set.end());
        Outcome run = config(folder, args);
        EXPECT_EQ(run.status, c.setStatus) << fileText(folder + "/config.err");
        const std::string said = joined(fileText(folder + "/config.err"));
        EXPECT_NE(said.find(c.setSays), std::string::npos) << said;
        if (c.setSays.empty()) {
            EXPECT_EQ(said.find("mouseScreen"), std::string::npos) << said;
        }
        run = config(folder, {"check"});
        EXPECT_EQ(run.status, c.checkStatus) << run.out;
        EXPECT_NE(joined(run.out).find(c.checkSays), std::string::npos) << run.out;
        if (c.checkSays.empty()) {
            EXPECT_EQ(run.out.find("air mouse: mouseScreen"), std::string::npos) << run.out;
        }
        expectWithinConsole(run.out);
    }
    unsetenv("DISPLAY");
    if (display) stopXvfb(&xvfb);
    if (!display) GTEST_SKIP() << "no Xvfb: the monitor cases were not tried";
}

} // namespace
