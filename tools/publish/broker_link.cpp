#include "tools/publish/broker_link.h"

#include <mosquitto.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "tools/publish/retry.h"

namespace {

constexpr int keepAliveSeconds = 10;

mosquitto* client = nullptr;
std::thread brokerThread;
std::string brokerHost, brokerName, prefix, motionTopic, buttonsTopic, statusTopic;
int brokerPort = 0;

std::atomic<bool> stopping{false};
// CONNACK accepted and the connection not lost since.
std::atomic<bool> brokerUp{false};
// Set by the connect callback; the thread then republishes the retained state.
std::atomic<bool> freshConnection{false};
// Set with it; the broker thread says "connected" once for it.
std::atomic<bool> unannounced{false};
std::atomic<int> refusedCode{-1};
// The last status sent, and whether the broker has confirmed it.
std::string sentStatus;
std::atomic<int> statusMid{-1};
std::atomic<bool> statusDelivered{false};

// Retained messages that could not be handed to the connection.
std::atomic<uint64_t> stateNotPublished{0};

// Held around every publish: a status change is published before the motion
// message that follows it, whichever thread comes first.
std::mutex publishLock;

// The retained state, written by the bridge side, published by the broker
// thread (and by the bridge side before a motion message).
std::mutex stateLock;
bool bridgeOnline = false;
bool statusDirty = true;
std::string buttons;
bool buttonsDirty = false;

void onConnect(mosquitto*, void*, int code) {
    if (code == 0) {
        brokerUp = true;
        freshConnection = true;
        unannounced = true;
    } else {
        refusedCode = code;
    }
}

void onDisconnect(mosquitto*, void*, int) {
    brokerUp = false;
}

void onPublish(mosquitto*, void*, int mid) {
    if (mid == statusMid) statusDelivered = true;
}

int publishRetained(const std::string& topic, const std::string& payload) {
    int mid = -1;
    if (mosquitto_publish(client, &mid, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, true) != MOSQ_ERR_SUCCESS) {
        ++stateNotPublished;
        return -1;
    }
    return mid;
}

void publishStatus(const char* status) {
    statusDelivered = false;
    statusMid = -1;
    statusMid = publishRetained(statusTopic, status);
    sentStatus = status;
}

// Copies under stateLock, publishes outside it: libmosquitto takes locks of
// its own, and the callbacks run with them held. Called with publishLock held
// (no callback takes it).
void publishChangedState() {
    bool sendStatus, sendButtons, online;
    std::string buttonsPayload;
    {
        std::lock_guard<std::mutex> guard(stateLock);
        if (freshConnection.exchange(false)) {
            statusDirty = true;
            buttonsDirty = !buttons.empty();
        }
        sendStatus = statusDirty;
        sendButtons = buttonsDirty;
        online = bridgeOnline;
        if (sendButtons) buttonsPayload = buttons;
        statusDirty = buttonsDirty = false;
    }
    if (sendStatus) publishStatus(online ? "online" : "offline");
    if (sendButtons) publishRetained(buttonsTopic, buttonsPayload);
}

std::string describe(int code, int savedErrno) {
    if (code == MOSQ_ERR_CONN_REFUSED && refusedCode >= 0)
        return std::string("it refused the connection: ") + mosquitto_connack_string(refusedCode);
    if (code == MOSQ_ERR_ERRNO) return std::strerror(savedErrno);
    if (code == MOSQ_ERR_EAI) return "the host name cannot be resolved";
    return mosquitto_strerror(code);
}

bool isStopping() {
    return stopping.load();
}

// Serves one connection until it fails or the program stops.
int serveConnection(StateReport& report, Backoff& backoff) {
    for (;;) {
        if (stopping) return MOSQ_ERR_SUCCESS;
        const int code = mosquitto_loop(client, 100, 1);
        if (unannounced.exchange(false)) {
            report.say("connected to the MQTT broker at " + brokerName + ", publishing under " +
                       prefix + "/");
            backoff.reset();
        }
        if (brokerUp) {
            std::lock_guard<std::mutex> guard(publishLock);
            publishChangedState();
        }
        if (code != MOSQ_ERR_SUCCESS) {
            brokerUp = false;
            return code;
        }
    }
}

// The last words: "offline", confirmed by the broker (or given up on), then
// a clean disconnect, which keeps the broker from sending the last will.
void leaveBroker() {
    if (!brokerUp) return;
    {
        std::lock_guard<std::mutex> guard(publishLock);
        if (sentStatus != "offline") publishStatus("offline");
    }
    const auto confirmed = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!statusDelivered && std::chrono::steady_clock::now() < confirmed &&
           mosquitto_loop(client, 50, 1) == MOSQ_ERR_SUCCESS) {
    }
    mosquitto_disconnect(client);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < until &&
           mosquitto_loop(client, 50, 1) == MOSQ_ERR_SUCCESS) {
    }
}

