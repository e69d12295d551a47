#pragma once
// The MQTT side of the publisher: one broker connection, kept up by a thread
// of its own (libmosquitto), that reconnects with a bounded back-off and
// republishes the retained state (status, buttons) after every reconnection.

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/publish/publish_options.h"

// Starts the client thread, with the login and TLS of the options; false with
// the reason when libmosquitto cannot be set up. SIGINT and SIGTERM stay with
// the calling thread.
bool startBrokerLink(const PublishOptions& options, std::string* problem);

// True once the broker refused what waiting cannot change (the login, its
// certificate for the gateway's options): the thread has said why in one line
// and sent SIGTERM to the calling thread; the program ends with status 1.
bool brokerGaveUp();

// True while the broker has accepted the connection.
bool brokerConnected();

// A motion message, QoS 0, not retained, after any retained state changed
// since the last publish. False when it could not be handed to the broker
// connection (no broker right now): the message is dropped.
bool publishMotion(const char* payload, size_t length);

// The retained state; published when it changes and after every reconnection.
void setBridgeOnline(bool online);
void setButtons(const char* payload, size_t length);

// Status and buttons messages that could not be handed to the broker
// connection (those held while no broker is there are sent on reconnection
// and are not counted).
uint64_t retainedNotPublished();

// Publishes "offline", waits (bounded) until the broker has it, disconnects and
// ends the thread.
void stopBrokerLink();
