#include "output/udp/udp_output.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/datagram_socket.h"
#include "output/udp/opentrack_pose.h"
#include "output/udp/osc_message.h"
#include "settings/settings_table.h"
#include "settings/stop_request.h"
#include "text/number_text.h"

namespace {

constexpr int noteSize = 400;
// Sends in a row that must go out before a run of failures counts as over. A
// closed port on a connected socket fails every other send (each ICMP error
// is reported once), which must stay one run.
constexpr int recoveryRun = 100;

std::atomic<UdpNoteListener> noteListener{nullptr};
std::atomic<uint64_t> sentCount{0};
std::atomic<uint64_t> failedCount{0};

// The worker's own state.
UdpSocket socket = noUdpSocket;
UdpFormat format = UdpFormat::opentrack;
char targetName[udpTargetSize];
// What was said last, so that each is said once per change.
char openingSaid[noteSize];
char problemSaid[noteSize];
int failingWith = 0;      // the error of the current run of failed sends, 0: none
int successesInRow = 0;   // sends since the last failure
uint64_t failedInRun = 0; // failed sends of the current run

// How long the start of a cycle waits for a name to resolve. A resolver that
// does not answer takes many seconds to give up; the measurement starts
// without the output instead (and a stop is not held up either).
constexpr auto resolveWait = std::chrono::milliseconds(2000);
constexpr int reasonSize = noteSize - 100;

// One resolution and socket opening on a thread of its own. Whoever is last,
// the worker that stops waiting or the thread that finishes, lets go of it.
struct Opening {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    UdpTarget target;
    UdpSocket socket = noUdpSocket;
    char reason[reasonSize];
};

void openOnItsThread(const std::shared_ptr<Opening>& opening) {
    char reason[reasonSize];
    const UdpSocket opened = openUdpSocket(opening->target, reason, sizeof reason);
    std::lock_guard<std::mutex> guard(opening->lock);
    if (opening->abandoned) {
        if (opened != noUdpSocket) closeUdpSocket(opened);
        return;
    }
    opening->socket = opened;
    copyText(opening->reason, sizeof opening->reason, reason);
    opening->done = true;
    opening->finished.notify_one();
}

// The socket, or noUdpSocket with the reason; waits at most resolveWait, less
// when a stop comes.
UdpSocket openWithinWait(const UdpTarget& target, char* reason, size_t size) {
    auto opening = std::make_shared<Opening>();
    opening->target = target;
    opening->reason[0] = '\0';
    try {
        std::thread(openOnItsThread, opening).detach();
    } catch (const std::system_error&) {
        return openUdpSocket(target, reason, size);
    }
    std::unique_lock<std::mutex> guard(opening->lock);
    const auto until = std::chrono::steady_clock::now() + resolveWait;
    while (!opening->done && !stopRequested.load() && std::chrono::steady_clock::now() < until)
        opening->finished.wait_for(guard, std::chrono::milliseconds(50));
    if (!opening->done) {
        opening->abandoned = true;
        TextBuilder text(reason, size);
        text.append("'");
        text.append(target.host);
        text.append("' did not resolve within 2 s");
        return noUdpSocket;
    }
    copyText(reason, size, opening->reason);
    return opening->socket;
}

void say(const char* line) {
    if (UdpNoteListener listener = noteListener.load()) listener(line);
}

// Says the text unless it is the last thing said about opening the output.
void sayOpeningOnce(const char* text) {
    if (std::strcmp(text, problemSaid) == 0) return;
    copyText(problemSaid, sizeof problemSaid, text);
    say(text);
}

const char* formatName(UdpFormat f) {
    return f == UdpFormat::osc ? "OSC /tolvane/motion" : "opentrack poses";
}

void noteSendFailure(int error) {
    char reason[200];
    describeUdpError(error, reason, sizeof reason);
    char note[noteSize];
    TextBuilder text(note, sizeof note);
    text.append("UDP output: cannot send to ");
    text.append(targetName);
    text.append(" (");
    text.append(reason);
    text.append("); the measurement goes on, failed datagrams are counted");
    say(note);
}

void noteSendingAgain() {
    char note[noteSize];
    TextBuilder text(note, sizeof note);
    text.append("UDP output: sending to ");
    text.append(targetName);
    text.append(" again (");
    text.appendInteger(static_cast<long long>(failedInRun));
    text.append(" datagrams failed)");
    say(note);
}

} // namespace

