#pragma once
// The LAN server for one client: plain request bytes and text replies, or the
// WebSocket dialect, chosen by settings.webSocketEnabled at each operation.
//
// listenSocket and clientSocket are process-wide; the worker opens and uses
// them, the window thread may close them at any moment to release a worker
// blocked in accept or a receive. Each is closed exactly once.

#include "device/device_line.h"
#include "motion/orientation.h"

// Starts/stops the socket layer (WSAStartup/WSACleanup on Windows; nothing elsewhere).
bool startSocketLayer();
void stopSocketLayer();

// Listens on lanPort modulo 65536 (IPv4 any, backlog 1), accepts one client
// and, with WebSocket on, answers its opening handshake. False only when the
// listener could not be created, bound or put to listen (the socket is then
// closed again) or accept failed.
bool openLanServer();

// The command byte of one request (0..255), or -1 when the read failed.
int readRequest();

// Sends one reply; true when send reported more than zero bytes.
bool sendMotionOutput(const MotionOutput& motion, const ButtonState& buttons);

// Close and mark none; safe from any thread, each socket closed exactly once.
void closeClientSocket();
void closeListenSocket();
