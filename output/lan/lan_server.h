#pragma once
// The LAN server for one client: plain request bytes and text replies, or the
// WebSocket dialect, chosen by settings.webSocketEnabled when the client is
// accepted and kept for the whole connection.
//
// listenSocket and clientSocket are process-wide; the worker opens and uses
// them, the window thread may close them at any moment to release a worker
// blocked in accept or a receive. Each is closed exactly once.

#include "device/device_line.h"
#include "motion/orientation.h"
#include "text/system_result.h"

// Listens on lanPort modulo 65536 at lanAddress (by default every IPv4
// address; backlog 1), accepts one client and, with WebSocket on, answers its
// opening handshake. Fails only when the listener could not be created, bound
// or put to listen, or accept failed (also when the listener was closed
// meanwhile), with the system's error and reason; the listener is then closed
// again, so a failed attempt leaves no socket behind. Also fails, without any
// socket and with error 0, when the low 16 bits of lanPort are 0 (no port a
// client could know) or lanAddress is no address, and without accepting when
// stopRequested is already set once the listener exists.
// Works also when the handshake ended early: the client went away, its head
// did not fit 8192 bytes (answered "431 Request Header Fields Too Large"), its
// head had no key or one that did not fit beside the GUID (answered "400 Bad
// Request"), or it came from a web page whose origin webSocketOrigins does not
// list (answered "403 Forbidden"); a refused client is closed after the reply,
// once it closed its side or a second passed. In each case the first
// readRequest fails just as after a client that went away.
SystemResult openLanServer();

// The command byte of one request (0..255), or -1 when the read failed.
// Plain: one byte. WebSocket: one data message (see readRequestMessage); pings
// are answered and pongs dropped on the way, and a close frame from the client
// is answered and then fails the read like a closed connection.
int readRequest();
// Whether the client sends something (or goes away) within timeoutMs, so
// that the worker can let go of what it holds while a client stays quiet.
bool requestWithin(int timeoutMs);

enum class ReplyOutcome { sent, skipped, failed };

// Sends one reply (plain text, or a JSON text frame) with one send.
// failed: no client, or send reported 0 or less. skipped: the text does not
// fit (255 bytes; a JSON text of 126 bytes or more for a frame) and nothing
// was sent; the worker treats the request like one whose device line was
// rejected (no reply, next request, no error), never a cut or malformed reply.
ReplyOutcome sendMotionOutput(const MotionOutput& motion, const ButtonState& buttons);

// Close and mark none; safe from any thread, each socket closed exactly once.
// A worker blocked in accept or a receive on the socket returns at once.
// closeListenSocket also closes a client that was accepted while the client
// was being closed, so closing client then listener always stops the server.
void closeClientSocket();
void closeListenSocket();
