#include "tools/publish/broker_link.h"

#include <mosquitto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "tools/publish/retry.h"

namespace {

// Also the connect time-out: libmosquitto gives up on a broker that has not
// answered (TCP, TLS and CONNACK) within it.
constexpr int keepAliveSeconds = 10;

mosquitto* client = nullptr;
std::thread brokerThread;
std::string loginName, passwordSource;
std::string brokerHost, brokerName, prefix, motionTopic, buttonsTopic, statusTopic;
int brokerPort = 0;
bool tlsOn = false, ownCaFile = false, ownCertificate = false;
pthread_t mainThread;

// Set when the broker's answer cannot change by waiting; the main thread is
// woken with SIGTERM to end the program.
std::atomic<bool> gaveUp{false};

// What libmosquitto logged about the TLS handshake of the last attempt: the
// host name check, the certificate check's result, the broker's alert about
// the gateway's own certificate (OpenSSL's reason code) and the first error
// line.
std::mutex tlsLock;
bool tlsNameMismatch = false;
long tlsVerifyResult = X509_V_OK;
int tlsAlert = 0;
std::string tlsError;

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

// The alerts a broker sends about the client's certificate, or the lack of
// one. A handshake failure is what a TLS 1.2 broker sends for a missing one.
bool clientCertificateAlert(int reason) {
    switch (reason) {
    case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
    case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
    case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
    case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
        return true;
    default:
        return false;
    }
}

// libmosquitto logs OpenSSL's errors as text; their packed code follows
// "error:" ("error:0A00045C:SSL routines::tlsv13 alert certificate required").
int sslReason(const char* text) {
    const char* at = std::strstr(text, "error:");
    if (at == nullptr) return 0;
    char* end = nullptr;
    const unsigned long code = std::strtoul(at + 6, &end, 16);
    if (end == at + 6 || *end != ':' || ERR_GET_LIB(code) != ERR_LIB_SSL) return 0;
    return ERR_GET_REASON(code);
}

// Called from libmosquitto's handshake while its SSL object still exists, so
// the certificate check's result can be read here and nowhere later.
void onLog(mosquitto* mosq, void*, int level, const char* text) {
    if (level != MOSQ_LOG_ERR || !tlsOn) return;
    std::lock_guard<std::mutex> guard(tlsLock);
    if (std::strstr(text, "host name verification failed") != nullptr) tlsNameMismatch = true;
    if (const int reason = sslReason(text); tlsAlert == 0 && clientCertificateAlert(reason))
        tlsAlert = reason;
    if (const SSL* ssl = static_cast<const SSL*>(mosquitto_ssl_get(mosq)); ssl != nullptr) {
        const long result = SSL_get_verify_result(ssl);
        if (result != X509_V_OK) tlsVerifyResult = result;
    }
    if (tlsError.empty()) tlsError = text;
}

bool tlsFailureLogged() {
    std::lock_guard<std::mutex> guard(tlsLock);
    return tlsNameMismatch || tlsVerifyResult != X509_V_OK || tlsAlert != 0 || !tlsError.empty();
}

void forgetTlsFailure() {
    std::lock_guard<std::mutex> guard(tlsLock);
    tlsNameMismatch = false;
    tlsVerifyResult = X509_V_OK;
    tlsAlert = 0;
    tlsError.clear();
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

std::string withoutFullStop(std::string text) {
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

struct Failure {
    std::string text;
    bool final = false; // waiting cannot mend it: the options must change
};

// The certificate checks that fail for the gateway's own options (which CA it
// trusts).
bool untrustedIssuer(long result) {
    return result == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
           result == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
           result == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN ||
           result == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
           result == X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE;
}

Failure describeTls(const std::string& head) {
    std::lock_guard<std::mutex> guard(tlsLock);
    const std::string where = "the MQTT broker at " + brokerName;
    if (tlsNameMismatch)
        return {where + " shows a certificate that is not for the name '" + brokerHost +
                    "': give --mqtt a name the certificate holds (--insecure skips this check, "
                    "at a risk)",
                true};
    if (untrustedIssuer(tlsVerifyResult))
        return {where + " shows a certificate of an unknown CA (" +
                    X509_verify_cert_error_string(tlsVerifyResult) + "): " +
                    (ownCaFile ? "the file given to --cafile does not hold the CA that signed it"
                               : "the system's CA certificates do not hold the CA that signed it; "
                                 "give that CA's certificate with --cafile"),
                true};
    // Any other failed check is the broker's certificate to mend (or this
    // machine's clock): retrying the same certificate cannot pass.
    if (tlsVerifyResult != X509_V_OK)
        return {where + " shows a certificate that fails the check (" +
                    X509_verify_cert_error_string(tlsVerifyResult) + "): " +
                    (tlsVerifyResult == X509_V_ERR_CERT_HAS_EXPIRED
                         ? "the broker needs a renewed certificate, or this machine's clock is "
                           "wrong"
                     : tlsVerifyResult == X509_V_ERR_CERT_NOT_YET_VALID
                         ? "check this machine's clock"
                         : "the broker needs a certificate that passes"),
                true};
    if (tlsAlert != 0) {
        const char* name = ERR_reason_error_string(ERR_PACK(ERR_LIB_SSL, 0, tlsAlert));
        const std::string alert = name != nullptr ? name : "alert " + std::to_string(tlsAlert);
        if (ownCertificate)
            return {where + " refused the client certificate given to --cert (" + alert + "): " +
                        (tlsAlert == SSL_R_TLSV1_ALERT_UNKNOWN_CA
                             ? "the broker's cafile does not hold the CA that signed it"
                         : tlsAlert == SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED
                             ? "it has expired"
                             : "the broker's log says why"),
                    true};
        return {where + " asks for a client certificate (" + alert +
                    "): give one with --cert and --key",
                true};
    }
    // libmosquitto's own lines ("Error: ...") are about the files given;
    // OpenSSL's ("OpenSSL Error[0]: ...") about the connection.
    const std::string own = "Error: ", openssl = "OpenSSL Error[0]: ";
    if (tlsError.rfind(own, 0) == 0)
        return {"cannot set up TLS to the MQTT broker at " + brokerName + ": " +
                    withoutFullStop(tlsError.substr(own.size())),
                true};
    const std::string reason = tlsError.rfind(openssl, 0) == 0 ? tlsError.substr(openssl.size())
                               : tlsError.empty()              ? std::string("no reason given")
                                                               : tlsError;
    return {head + " (TLS failed: " + reason + "; is this port its TLS listener?)"};
}

Failure describe(int code, int savedErrno, bool hadSession) {
    const std::string head =
        (hadSession ? "lost the MQTT broker at " : "waiting for the MQTT broker at ") + brokerName;
    if (code == MOSQ_ERR_CONN_REFUSED && refusedCode >= 0) {
        const int refused = refusedCode;
        // 4: bad user name or password; 5: not authorised.
        if (refused == 4 || refused == 5)
            return {"the MQTT broker at " + brokerName + " refused the login" +
                        (loginName.empty() ? std::string() : " as '" + loginName + "'") + " (" +
                        withoutFullStop(mosquitto_connack_string(refused)) + "): " +
                        (loginName.empty() ? "it wants a login: give --username, and the "
                                             "password in TOLVANE_MQTT_PASSWORD or a "
                                             "--password-file"
                         : passwordSource.empty()
                             ? "give the password in TOLVANE_MQTT_PASSWORD or "
                               "a --password-file, or check --username"
                             : "check --username and the password (" + passwordSource + ")"),
                    true};
        return {head + " (it refused the connection: " + mosquitto_connack_string(refused) + ")"};
    }
    // A failed handshake may surface as a lost connection too: what was
    // logged about it decides.
    if (tlsOn && (code == MOSQ_ERR_TLS || tlsFailureLogged())) return describeTls(head);
    const std::string seconds = std::to_string(keepAliveSeconds) + " s";
    switch (code) {
    case MOSQ_ERR_ERRNO:
        return {head + " (" +
                (savedErrno != 0 ? std::strerror(savedErrno) : "the connection failed") + ")"};
    case MOSQ_ERR_EAI:
        return {head + " (the host name cannot be resolved)"};
    case MOSQ_ERR_KEEPALIVE:
        return {head + (hadSession ? " (no answer for " + seconds + ")"
                                   : " (no answer within " + seconds +
                                         ": is this port its MQTT listener?)")};
    case MOSQ_ERR_MALFORMED_PACKET:
        return {head + " (it sent a malformed packet)"};
    default:
        break;
    }
    // Older libmosquitto names fewer of its codes than it returns.
    const std::string text = mosquitto_strerror(code);
    return {head + " (" +
            (text == "Unknown error." ? "libmosquitto error " + std::to_string(code) : text) + ")"};
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
        forgetTlsFailure();
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
        const Failure failure = describe(code, savedErrno, hadSession);
        report.say(failure.text);
        if (failure.final) {
            gaveUp = true;
            pthread_kill(mainThread, SIGTERM);
            break;
        }
        pauseUnless(backoff.next(), isStopping);
    }
    leaveBroker();
}

const char* optionalPath(const std::string& path) {
    return path.empty() ? nullptr : path.c_str();
}

bool setUpTls(const BrokerTls& tls, std::string* problem) {
    *problem = "cannot set up TLS to the MQTT broker (libmosquitto)";
    // Without a CA file the system's CA store is trusted; libmosquitto then
    // wants no file, but its certificate call still wants a CA file or folder.
    if (tls.caFile.empty() &&
        mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1) != MOSQ_ERR_SUCCESS)
        return false;
    if (!tls.caFile.empty() || !tls.certFile.empty()) {
        const char* caPath = tls.caFile.empty() ? X509_get_default_cert_dir() : nullptr;
        if (mosquitto_tls_set(client, optionalPath(tls.caFile), caPath, optionalPath(tls.certFile),
                              optionalPath(tls.keyFile), nullptr) != MOSQ_ERR_SUCCESS) {
            *problem = "cannot use the TLS files given (CA file, --cert, --key)";
            return false;
        }
    }
    // 1: SSL_VERIFY_PEER, the broker must show a certificate that checks out.
    if (mosquitto_tls_opts_set(client, 1, nullptr, nullptr) != MOSQ_ERR_SUCCESS ||
        mosquitto_tls_insecure_set(client, tls.insecure) != MOSQ_ERR_SUCCESS)
        return false;
    return true;
}

} // namespace

