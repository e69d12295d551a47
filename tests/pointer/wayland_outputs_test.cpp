// The compositor's outputs as a real Wayland compositor announces them:
// weston's headless backend, on a private socket (skipped without weston).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "output/desktop/screen_geometry.h"
#include "tests/support/child_process.h"

namespace {

const char weston[] = "/usr/bin/weston";

// A runtime folder of its own, short enough for a socket's path.
std::string runtimeFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolvane-wl-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : "";
}

struct Compositor {
    std::string folder = runtimeFolder();
    std::string socket = "tolvane-test-" + std::to_string(getpid());
    Child child;

    bool start(const std::vector<std::string>& options) {
        setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
        setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
        std::vector<std::string> argv = {weston, "--backend=headless-backend.so",
                                         "--socket=" + socket, "--no-config", "--idle-time=0"};
        argv.insert(argv.end(), options.begin(), options.end());
        if (!child.start(argv, folder, folder + "/weston.err")) return false;
        // Weston says nowhere that it is ready: wait for its socket, bounded.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (access((folder + "/" + socket).c_str(), F_OK) != 0) {
            if (!child.running() || std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    ~Compositor() {
        unsetenv("WAYLAND_DISPLAY");
        child.signal(SIGTERM);
        child.waitExit();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

TEST(WaylandOutputs, TheCompositorsOutputIsTheScreen) {
    if (access(weston, X_OK) != 0) GTEST_SKIP() << "weston is not installed";
    {
        Compositor plain;
        ASSERT_TRUE(plain.start({"--width=1280", "--height=720"})) << plain.child.errors();
        OutputGeometry outputs[maxOutputs];
        ASSERT_EQ(readWaylandOutputs(outputs, maxOutputs), 1) << plain.child.errors();
        int32_t w = 0, h = 0;
        ASSERT_TRUE(desktopExtent(outputs, 1, &w, &h));
        EXPECT_EQ(w, 1280);
        EXPECT_EQ(h, 720);
    }
    {
        // A panel of twice the density, turned upright: the desktop is its
        // logical size, standing.
        Compositor turned;
        ASSERT_TRUE(
            turned.start({"--width=1280", "--height=720", "--scale=2", "--transform=rotate-90"}))
            << turned.child.errors();
        OutputGeometry outputs[maxOutputs];
        ASSERT_EQ(readWaylandOutputs(outputs, maxOutputs), 1) << turned.child.errors();
        EXPECT_EQ(outputs[0].scale, 2);
        EXPECT_EQ(outputs[0].transform, 1);
        int32_t w = 0, h = 0;
        ASSERT_TRUE(desktopExtent(outputs, 1, &w, &h));
        EXPECT_EQ(w, 720);
        EXPECT_EQ(h, 1280);
    }
}

TEST(WaylandOutputs, NoCompositorIsNoAnswer) {
    setenv("WAYLAND_DISPLAY", "tolvane-no-such-compositor", 1);
    OutputGeometry outputs[maxOutputs];
    EXPECT_EQ(readWaylandOutputs(outputs, maxOutputs), -1);
    unsetenv("WAYLAND_DISPLAY");
}

// A socket that takes the connection and never says a word: the question
// gives up (start-up would otherwise wait for ever).
TEST(WaylandOutputs, ASilentCompositorIsNoAnswer) {
    const std::string folder = runtimeFolder();
    ASSERT_FALSE(folder.empty());
    const std::string path = folder + "/silent";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    setenv("WAYLAND_DISPLAY", "silent", 1);
    OutputGeometry outputs[maxOutputs];
    EXPECT_EQ(readWaylandOutputs(outputs, maxOutputs), -1);
    unsetenv("WAYLAND_DISPLAY");
    close(listener);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
