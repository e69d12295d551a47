#include "output/udp/udp_output.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/datagram_socket.h"
#include "output/udp/opentrack_pose.h"
#include "output/udp/osc_message.h"
#include "protocol/output_note.h"
#include "settings/settings_table.h"
#include "text/number_text.h"

namespace {

const char source[] = "udp";
// Sends in a row that must go out before a run of failures counts as over. A
// closed port on a connected socket fails every other send (each ICMP error
// is reported once), which must stay one run.
constexpr int recoveryRun = 100;
constexpr int reasonSize = 300;

std::atomic<uint64_t> sentCount{0};
std::atomic<uint64_t> failedCount{0};
std::atomic<uint64_t> lookupCount{0};

// One lookup of a target and the opening of its socket, on a thread of its
// own. A resolver that does not answer takes many seconds to give up; nobody
// waits for it: the worker looks at `ended` with each line, and whoever comes
// last lets go of the record.
struct Lookup {
    std::mutex lock;
    std::atomic<bool> ended{false};
    char text[udpTargetSize]; // the udpTarget looked up; fixed once started
    UdpTarget target;
    // Under the lock.
    bool wanted = true; // a worker will take the socket; else it is closed
    UdpSocket socket = noUdpSocket;
    bool failed = false; // kept until the target changes
    char reason[reasonSize];
};

void sayLookupFailure(const char* reason) {
    sayNote(source, NoteLevel::problem,
            "UDP output off: %s (looked up again when udpTarget changes or the program starts "
            "again)",
            reason);
}

// A failure is said as soon as it is known, whatever the worker is doing (it
// may be retrying a serial port that is not there); a worker that has ended
// meanwhile leaves it to the next one.
void lookUp(const std::shared_ptr<Lookup>& lookup) {
    char reason[reasonSize] = "";
    const UdpSocket opened = openUdpSocket(lookup->target, reason, sizeof reason);
    bool say = false;
    {
        std::lock_guard<std::mutex> guard(lookup->lock);
        if (opened == noUdpSocket) {
            lookup->failed = true;
            copyText(lookup->reason, sizeof lookup->reason, reason);
            say = lookup->wanted;
        } else if (lookup->wanted) {
            lookup->socket = opened;
        } else {
            closeUdpSocket(opened);
        }
        lookup->ended.store(true);
    }
    if (say) sayLookupFailure(reason);
}

// Nobody takes its socket any more; a lookup under way closes it when it ends.
void letGo(const std::shared_ptr<Lookup>& lookup) {
    if (!lookup) return;
    std::lock_guard<std::mutex> guard(lookup->lock);
    lookup->wanted = false;
    if (lookup->socket != noUdpSocket) closeUdpSocket(lookup->socket);
    lookup->socket = noUdpSocket;
}

enum class State { off, waiting, open, failed };

// The worker's own state (one worker at a time; the next starts after the
// last has been joined). The last lookup outlives its worker, so that the next
// one goes on waiting for it or keeps its failure.
std::shared_ptr<Lookup> lookup;
State state = State::off;
UdpSocket socket = noUdpSocket;
UdpFormat format = UdpFormat::opentrack;
char targetName[udpTargetSize];
bool waitingSaid = false;
uint64_t sentByWorker = 0, failedByWorker = 0;
int failingWith = 0;      // the error of the current run of failed sends, 0: none
int successesInRow = 0;   // sends since the last failure
uint64_t failedInRun = 0; // failed sends of the current run

const char* formatName(UdpFormat f) {
    return f == UdpFormat::osc ? "OSC /tolvane/motion" : "opentrack poses";
}

// Takes the result of a lookup that has ended.
void takeLookup() {
    if (state != State::waiting || !lookup->ended.load()) return;
    UdpSocket taken = noUdpSocket;
    bool failed = false;
    {
        std::lock_guard<std::mutex> guard(lookup->lock);
        failed = lookup->failed;
        taken = lookup->socket;
        lookup->socket = noUdpSocket;
    }
    if (failed) {
        state = State::failed; // said by the lookup
        return;
    }
    lookup.reset(); // a name that resolved is looked up again by the next worker
    if (taken == noUdpSocket) {
        state = State::off;
        return;
    }
    socket = taken;
    state = State::open;
    sayNote(source, NoteLevel::info, "UDP output: sending %s to %s, one datagram per line",
            formatName(format), targetName);
}

void startLookup(const char* text, const UdpTarget& target) {
    auto started = std::make_shared<Lookup>();
    copyText(started->text, sizeof started->text, text);
    started->target = target;
    started->reason[0] = '\0';
    lookup = started;
    state = State::waiting;
    if (isAddressLiteral(target.host)) {
        lookUp(started); // no resolver involved: at once
        return;
    }
    lookupCount.fetch_add(1, std::memory_order_relaxed);
    try {
        std::thread(lookUp, started).detach();
    } catch (const std::system_error&) {
        lookUp(started); // no thread to be had: before the first cycle, then
    }
}

void noteSendFailure(int error) {
    char reason[200];
    describeUdpError(error, reason, sizeof reason);
    sayNote(source, NoteLevel::problem,
            "UDP output: cannot send to %s (%s); the measurement goes on, failed datagrams are "
            "counted",
            targetName, reason);
}

} // namespace

