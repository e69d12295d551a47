#include "tools/publish/publish_options.h"

#include <getopt.h>
#include <mosquitto.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "text/command_line.h"
#include "text/number_text.h"

namespace {

const char usage[] =
    "usage: tolvane-publish --bridge HOST:PORT [--websocket] --mqtt HOST:PORT\n"
    "                       [--username NAME [--password-file PATH]]\n"
    "                       [--tls [--cafile PATH] [--cert PATH --key PATH]\n"
    "                              [--insecure]]\n"
    "                       [--topic PREFIX] [--rate HZ] [--osc HOST:PORT]...\n"
    "\n"
    "Becomes the bridge's one LAN client, asks it for values and republishes every\n"
    "reply through an MQTT broker, so that any number of subscribers receive them.\n"
    "\n"
    "  --bridge HOST:PORT  the bridge's LAN server (its tolv.conf: preset C, LAN on)\n"
    "  --websocket         speak the WebSocket dialect (WebSocket on in tolv.conf)\n"
    "  --mqtt HOST:PORT    the MQTT broker (mosquitto listens on 1883, with TLS\n"
    "                      usually on 8883)\n"
    "  --username NAME     log in to the broker as NAME, with the password from the\n"
    "                      environment variable TOLVANE_MQTT_PASSWORD\n"
    "  --password-file PATH\n"
    "                      or from the first line of PATH (never from the command\n"
    "                      line, which every user of the machine can read)\n"
    "  --tls               connect to the broker over TLS, checking its certificate\n"
    "                      against the system's CA certificates and its name\n"
    "                      against the host given to --mqtt\n"
    "  --cafile PATH       check it against the CA certificates in PATH (PEM) instead\n"
    "  --cert PATH         a client certificate (PEM), for a broker that asks for one\n"
    "  --key PATH          the client certificate's private key (PEM)\n"
    "  --insecure          do not check the certificate's name: anyone between the\n"
    "                      gateway and the broker can then pose as the broker\n"
    "  --topic PREFIX      topic prefix (default tolvane)\n"
    "  --rate HZ           requests per second, 0.1 to 1000 (default 0: as fast as\n"
    "                      replies come, one request at a time)\n"
    "  --osc HOST:PORT     also send each reply as the OSC message /tolvane/motion\n"
    "                      over UDP (up to 8 times)\n"
    "  -h, --help          this text\n"
    "  --version           the program's version\n"
    "\n"
    "Topics: PREFIX/motion (each reply as JSON, QoS 0), PREFIX/buttons (retained,\n"
    "QoS 1, when the buttons change), PREFIX/status (retained: online once the\n"
    "bridge answers, until it goes away; else offline; also the broker's last will).\n"
    "Both sides may come and go: the program reconnects by itself. Ctrl+C ends it.\n"
    "A refused login, a broker certificate that fails its check, and a broker that\n"
    "asks for a client certificate or refuses the one given end it with exit\n"
    "status 1: waiting cannot mend the options.\n"
    "\n"
    "Example:\n"
    "  tolvane-publish --bridge 192.168.1.20:8096 --mqtt localhost:1883\n"
    "  mosquitto_sub -h localhost -t 'tolvane/#' -v\n";

bool optionProblem(const char* option, const std::string& problem) {
    usageError("tolvane-publish", "%s: %s", option, problem.c_str());
    return false;
}

// A number made of digits and at most one ".", nothing else.
bool parseRate(const char* text, double* rate) {
    if (text[0] == '\0' || std::strspn(text, "0123456789.") != std::strlen(text)) return false;
    double value = 0.0;
    if (!scanDecimal(text, &value)) return false;
    if (value != 0.0 && !(value >= 0.1 && value <= 1000.0)) return false;
    *rate = value;
    return true;
}

bool validPrefix(const std::string& prefix, std::string* problem) {
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/') {
        *problem = "expects a topic prefix such as tolvane or home/tolvane, not '" + prefix + "'";
        return false;
    }
    size_t longest = 0;
    for (const char* suffix : topicSuffixes)
        longest = std::max(longest, std::strlen(suffix));
    if (prefix.size() + longest > maxTopicLength) {
        *problem = "a prefix of " + std::to_string(prefix.size()) +
                   " bytes is too long: MQTT topics hold at most " +
                   std::to_string(maxTopicLength) + " bytes, so the prefix at most " +
                   std::to_string(maxTopicLength - longest);
        return false;
    }
    for (const char* suffix : topicSuffixes) {
        if (mosquitto_pub_topic_check((prefix + suffix).c_str()) != MOSQ_ERR_SUCCESS) {
            *problem = "'" + prefix + "' cannot be part of a topic to publish on (no + or #)";
            return false;
        }
    }
    return true;
}

