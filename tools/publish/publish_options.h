#pragma once
// The command line of tolvane-publish.

#include <string>
#include <vector>

#include "text/command_line.h"

// A host name or address and a port, as given by the user ("[::1]:1883" gives
// the host "::1").
struct Endpoint {
    std::string host;
    std::string port;
    int portNumber = 0;
};

// How the gateway logs in to the broker. The password never comes from the
// command line, which every user of the machine can read (ps).
struct BrokerLogin {
    std::string username; // empty: no login
    std::string passwordFile;
    bool hasPassword = false;
    std::string password;
};

// TLS to the broker: its certificate is checked against the CA file, or the
// system's CA store when there is none, and against the host name given.
struct BrokerTls {
    bool on = false;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    bool insecure = false; // no check of the host name
};

// The environment variable that holds the broker password.
constexpr const char* passwordVariable = "TOLVANE_MQTT_PASSWORD";

struct PublishOptions {
    Endpoint bridge;
    bool webSocket = false;
    Endpoint broker;
    BrokerLogin login;
    BrokerTls tls;
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

// Reads the command line. --help and --version are printed here; a usage
// error is reported here in one line and the hint to --help follows.
OptionsResult parsePublishOptions(int argc, char** argv, PublishOptions* options);

// The password from --password-file or the environment, and a look at every
// file the TLS options name, before anything connects. On false *problem is
// the one line to print (exit status 1). A non-empty *warning is said and the
// program goes on.
bool loadBrokerSecrets(PublishOptions* options, std::string* problem, std::string* warning);

// "HOST:PORT" with a port of 1 to 65535; an IPv6 address goes in brackets.
// On false *problem says what is wrong.
bool parseEndpoint(const char* text, Endpoint* endpoint, std::string* problem);

// "HOST:PORT" again, with the brackets an IPv6 address needs.
std::string endpointText(const Endpoint& endpoint);
