#pragma once
// A socket connected to a host given by name or address: the one place a name
// is resolved, for the UDP output's target and the client library alike.

#include "net/socket_layer.h"

enum class SocketKind { stream, datagram };

// Resolves host and port, then connects a socket of the kind to the first
// address that takes one: a stream with Nagle's delay off, a datagram socket
// that never blocks (a send needs no address, and an ICMP error about an
// earlier datagram comes back as the error of a later send). The reason says
// "cannot resolve 'HOST': ..." or "cannot connect to HOST port PORT: ...";
// error is the resolver's code (an EAI_ code on POSIX) when the name did not
// resolve, else the last connect's or socket's error.
SystemResult connectByName(const char* host, const char* port, SocketKind kind,
                           NativeSocket* connected);

// Whether a failed connectByName may work when tried again: refused or
// unreachable (a server that does not listen yet), not an unknown name.
bool connectMayWorkLater(const SystemResult& failure);