bool startBrokerLink(const PublishOptions& options, std::string* problem) {
    brokerHost = options.broker.host;
    brokerPort = options.broker.portNumber;
    brokerName = endpointText(options.broker);
    prefix = options.topic;
    motionTopic = prefix + "/motion";
    buttonsTopic = prefix + "/buttons";
    statusTopic = prefix + "/status";
    loginName = options.login.username;
    passwordSource = !options.login.passwordFile.empty() ? options.login.passwordFile
                     : options.login.hasPassword         ? std::string(passwordVariable)
                                                         : std::string();
    tlsOn = options.tls.on;
    ownCaFile = !options.tls.caFile.empty();
    ownCertificate = !options.tls.certFile.empty();
    mainThread = pthread_self();

    *problem = "cannot set up the MQTT client (libmosquitto)";
    mosquitto_lib_init();
    client = mosquitto_new(nullptr, true, nullptr);
    if (client == nullptr) return false;
    mosquitto_threaded_set(client, true);
    mosquitto_connect_callback_set(client, onConnect);
    mosquitto_disconnect_callback_set(client, onDisconnect);
    mosquitto_publish_callback_set(client, onPublish);
    mosquitto_log_callback_set(client, onLog);
    if (!loginName.empty() &&
        mosquitto_username_pw_set(client, loginName.c_str(),
                                  options.login.hasPassword ? options.login.password.c_str()
                                                            : nullptr) != MOSQ_ERR_SUCCESS)
        return false;
    if (tlsOn && !setUpTls(options.tls, problem)) return false;
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

bool brokerGaveUp() {
    return gaveUp.load();
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