enum : int {
    optionBridge = 256,
    optionWebSocket,
    optionMqtt,
    optionTopic,
    optionRate,
    optionOsc,
    optionUsername,
    optionPassword,
    optionPasswordFile,
    optionTls,
    optionCaFile,
    optionCert,
    optionKey,
    optionInsecure,
    optionVersion
};

// MQTT carries the user name and the password with a two-byte length.
constexpr size_t maxLoginLength = 65535;

// The first line of the file, without its line end: at most a password's
// length, read in one bounded go. A file every user may read is used, with a
// word in *warning.
bool readPasswordFile(const std::string& path, std::string* password, std::string* problem,
                      std::string* warning) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *problem = "cannot read the password file " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && (status.st_mode & S_IROTH) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(status.st_mode & 0777));
        *warning = "the password file " + path +
                   " can be read by every user of the machine (mode " + mode +
                   "): make it yours alone with chmod 600 " + path;
    }
    std::string text(maxLoginLength + 3, '\0');
    const size_t got = std::fread(text.data(), 1, text.size(), file);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        *problem = "cannot read the password file " + path + ": " + std::strerror(error);
        return false;
    }
    text.resize(got);
    text.resize(std::min(text.find('\n'), text.size()));
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) {
        *problem = "the password file " + path + " holds no password on its first line";
        return false;
    }
    // libmosquitto takes the password as a C string: it would end at a NUL.
    if (const size_t nul = text.find('\0'); nul != std::string::npos) {
        std::fill(text.begin(), text.end(), '\0');
        *problem = "the first line of the password file " + path + " holds a NUL byte (byte " +
                   std::to_string(nul + 1) +
                   "), where the password would end: save the password as plain text (a file "
                   "saved as UTF-16 has a NUL in every other byte)";
        return false;
    }
    if (text.size() > maxLoginLength) {
        *problem = "the password in " + path + " is longer than MQTT allows (65535 bytes)";
        return false;
    }
    *password = text;
    std::fill(text.begin(), text.end(), '\0');
    return true;
}

bool readableFile(const char* what, const std::string& path, std::string* problem) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *problem =
            std::string("cannot read the ") + what + " " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

} // namespace

bool parseEndpoint(const char* text, Endpoint* endpoint, std::string* problem) {
    const std::string all = text;
    const size_t colon = all.rfind(':');
    if (colon == std::string::npos) {
        *problem = "expects HOST:PORT, not '" + all + "'";
        return false;
    }
    std::string host = all.substr(0, colon);
    const std::string port = all.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (host.find(':') == std::string::npos) host.clear(); // brackets are for IPv6
    } else if (host.find_first_of(":[]") != std::string::npos) {
        *problem = "an IPv6 address goes in brackets, as in [::1]:1883; not '" + all + "'";
        return false;
    }
    if (host.empty() || host.find_first_of(" \t\r\n") != std::string::npos) {
        *problem = "expects HOST:PORT with a host name or address, not '" + all + "'";
        return false;
    }
    int32_t number = 0;
    if (port.empty() || port.size() > 5 || std::strspn(port.c_str(), "0123456789") != port.size() ||
        !scanInteger(port.c_str(), &number) || number < 1 || number > 65535) {
        *problem = "expects a port from 1 to 65535 after the colon, not '" + port + "'";
        return false;
    }
    endpoint->host = host;
    endpoint->port = port;
    endpoint->portNumber = number;
    return true;
}

std::string endpointText(const Endpoint& endpoint) {
    if (endpoint.host.find(':') != std::string::npos)
        return "[" + endpoint.host + "]:" + endpoint.port;
    return endpoint.host + ":" + endpoint.port;
}

