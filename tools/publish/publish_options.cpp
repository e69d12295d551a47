#include "tools/publish/publish_options.h"

#include <getopt.h>
#include <mosquitto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "text/command_line.h"
#include "text/number_text.h"

namespace {

const char usage[] =
    "usage: tolvane-publish --bridge HOST:PORT [--websocket] --mqtt HOST:PORT\n"
    "                       [--topic PREFIX] [--rate HZ] [--osc HOST:PORT]...\n"
    "\n"
    "Becomes the bridge's one LAN client, asks it for values and republishes every\n"
    "reply through an MQTT broker, so that any number of subscribers receive them.\n"
    "\n"
    "  --bridge HOST:PORT  the bridge's LAN server (its tolv.conf: preset C, LAN on)\n"
    "  --websocket         speak the WebSocket dialect (WebSocket on in tolv.conf)\n"
    "  --mqtt HOST:PORT    the MQTT broker (mosquitto listens on 1883)\n"
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
    optionVersion
};

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

OptionsOutcome parsePublishOptions(int argc, char** argv, PublishOptions* options) {
    static const option longOptions[] = {
        {"bridge", required_argument, nullptr, optionBridge},
        {"websocket", no_argument, nullptr, optionWebSocket},
        {"mqtt", required_argument, nullptr, optionMqtt},
        {"topic", required_argument, nullptr, optionTopic},
        {"rate", required_argument, nullptr, optionRate},
        {"osc", required_argument, nullptr, optionOsc},
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
            return OptionsOutcome::done;
        case optionVersion:
            printVersion("tolvane-publish");
            return OptionsOutcome::done;
        case optionBridge:
        case optionMqtt:
            if (!parseEndpoint(optarg, &endpoint, &problem)) {
                optionProblem(c == optionBridge ? "--bridge" : "--mqtt", problem);
                return OptionsOutcome::usageError;
            }
            (c == optionBridge ? options->bridge : options->broker) = endpoint;
            (c == optionBridge ? haveBridge : haveBroker) = true;
            break;
        case optionOsc:
            if (!parseEndpoint(optarg, &endpoint, &problem)) {
                optionProblem("--osc", problem);
                return OptionsOutcome::usageError;
            }
            if (options->osc.size() == maxOscTargets) {
                optionProblem("--osc", "at most 8 targets");
                return OptionsOutcome::usageError;
            }
            options->osc.push_back(endpoint);
            break;
        case optionWebSocket:
            options->webSocket = true;
            break;
        case optionTopic:
            if (!validPrefix(optarg, &problem)) {
                optionProblem("--topic", problem);
                return OptionsOutcome::usageError;
            }
            options->topic = optarg;
            break;
        case optionRate:
            if (!parseRate(optarg, &options->rate)) {
                optionProblem("--rate", std::string("expects requests per second from 0.1 to 1000 "
                                                    "(or 0: as fast as replies come), not '") +
                                            optarg + "'");
                return OptionsOutcome::usageError;
            }
            break;
        default:
            optionError("tolvane-publish", c, argc, argv, previous);
            return OptionsOutcome::usageError;
        }
    }
    if (optind < argc) {
        optionProblem(argv[optind], "unexpected argument");
        return OptionsOutcome::usageError;
    }
    if (!haveBridge) {
        optionProblem("--bridge", "missing: where the bridge listens, as HOST:PORT");
        return OptionsOutcome::usageError;
    }
    if (!haveBroker) {
        optionProblem("--mqtt", "missing: where the MQTT broker listens, as HOST:PORT");
        return OptionsOutcome::usageError;
    }
    return OptionsOutcome::run;
}
