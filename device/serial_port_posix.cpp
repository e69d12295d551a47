// The serial link on POSIX systems: termios raw mode and poll() against a
// monotonic deadline, which rebuilds the 100 ms read and write time-outs.
//
// Closing from another thread: close() does not wake a thread blocked in
// poll() or read() on the descriptor, and its number may be reused by the next
// open at once. So every transfer registers itself as a user of the port and
// also waits on a wake pipe; the closer takes the descriptor (leaving -1),
// writes to the pipe, waits until no transfer uses the descriptor any more and
// only then closes it. The worker is released at once instead of after its
// time-out, and no descriptor number is touched after its close.

#include "device/serial_port.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include "device/serial_device.h"
#include "device/serial_port_platform.h"
#include "settings/settings.h"
#include "text/number_text.h"

// The port of the process: an open descriptor, or -1 for none.
std::atomic<int> serialPort{-1};

namespace {

constexpr auto transferTimeout = std::chrono::milliseconds(100);

std::mutex portMutex;
std::condition_variable portChanged;
bool portExclusive = false; // the open port is in the terminal's exclusive mode
int portUsers = 0;          // transfers in progress on serialPort
int closesInProgress = 0;   // closes that have taken a descriptor but not closed it yet
int wakePipe[2] = {-1, -1}; // made once, kept for the life of the process
std::once_flag wakePipeMade;

void makeWakePipe() {
    // Without the pipe a close still works; it then waits for the time-out.
    if (pipe2(wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) wakePipe[0] = wakePipe[1] = -1;
}

void drainWakePipe() {
    char sink[16];
    while (wakePipe[0] >= 0 && read(wakePipe[0], sink, sizeof sink) > 0) {
    }
}

int beginUse() {
    std::lock_guard<std::mutex> lock(portMutex);
    int fd = serialPort.load();
    if (fd >= 0) ++portUsers;
    return fd;
}

void endUse() {
    std::lock_guard<std::mutex> lock(portMutex);
    if (--portUsers == 0) portChanged.notify_all();
}

void applyLineSettings(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        // Raw bytes: no echo, no line-end translation, no software flow
        // control, no signals from special characters.
        cfmakeraw(&tio);
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        // One byte at least per read, so that a read of nothing means a hang-up;
        // the descriptor is non-blocking and poll() supplies the time-outs.
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        (void)tcsetattr(fd, TCSANOW, &tio);
    }
    // Pseudo-terminals have no modem lines and refuse this; that is no error.
    int rts = TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &rts);
}

// A pseudo-terminal keeps its exclusive mode for as long as its other side
// is open, also after the process that set it has died (a real serial port
// drops it at its last close). A bridge killed without its close would leave a
// simulator's terminal refusing every later open by a normal user; flock,
// which the kernel drops with the process, keeps other bridges out instead.
bool isPseudoTerminal(int fd) {
#ifdef __linux__
    struct statfs fs {};
    return fstatfs(fd, &fs) == 0 && fs.f_type == DEVPTS_SUPER_MAGIC;
#else
    (void)fd;
    return false;
#endif
}

// One bounded transfer of up to size bytes; see serial_port_platform.h.
bool transfer(bool reading, char* data, int size, int* count) {
    *count = 0;
    int fd = beginUse();
    if (fd < 0) return false;

    const auto deadline = std::chrono::steady_clock::now() + transferTimeout;
    bool ok = true;
    while (*count < size) {
        // Past the deadline one more look without waiting still takes what
        // has arrived: on a busy machine this thread may run late, and bytes
        // the device sent in time must not make the transfer fail.
        auto left = deadline - std::chrono::steady_clock::now();
        const bool lastLook = left <= std::chrono::nanoseconds::zero();
        if (lastLook) left = std::chrono::nanoseconds::zero();
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd watch[2] = {{fd, static_cast<short>(reading ? POLLIN : POLLOUT), 0},
                           {wakePipe[0], POLLIN, 0}};
        int ready = ppoll(watch, 2, &wait, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (ready == 0) {
            if (lastLook) break;
            continue; // the last look follows
        }
        if (watch[1].revents != 0 || (watch[0].revents & POLLNVAL) != 0) {
            ok = false; // the port is being closed
            break;
        }
        if (watch[0].revents == 0) {
            if (lastLook) break;
            continue;
        }
        ssize_t n = reading ? read(fd, data + *count, static_cast<size_t>(size - *count))
                            : write(fd, data + *count, static_cast<size_t>(size - *count));
        if (n > 0) {
            *count += static_cast<int>(n);
        } else if (n == 0) {
            if ((watch[0].revents & (POLLHUP | POLLERR)) != 0) {
                ok = false; // the other end went away
                break;
            }
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            ok = false;
            break;
        }
        if (lastLook && n <= 0) break;
    }
    endUse();
    return ok;
}

// The failure of an open of the port at path, in the system's words.
SystemResult openFailure(const char* path, int error) {
    SystemResult result{false, error, ""};
    TextBuilder text(result.reason, sizeof result.reason);
    text.append("cannot open the serial port ");
    text.append(path);
    text.append(": ");
    text.append(std::strerror(error));
    return result;
}

} // namespace

