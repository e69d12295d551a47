// The headless bridge as a person or a service manager starts it: its options,
// the notes on standard error, and standard streams that are closed or that
// nobody reads. Standard output must stay exactly the event log throughout.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/pty_device.h"

namespace {

// Eleven bare lines; LAN on with preset C unless the test says otherwise.
std::string confText(const std::string& port, int lanPort, int mode = 0, int lan = 1,
                     const std::string& mouseAveraging = "32", const std::string& mouse = "0") {
    return port + "\n1.000000\n4\n" + mouseAveraging + "\n1\n" + std::to_string(lanPort) + "\n" +
           mouse + "\n" + std::to_string(mode) + "\n" + std::to_string(lan) + "\n0\n0\n";
}

struct Folder {
    std::string path = scratchFolder("headless");
    ~Folder() {
        if (!::testing::Test::HasFailure()) std::filesystem::remove_all(path);
    }
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Ctrl+C: status 0 at once, whatever the streams do, and no sanitizer report.
void interrupt(Child& bridge) {
    bridge.signal(SIGINT);
    EXPECT_EQ(bridge.waitExit(), 0) << bridge.errors();
    EXPECT_EQ(bridge.errors().find("Sanitizer"), std::string::npos) << bridge.errors();
}

// The rest of standard output after the bridge ended: event-log lines only.
void expectOnlyLogLines(Child& bridge, const std::string& first) {
    std::string line;
    while (bridge.readLine(&line))
        EXPECT_EQ(line, first) << "not an event-log line of this run";
}

// What the bridge's descriptor fd refers to.
std::string targetOf(pid_t pid, int fd) {
    std::error_code error;
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    return std::filesystem::read_symlink(link, error).string();
}

struct Environment : ::testing::Environment {
    // No display: the air mouse stays out of these runs.
    void SetUp() override {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new Environment);

// A simulator on a pseudo-terminal and a bridge serving plain requests.
struct Session {
    Folder folder;
    Child devsim;
    Child bridge;
    int lanPort = freePort();