OptionsResult parsePublishOptions(int argc, char** argv, PublishOptions* options) {
    static const option longOptions[] = {
        {"bridge", required_argument, nullptr, optionBridge},
        {"websocket", no_argument, nullptr, optionWebSocket},
        {"mqtt", required_argument, nullptr, optionMqtt},
        {"topic", required_argument, nullptr, optionTopic},
        {"rate", required_argument, nullptr, optionRate},
        {"osc", required_argument, nullptr, optionOsc},
        {"username", required_argument, nullptr, optionUsername},
        {"password", optional_argument, nullptr, optionPassword},
        {"password-file", required_argument, nullptr, optionPasswordFile},
        {"tls", no_argument, nullptr, optionTls},
        {"cafile", required_argument, nullptr, optionCaFile},
        {"cert", required_argument, nullptr, optionCert},
        {"key", required_argument, nullptr, optionKey},
        {"insecure", no_argument, nullptr, optionInsecure},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, optionVersion},
        {nullptr, 0, nullptr, 0},
    };
    bool haveBridge = false, haveBroker = false;
    opterr = 0;
    optind = 1;
    for (;;) {
        const int previous = optind;
        const int c = getopt_long(argc, argv, ":h", longOptions, nullptr);
        if (c == -1) break;
        std::string problem;
        Endpoint endpoint;
        switch (c) {
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case optionVersion:
            return printVersion("tolvane-publish");
        case optionBridge:
        case optionMqtt:
            if (!parseEndpoint(optarg, &endpoint, &problem)) {
                optionProblem(c == optionBridge ? "--bridge" : "--mqtt", problem);
                return usageErrorStatus;
            }
            (c == optionBridge ? options->bridge : options->broker) = endpoint;
            (c == optionBridge ? haveBridge : haveBroker) = true;
            break;
        case optionOsc:
            if (!parseEndpoint(optarg, &endpoint, &problem)) {
                optionProblem("--osc", problem);
                return usageErrorStatus;
            }
            if (options->osc.size() == maxOscTargets) {
                optionProblem("--osc", "at most 8 targets");
                return usageErrorStatus;
            }
            options->osc.push_back(endpoint);
            break;
        case optionWebSocket:
            options->webSocket = true;
            break;
        case optionTopic:
            if (!validPrefix(optarg, &problem)) {
                optionProblem("--topic", problem);
                return usageErrorStatus;
            }
            options->topic = optarg;
            break;
        case optionRate:
            if (!parseRate(optarg, &options->rate)) {
                optionProblem("--rate", std::string("expects requests per second from 0.1 to 1000 "
                                                    "(or 0: as fast as replies come), not '") +
                                            optarg + "'");
                return usageErrorStatus;
            }
            break;
        case optionUsername:
            if (optarg[0] == '\0' || std::strlen(optarg) > maxLoginLength) {
                optionProblem("--username", "expects a user name of 1 to 65535 bytes");
                return usageErrorStatus;
            }
            options->login.username = optarg;
            break;
        case optionPassword:
            // Not even the value is repeated: it may be the password.
            optionProblem("--password", std::string("a password on the command line is seen by "
                                                    "every user of the machine (ps); put it into "
                                                    "the environment variable ") +
                                            passwordVariable +
                                            " or into a file for --password-file");
            return usageErrorStatus;
        case optionPasswordFile:
            options->login.passwordFile = optarg;
            break;
        case optionTls:
            options->tls.on = true;
            break;
        case optionCaFile:
            options->tls.caFile = optarg;
            break;
        case optionCert:
            options->tls.certFile = optarg;
            break;
        case optionKey:
            options->tls.keyFile = optarg;
            break;
        case optionInsecure:
            options->tls.insecure = true;
            break;
        default:
            return optionError("tolvane-publish", c, argc, argv, previous);
        }
    }
    if (optind < argc) {
        optionProblem(argv[optind], "unexpected argument");
        return usageErrorStatus;
    }
    if (!haveBridge) {
        optionProblem("--bridge", "missing: where the bridge listens, as HOST:PORT");
        return usageErrorStatus;
    }
    if (!haveBroker) {
        optionProblem("--mqtt", "missing: where the MQTT broker listens, as HOST:PORT");
        return usageErrorStatus;
    }
    const BrokerTls& tls = options->tls;
    const std::pair<const char*, bool> tlsOnly[] = {{"--cafile", !tls.caFile.empty()},
                                                    {"--cert", !tls.certFile.empty()},
                                                    {"--key", !tls.keyFile.empty()},
                                                    {"--insecure", tls.insecure}};
    for (const auto& [option, given] : tlsOnly) {
        if (given && !tls.on) {
            optionProblem(option, "acts on TLS to the broker: add --tls");
            return usageErrorStatus;
        }
    }
    if (tls.certFile.empty() != tls.keyFile.empty()) {
        optionProblem(tls.certFile.empty() ? "--key" : "--cert",
                      "a client certificate needs both --cert and --key");
        return usageErrorStatus;
    }
    if (!options->login.passwordFile.empty() && options->login.username.empty()) {
        optionProblem("--password-file", "a password goes with a user name: add --username");
        return usageErrorStatus;
    }
    return OptionsResult::run();
}

bool loadBrokerSecrets(PublishOptions* options, std::string* problem, std::string* warning) {
    BrokerLogin& login = options->login;
    if (!login.username.empty()) {
        // The file is the explicit choice, so it wins over the environment.
        if (!login.passwordFile.empty()) {
            if (!readPasswordFile(login.passwordFile, &login.password, problem, warning))
                return false;
            login.hasPassword = true;
        } else if (const char* password = std::getenv(passwordVariable); password != nullptr) {
            if (std::strlen(password) > maxLoginLength) {
                *problem = std::string("the password in ") + passwordVariable +
                           " is longer than MQTT allows (65535 bytes)";
                return false;
            }
            login.password = password;
            login.hasPassword = true;
        }
    }
    const BrokerTls& tls = options->tls;
    const std::pair<const char*, const std::string*> files[] = {
        {"CA file", &tls.caFile}, {"client certificate", &tls.certFile}, {"key", &tls.keyFile}};
    for (const auto& [what, path] : files)
        if (!path->empty() && !readableFile(what, *path, problem)) return false;
    return true;
}