bool isAddressLiteral(const char* host) {
    if (std::strchr(host, ':') != nullptr) return true; // IPv6, checked by the system
    int parts = 0, digits = 0, value = 0;
    for (const char* c = host;; ++c) {
        if (*c >= '0' && *c <= '9') {
            value = value * 10 + (*c - '0');
            if (++digits > 3 || value > 255) return false;
        } else if (*c == '.' || *c == '\0') {
            if (digits == 0) return false;
            ++parts;
            digits = value = 0;
            if (*c == '\0') return parts == 4;
        } else {
            return false;
        }
    }
}

void prepareUdpOutput(const char* targetText, UdpFormat wanted) {
    if (socket != noUdpSocket) closeUdpSocket(socket);
    socket = noUdpSocket;
    state = State::off;
    format = wanted;
    waitingSaid = false;
    sentByWorker = failedByWorker = 0;
    if (targetText == nullptr || targetText[0] == '\0') {
        letGo(lookup);
        lookup.reset();
        return;
    }
    UdpTarget target;
    if (!parseUdpTarget(targetText, target.host, sizeof target.host, &target.port)) {
        letGo(lookup);
        lookup.reset();
        sayNote(source, NoteLevel::problem,
                "UDP output off: udpTarget '%s' is not HOST:PORT (an IPv4 address, a name or "
                "[IPv6], port 1..65535)",
                targetText);
        return;
    }
    // A run of failures goes on into the next worker with the same target, so
    // that a closed port is said once and not once per Run.
    if (std::strcmp(targetName, targetText) != 0) {
        copyText(targetName, sizeof targetName, targetText);
        failingWith = 0;
        successesInRow = 0;
        failedInRun = 0;
    }
    if (lookup && std::strcmp(lookup->text, targetText) == 0) {
        bool underWay = false, failed = false;
        char reason[reasonSize];
        {
            std::lock_guard<std::mutex> guard(lookup->lock);
            underWay = !lookup->ended.load();
            failed = lookup->failed;
            if (underWay) lookup->wanted = true;
            copyText(reason, sizeof reason, lookup->reason);
        }
        if (underWay) {
            state = State::waiting;
            return;
        }
        if (failed) {
            state = State::failed;
            sayLookupFailure(reason);
            return;
        }
    }
    letGo(lookup);
    startLookup(targetText, target);
    takeLookup();
}

bool udpOutputOpen() {
    return state == State::open;
}

bool udpOutputWanted() {
    return state == State::open || state == State::waiting;
}

void beginUdpCycle() {
    takeLookup();
    if (state != State::waiting || waitingSaid) return;
    waitingSaid = true;
    sayNote(source, NoteLevel::info,
            "UDP output: looking up '%s'; the datagrams start once it answers (the measurement "
            "does not wait for it)",
            lookup->target.host);
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
    if (state == State::waiting) takeLookup();
    if (state != State::open) return;
    unsigned char datagram[udpDatagramCapacity];
    const int length = encodeUdpDatagram(format, motion, buttons, datagram);
    const int error = sendUdpDatagram(socket, datagram, static_cast<size_t>(length));
    if (error == 0) {
        sentCount.fetch_add(1, std::memory_order_relaxed);
        ++sentByWorker;
        if (failingWith != 0 && ++successesInRow >= recoveryRun) {
            sayNote(source, NoteLevel::info,
                    "UDP output: sending to %s again (%llu datagrams failed)", targetName,
                    static_cast<unsigned long long>(failedInRun));
            failingWith = 0;
            failedInRun = 0;
        }
        return;
    }
    failedCount.fetch_add(1, std::memory_order_relaxed);
    ++failedByWorker;
    if (refusedEarlierDatagram(error)) {
        // The earlier datagram, counted sent, came back refused.
        sentCount.fetch_sub(1, std::memory_order_relaxed);
        failedCount.fetch_add(1, std::memory_order_relaxed);
        if (sentByWorker > 0) --sentByWorker;
        ++failedByWorker;
    }
    ++failedInRun;
    successesInRow = 0;
    if (error != failingWith) {
        failingWith = error;
        noteSendFailure(error);
    }
}

void finishUdpOutput() {
    if (socket != noUdpSocket) closeUdpSocket(socket);
    socket = noUdpSocket;
    if (state == State::waiting) letGo(lookup);
    if (state != State::failed) state = State::off;
    if (sentByWorker + failedByWorker > 0)
        sayNote(source, NoteLevel::info, "UDP output: %llu datagrams sent, %llu failed",
                static_cast<unsigned long long>(sentByWorker),
                static_cast<unsigned long long>(failedByWorker));
    sentByWorker = failedByWorker = 0;
}

UdpOutputCounts udpOutputCounts() {
    return {sentCount.load(), failedCount.load(), lookupCount.load()};
}