    bool start(const ChildSetup& setup) {
        if (!devsim.start({TOLVANE_DEVSIM}, folder.path, folder.path + "/devsim.err")) return false;
        std::string port;
        if (!devsim.readLine(&port)) return false;
        writeFile(folder.path + "/tolv.conf", confText(port, lanPort));
        return bridge.start({TOLVANE_HEADLESS}, folder.path, folder.path + "/headless.err", setup);
    }
    // One client cycle: connects, gets `requests` replies, leaves. Right after
    // a cycle the old listener may still take a connection into its backlog
    // and then close it in the restart: such a connection is tried again.
    void serve(int requests) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool served = false;
        while (!served && std::chrono::steady_clock::now() < deadline) {
            Client client;
            ASSERT_TRUE(client.connectTo(lanPort, Bound(20000)));
            std::string reply;
            served = true;
            for (int i = 0; i < requests && served; ++i)
                served = client.send("D") && client.receive(72, &reply);
        }
        EXPECT_TRUE(served);
    }
};

} // namespace

TEST(HeadlessOptions, HelpVersionAndUsageErrors) {
    Folder folder;
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* out; // the start of standard output
        const char* err; // in standard error
    };
    const Case cases[] = {
        {{"--help"}, 0, "usage: tolvane-headless [--config PATH]", ""},
        {{"-h"}, 0, "usage: tolvane-headless [--config PATH]", ""},
        {{"--version"}, 0, "tolvane-headless 1.", ""},
        {{"--config"}, 2, "", "tolvane-headless: --config needs a value\n"},
        {{"--config="}, 2, "", "option '--config' needs a path"},
        {{"--port", "9000"}, 2, "", "tolvane-headless: unknown option '--port'\n"},
        {{"-x"}, 2, "", "unknown option '-x'"},
        {{"tolv.conf"}, 2, "", "unexpected argument 'tolv.conf'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> argv = {TOLVANE_HEADLESS};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Child child;
        ASSERT_TRUE(child.start(argv, folder.path, folder.path + "/err"));
        std::string out, line;
        while (child.readLine(&line))
            out += line + "\n";
        EXPECT_EQ(child.waitExit(), c.status);
        EXPECT_EQ(out.rfind(c.out, 0), 0u) << out;
        if (c.status == 0) {
            EXPECT_EQ(child.errors(), "");
        } else {
            EXPECT_TRUE(contains(child.errors(), c.err)) << child.errors();
            EXPECT_TRUE(contains(child.errors(), "\nTry 'tolvane-headless --help'.\n"));
        }
    }
    Child help;
    ASSERT_TRUE(help.start({TOLVANE_HEADLESS, "--help"}, folder.path, folder.path + "/err"));
    std::string text, line;
    while (help.readLine(&line))
        text += line + "\n";
    EXPECT_TRUE(contains(text, "Example:\n  tolvane-headless --config ")) << text;
}

TEST(HeadlessNotes, SettingsFilesAndPortsThatDoNotOpen) {
    struct Case {
        const char* name;
        const char* conf; // nullptr: no file
        bool viaOption;   // read with --config from another folder
        const char* port; // as the event log shows it
        std::vector<std::string> notes;
    };
    const Case cases[] = {
        {"missing file",
         nullptr,
         false,
         "COM19",
         {"settings in effect: comPort=COM19 screenDistance=1.000000 scrollSpeed=4 "
          "mouseAveraging=32 lanAveraging=1 lanPort=8096 mouseEnabled=1 deviceMode=2 "
          "lanEnabled=0 webSocketEnabled=0 accelerationOutput=0\n",
          "cannot open the serial port /dev/COM19: No such file or directory. The port does "
          "not exist (the name COM19 is looked up under /dev/): `tolvane-config ports` lists "
          "the ports present\n"}},
        {"commented first line",
         "# my bridge\n/dev/ttyUSB0\n1.000000\n4\n32\n1\n8096\n0\n0\n1\n0\n",
         true,
         "# my bridge",
         {"warning: line 1 (comPort) reads \"# my bridge\", taken as the port name, and each "
          "line after it is read as the setting after the one meant: the file holds eleven bare "
          "values, one per line in a fixed order, without names or comments; `tolvane-config "
          "set NAME=VALUE` writes it\n",
          "warning: line 2 (screenDistance) reads \"/dev/ttyUSB0\", which is no number: "
          "screenDistance stays 1.000000\n"}},
        {"LAN under preset B",
         "/dev/tolvane-none\n1.000000\n4\n1000\n1\n70000\n256\n1\n1\n0\n0\n",
         false,
         "/dev/tolvane-none",
         {"warning: mouseAveraging=1000 is outside 1..255: the measurement averages over 255 "
          "samples\n",
          "warning: lanPort=70000 is outside 1..65535: the LAN server listens on port 4464 (its "
          "low 16 bits)\n",
          "warning: mouseEnabled=256 is neither 0 nor 1: only its low 8 bits count, so it is "
          "off\n",
          "warning: lanEnabled is on, but deviceMode=B (the device streams): the LAN server "
          "only runs with preset C (deviceMode=C, the device polled)"}},
        {"keyed lines",
         "/dev/tolvane-none\n1.000000\n4\n32\n1\n8096\n0\n0\n0\n0\n0\nudpFormat=osc\n"
         "mouseClickHold=2000\nfutureThing=1\nmouseSmoothing=average\n",
         false,
         "/dev/tolvane-none",
         {"settings in effect: comPort=/dev/tolvane-none screenDistance=1.000000 scrollSpeed=4 "
          "mouseAveraging=32 lanAveraging=1 lanPort=8096 mouseEnabled=0 deviceMode=C "
          "lanEnabled=0 webSocketEnabled=0 accelerationOutput=0 udpFormat=osc\n",
          "warning: line 13 reads \"mouseClickHold=2000\": the value is outside 0 to 1000, so "
          "the default applies\n",
          "warning: line 14 reads \"futureThing=1\", which is no setting of this version"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        std::string file = folder.path + "/tolv.conf";
        std::vector<std::string> argv = {TOLVANE_HEADLESS};
        if (c.viaOption) {
            std::filesystem::create_directory(folder.path + "/elsewhere");
            file = folder.path + "/elsewhere/bridge.conf";
            argv.insert(argv.end(), {"--config", "elsewhere/bridge.conf"});
        }
        if (c.conf != nullptr) writeFile(file, c.conf);
        Child bridge;
        ASSERT_TRUE(bridge.start(argv, folder.path, folder.path + "/err"));
        const std::string logLine = std::string("open serial (") + c.port + ") :  error";
        std::string line;
        ASSERT_TRUE(bridge.readLine(&line));
        EXPECT_EQ(line, logLine);
        if (c.conf == nullptr) {
            // The second attempt, three seconds on, adds no second reason.
            ASSERT_TRUE(bridge.readLine(&line));
            EXPECT_EQ(line, logLine);
        }
        interrupt(bridge);
        expectOnlyLogLines(bridge, logLine);

        const std::string errors = bridge.errors();
        EXPECT_TRUE(contains(errors, c.conf == nullptr
                                         ? "tolvane-headless: no settings file " + file +
                                               ": the defaults apply"
                                         : "tolvane-headless: settings read from " + file + "\n"))
            << errors;
        for (const std::string& note : c.notes)
            EXPECT_TRUE(contains(errors, "tolvane-headless: " + note)) << errors;
        EXPECT_EQ(errors.find("cannot open the serial port"),
                  errors.rfind("cannot open the serial port"))
            << "the reason is said once";
    }
}

TEST(HeadlessNotes, TheAirMouseSaysWhyItMovesNothing) {
    if (access("/dev/uinput", F_OK) == 0) GTEST_SKIP() << "this machine has /dev/uinput";
    Folder folder;
    writeFile(folder.path + "/tolv.conf",
              "/dev/tolvane-none\n1.000000\n4\n32\n1\n8096\n1\n0\n0\n0\n0\npointer=uinput\n");
    Child bridge;
    ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder.path, folder.path + "/err"));
    std::string line;
    ASSERT_TRUE(bridge.readLine(&line));
    interrupt(bridge);
    EXPECT_TRUE(contains(bridge.errors(),
                         "tolvane-headless: air mouse: none: pointer=uinput but /dev/uinput does "
                         "not exist: load the module with 'sudo modprobe uinput'"))
        << bridge.errors();
}

TEST(HeadlessNotes, ASettingsFileThatIsAFifoHoldsNothingUp) {
    Folder folder;
    ASSERT_EQ(mkfifo((folder.path + "/tolv.conf").c_str(), 0600), 0);
    Child bridge;
    ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder.path, folder.path + "/err"));
    std::string line;
    ASSERT_TRUE(bridge.readLine(&line)); // bounded: past the settings, at the port
    EXPECT_EQ(line, "open serial (COM19) :  error");
    interrupt(bridge);
    EXPECT_TRUE(contains(bridge.errors(), "tolv.conf: it is not a regular file"))
        << bridge.errors();
}

