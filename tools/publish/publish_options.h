#pragma once
// The command line of tolvane-publish.

#include <string>
#include <vector>

// A host name or address and a port, as given by the user ("[::1]:1883" gives
// the host "::1").
struct Endpoint {
    std::string host;
    std::string port;
    int portNumber = 0;
};

struct PublishOptions {
    Endpoint bridge;
    bool webSocket = false;
    Endpoint broker;
    std::string topic = "tolvane";
    double rate = 0.0; // requests per second; 0: as fast as replies come
    std::vector<Endpoint> osc;
};

constexpr int maxOscTargets = 8;

// What follows the prefix in each topic published on; "/buttons" is the
// longest, so it decides how long a prefix may be.
constexpr const char* topicSuffixes[] = {"/motion", "/buttons", "/status"};
// MQTT carries a topic's length in two bytes.
constexpr size_t maxTopicLength = 65535;

enum class OptionsOutcome { run, done, usageError };

// Reads the command line. --help and --version are printed here (done); a
// usage error is reported here in one line and the hint to --help follows.
OptionsOutcome parsePublishOptions(int argc, char** argv, PublishOptions* options);

// "HOST:PORT" with a port of 1 to 65535; an IPv6 address goes in brackets.
// On false *problem says what is wrong.
bool parseEndpoint(const char* text, Endpoint* endpoint, std::string* problem);

// "HOST:PORT" again, with the brackets an IPv6 address needs.
std::string endpointText(const Endpoint& endpoint);