bool serialPortPath(const char* name, char* path, int size) {
    if (name[0] == '\0' || size <= 0) return false;
    TextBuilder text(path, static_cast<size_t>(size));
    // A bare name such as ttyUSB0 lives under /dev/; anything with a slash
    // is a path and used as given.
    if (std::strchr(name, '/') == nullptr) text.append("/dev/");
    text.append(name);
    return !text.overflow;
}

bool readPortBytes(char* data, int size, int* count) {
    return transfer(true, data, size, count);
}

bool writePortBytes(const char* data, int size, int* count) {
    return transfer(false, const_cast<char*>(data), size, count);
}

SystemResult openSerialPort() {
    std::call_once(wakePipeMade, makeWakePipe);
    // A second open must not lose the descriptor of the first.
    closeSerialPort();

    // comDevice, when set, names the device instead of comPort; it is found
    // afresh at every open, so a replug under a new name is followed.
    char device[comDeviceSize];
    getComDevice(device);
    char name[comPortSize];
    getComPort(name);
    char path[comDeviceSize + 8];
    if (device[0] != '\0') {
        const SystemResult found = findSerialDevice(device, "", path, sizeof path);
        if (!found) return found;
    } else if (!serialPortPath(name, path, sizeof path)) {
        SystemResult result{false, name[0] == '\0' ? EINVAL : ENAMETOOLONG, ""};
        TextBuilder text(result.reason, sizeof result.reason);
        if (name[0] == '\0') {
            text.append("cannot open the serial port: its name, the first line of the settings "
                        "file, is empty");
        } else {
            text.append("cannot open the serial port ");
            text.append(name);
            text.append(": the path is too long");
        }
        return result;
    }
    // Non-blocking so that the open does not wait for a carrier; every
    // transfer waits in poll() instead.
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return openFailure(path, errno);
    // Only terminals are ports; exclusive like a Windows port opened unshared.
    // flock keeps out other programs that lock (and a second open here), the
    // terminal's exclusive mode those that don't (root is exempt from it) on
    // real ports; see isPseudoTerminal for why not on pseudo-terminals.
    const bool terminal = isatty(fd) != 0;
    if (!terminal || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return openFailure(path, terminal ? EBUSY : ENOTTY);
    }
    const bool exclusive = !isPseudoTerminal(fd) && ioctl(fd, TIOCEXCL) == 0;
    applyLineSettings(fd);

    std::unique_lock<std::mutex> lock(portMutex);
    // A close still draining the wake pipe must finish before a new port
    // appears, or its wake-up would hit the new port's first transfer.
    portChanged.wait(lock, [] { return closesInProgress == 0; });
    serialPort.store(fd);
    portExclusive = exclusive;
    return SystemResult{};
}

void closeSerialPort() {
    int fd;
    bool exclusive;
    {
        std::lock_guard<std::mutex> lock(portMutex);
        fd = serialPort.exchange(-1);
        if (fd < 0) return;
        exclusive = portExclusive;
        ++closesInProgress;
    }
    if (wakePipe[1] >= 0) {
        const char wake = 1;
        (void)!write(wakePipe[1], &wake, 1);
    }
    {
        std::unique_lock<std::mutex> lock(portMutex);
        portChanged.wait(lock, [] { return portUsers == 0; });
        drainWakePipe();
    }
    // The terminal would otherwise stay exclusive while another process
    // holds it open, and refuse our own next open.
    if (exclusive) (void)ioctl(fd, TIOCNXCL);
    close(fd);
    {
        std::lock_guard<std::mutex> lock(portMutex);
        --closesInProgress;
        portChanged.notify_all();
    }
}

bool serialPortIsOpen() {
    return serialPort.load() >= 0;
}