// The first folder on the way to path (or path itself) that the user may not
// pass, asked as that user; empty when the user reaches path. A clone in a
// home folder closed to others (root's is mode 0700) keeps them out.
std::string firstClosedFor(uid_t user, gid_t group, const std::string& path) {
    std::vector<std::string> steps;
    for (std::filesystem::path step(path);; step = step.parent_path()) {
        steps.insert(steps.begin(), step.string());
        if (step == step.parent_path()) break;
    }
    if (steps.size() > 250) return path; // beyond what an exit status tells
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(user) != 0) _exit(255);
        for (size_t i = 0; i < steps.size(); ++i)
            if (access(steps[i].c_str(), X_OK) != 0) _exit(static_cast<int>(i + 1));
        _exit(0);
    }
    if (child < 0) return path;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return path;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 255) return path;
    const size_t closed = static_cast<size_t>(WEXITSTATUS(status));
    return closed == 0 ? std::string() : steps[closed - 1];
}

TEST(HeadlessNotes, APortThatMayNotBeOpenedNamesItsGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to run the bridge as the user nobody";
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody on this system";
    const std::string closed = firstClosedFor(nobody->pw_uid, nobody->pw_gid, TOLVANE_HEADLESS);
    if (!closed.empty())
        GTEST_SKIP() << "the user nobody cannot reach " << closed << " on the way to "
                     << TOLVANE_HEADLESS
                     << ", so the bridge cannot run as nobody: the clone lies in a folder "
                        "closed to other users (root's home is mode 0700); clone into a "
                        "folder every user may enter (under /srv or /tmp) to run this test";
    const group* dialout = getgrnam("dialout");
    if (dialout == nullptr) GTEST_SKIP() << "no group dialout on this system";
    // A port as udev makes them: group dialout, read and write for the group.
    TestDevice device;
    ASSERT_TRUE(device.open());
    ASSERT_EQ(chown(device.path, static_cast<uid_t>(-1), dialout->gr_gid), 0);
    ASSERT_EQ(chmod(device.path, 0660), 0);

    Folder folder;
    ASSERT_EQ(chmod(folder.path.c_str(), 0755), 0);
    writeFile(folder.path + "/tolv.conf", confText(device.path, freePort()));
    ChildSetup asNobody;
    asNobody.user = nobody->pw_uid;
    asNobody.group = nobody->pw_gid;
    Child bridge;
    ASSERT_TRUE(bridge.start({TOLVANE_HEADLESS}, folder.path, folder.path + "/err", asNobody));
    const std::string logLine = "open serial (" + std::string(device.path) + ") :  error";
    std::string line;
    ASSERT_TRUE(bridge.readLine(&line)) << bridge.errors();
    EXPECT_EQ(line, logLine);
    interrupt(bridge);
    expectOnlyLogLines(bridge, logLine);
    EXPECT_TRUE(contains(bridge.errors(), "tolvane-headless: cannot open the serial port " +
                                              std::string(device.path) +
                                              ": Permission denied. It belongs to group dialout "
                                              "(mode 0660): join that group with `sudo usermod "
                                              "-aG dialout $USER`, then log out and in again\n"))
        << bridge.errors();
}