void setUdpNoteListener(UdpNoteListener listener) {
    noteListener = listener;
}

bool openUdpOutput(const char* targetText, UdpFormat wanted) {
    closeUdpOutput();
    if (targetText == nullptr || targetText[0] == '\0') {
        problemSaid[0] = openingSaid[0] = '\0';
        return false;
    }
    char note[noteSize];
    TextBuilder text(note, sizeof note);
    UdpTarget target;
    if (!parseUdpTarget(targetText, target.host, sizeof target.host, &target.port)) {
        text.append("UDP output off: udpTarget '");
        text.append(targetText);
        text.append("' is not HOST:PORT (an IPv4 address, a name or [IPv6], port 1..65535)");
        sayOpeningOnce(note);
        return false;
    }
    char reason[reasonSize];
    socket = openWithinWait(target, reason, sizeof reason);
    if (socket == noUdpSocket) {
        text.append("UDP output off until the next restart: ");
        text.append(reason);
        sayOpeningOnce(note);
        return false;
    }
    format = wanted;
    problemSaid[0] = '\0';
    // A run of failures goes on across a restart to the same target, so that
    // a closed port is said once and not once per cycle.
    if (std::strcmp(targetName, targetText) != 0) {
        copyText(targetName, sizeof targetName, targetText);
        failingWith = 0;
        successesInRow = 0;
        failedInRun = 0;
    }
    text.append("UDP output: sending ");
    text.append(formatName(format));
    text.append(" to ");
    text.append(targetText);
    text.append(", one datagram per line");
    if (std::strcmp(note, openingSaid) != 0) {
        copyText(openingSaid, sizeof openingSaid, note);
        say(note);
    }
    return true;
}

bool udpOutputOpen() {
    return socket != noUdpSocket;
}

int encodeUdpDatagram(UdpFormat f, const MotionOutput& motion, const ButtonState& buttons,
                      unsigned char out[udpDatagramCapacity]) {
    if (f == UdpFormat::osc) {
        float numbers[7];
        std::memcpy(numbers, motion.anglesOrAcceleration, sizeof motion.anglesOrAcceleration);
        std::memcpy(numbers + 3, motion.quaternion, sizeof motion.quaternion);
        return static_cast<int>(encodeOscMotion(numbers, buttons.button, out, udpDatagramCapacity));
    }
    encodeOpentrackPose(headAnglesOf(motion.quaternion), out);
    return static_cast<int>(opentrackPoseSize);
}

void sendUdpOutput(const MotionOutput& motion, const ButtonState& buttons) {
    if (socket == noUdpSocket) return;
    unsigned char datagram[udpDatagramCapacity];
    const int length = encodeUdpDatagram(format, motion, buttons, datagram);
    const int error = sendUdpDatagram(socket, datagram, static_cast<size_t>(length));
    if (error == 0) {
        sentCount.fetch_add(1, std::memory_order_relaxed);
        if (failingWith != 0 && ++successesInRow >= recoveryRun) {
            noteSendingAgain();
            failingWith = 0;
            failedInRun = 0;
        }
        return;
    }
    failedCount.fetch_add(1, std::memory_order_relaxed);
    if (refusedEarlierDatagram(error)) {
        // The earlier datagram, counted sent, came back refused.
        sentCount.fetch_sub(1, std::memory_order_relaxed);
        failedCount.fetch_add(1, std::memory_order_relaxed);
    }
    ++failedInRun;
    successesInRow = 0;
    if (error != failingWith) {
        failingWith = error;
        noteSendFailure(error);
    }
}

void closeUdpOutput() {
    if (socket == noUdpSocket) return;
    closeUdpSocket(socket);
    socket = noUdpSocket;
}

UdpOutputCounts udpOutputCounts() {
    return {sentCount.load(), failedCount.load()};
}