void runBroker() {
    StateReport report;
    Backoff backoff;
    while (!stopping) {
        refusedCode = -1;
        errno = 0;
        int code =
            mosquitto_connect_async(client, brokerHost.c_str(), brokerPort, keepAliveSeconds);
        int savedErrno = errno;
        const bool wasUp = code == MOSQ_ERR_SUCCESS;
        if (wasUp) {
            code = serveConnection(report, backoff);
            savedErrno = errno;
            if (stopping) break;
        }
        const bool hadSession = report.last.rfind("connected", 0) == 0;
        report.say((hadSession ? "lost the MQTT broker at " : "waiting for the MQTT broker at ") +
                   brokerName + " (" + describe(code, savedErrno) + ")");
        pauseUnless(backoff.next(), isStopping);
    }
    leaveBroker();
}

} // namespace

bool startBrokerLink(const PublishOptions& options) {
    brokerHost = options.broker.host;
    brokerPort = options.broker.portNumber;
    brokerName = endpointText(options.broker);
    prefix = options.topic;
    motionTopic = prefix + "/motion";
    buttonsTopic = prefix + "/buttons";
    statusTopic = prefix + "/status";

    mosquitto_lib_init();
    client = mosquitto_new(nullptr, true, nullptr);
    if (client == nullptr) return false;
    mosquitto_threaded_set(client, true);
    mosquitto_connect_callback_set(client, onConnect);
    mosquitto_disconnect_callback_set(client, onDisconnect);
    mosquitto_publish_callback_set(client, onPublish);
    // Subscribers learn from the broker when the publisher dies unannounced.
    if (mosquitto_will_set(client, statusTopic.c_str(), 7, "offline", 1, true) != MOSQ_ERR_SUCCESS)
        return false;

    // The thread inherits the mask: Ctrl+C must reach the bridge side's waits.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    brokerThread = std::thread(runBroker);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}

bool brokerConnected() {
    return brokerUp;
}

bool publishMotion(const char* payload, size_t length) {
    if (!brokerUp) return false;
    std::lock_guard<std::mutex> guard(publishLock);
    // "online" goes out before the first motion message of a connection.
    publishChangedState();
    return mosquitto_publish(client, nullptr, motionTopic.c_str(), static_cast<int>(length),
                             payload, 0, false) == MOSQ_ERR_SUCCESS;
}

void setBridgeOnline(bool online) {
    std::lock_guard<std::mutex> guard(stateLock);
    if (bridgeOnline == online) return;
    bridgeOnline = online;
    statusDirty = true;
}

void setButtons(const char* payload, size_t length) {
    std::lock_guard<std::mutex> guard(stateLock);
    buttons.assign(payload, length);
    buttonsDirty = true;
}

uint64_t retainedNotPublished() {
    return stateNotPublished.load();
}

void stopBrokerLink() {
    stopping = true;
    if (brokerThread.joinable()) brokerThread.join();
    if (client != nullptr) mosquitto_destroy(client);
    client = nullptr;
    mosquitto_lib_cleanup();
}