TEST(HeadlessNotes, ALanPortInUseSaysTheSystemsReason) {
    Session session;
    const NativeSocket holder = listenOn(static_cast<uint16_t>(session.lanPort));
    ASSERT_NE(holder, noSocket);
    ASSERT_TRUE(session.start({}));
    const std::string failed = "OpenSocket port(" + std::to_string(session.lanPort) + ") : error";
    std::string line;
    while (line != failed && session.bridge.readLine(&line)) {
    }
    EXPECT_EQ(line, failed);
    interrupt(session.bridge);
    while (session.bridge.readLine(&line)) {
    }
    closeNativeSocket(holder);
    EXPECT_TRUE(contains(
        session.bridge.errors(),
        "tolvane-headless: LAN server: cannot bind 0.0.0.0:" + std::to_string(session.lanPort) +
            ": Address already in use; another program uses the port (`ss "
            "-ltnp` shows which): end it, or choose another lanPort. The bridge "
            "tries again every three seconds\n"))
        << session.bridge.errors();
}

TEST(HeadlessStreams, AnOutputNobodyReadsHoldsNeitherClientsNorCtrlC) {
    // A 4 KiB pipe, full before the bridge starts, and never read.
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
    ASSERT_GE(fcntl(pipeFds[1], F_SETPIPE_SZ, 4096), 4096);
    const std::string filler(512, 'x');
    while (write(pipeFds[1], filler.data(), filler.size()) > 0) {
    }
    ASSERT_EQ(fcntl(pipeFds[1], F_SETFL, 0), 0); // the bridge gets a blocking stream

    Session session;
    ChildSetup setup;
    setup.outputTo = pipeFds[1];
    ASSERT_TRUE(session.start(setup));
    close(pipeFds[1]);
    // Two client cycles: the second one follows the restart, whose messages
    // also found no room.
    session.serve(3);
    session.serve(1);
    interrupt(session.bridge);
    close(pipeFds[0]);
    const std::string errors = session.bridge.errors();
    EXPECT_TRUE(contains(
        errors, "tolvane-headless: LAN server: opening 0.0.0.0:" + std::to_string(session.lanPort) +
                    " on every IPv4 address of this machine, for one client at "
                    "a time, plain dialect"))
        << errors;
    EXPECT_TRUE(contains(errors, "tolvane-headless: standard output is not being read: the last "))
        << errors;
}

TEST(HeadlessStreams, ClosedStreamsTakeNoDescriptorOfThePortOrTheServer) {
    for (bool errorsClosed : {false, true}) {
        SCOPED_TRACE(errorsClosed ? "<&- >&- 2>&-" : "<&- >&-");
        Session session;
        ChildSetup setup;
        setup.closeInput = setup.closeOutput = true;
        setup.closeErrors = errorsClosed;
        ASSERT_TRUE(session.start(setup));
        session.serve(3);
        const pid_t pid = session.bridge.pid;
        for (int fd = 0; fd <= 2; ++fd) {
            const std::string expected =
                fd == 2 && !errorsClosed ? session.folder.path + "/headless.err" : "/dev/null";
            EXPECT_EQ(targetOf(pid, fd), expected) << "descriptor " << fd;
        }
        interrupt(session.bridge);
        if (!errorsClosed) {
            EXPECT_TRUE(contains(session.bridge.errors(), "tolvane-headless: settings read from "));
        }
    }
}
