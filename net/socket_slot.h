#pragma once
// The process-wide sockets of the LAN server, each open or none, used by the
// worker and closed by whichever thread gets there first.
//
// A descriptor number is free for reuse as soon as it is closed, and on Linux
// close() does not wake a call blocked on it. So the worker borrows a socket
// for each call; closing a borrowed socket only interrupts it, and the worker
// closes it when it hands it back. Either way each socket is closed exactly
// once and nobody touches its number afterwards.

#include <mutex>

#include "net/socket_layer.h"

struct SocketSlot {
    std::mutex lock;
    NativeSocket handle = noSocket;   // the open socket, or none
    NativeSocket borrowed = noSocket; // in use by a call right now
    bool closeOnReturn = false;       // taken while borrowed: the borrower closes it
};

extern SocketSlot listenSocket;
extern SocketSlot clientSocket;

// Stores a new socket; a socket still in the slot is closed first.
void placeSocket(SocketSlot& slot, NativeSocket socket);
// Stores an accepted connection, but only while the server slot still holds the
// listener it came from; otherwise the connection is closed and false returned.
// This keeps a connection accepted during a stop from escaping the stop.
bool placeAcceptedSocket(SocketSlot& server, NativeSocket listener, SocketSlot& slot,
                         NativeSocket accepted);
// The slot's socket for one call, or noSocket; hand it back with returnSocket.
// One borrower at a time (the worker).
NativeSocket borrowSocket(SocketSlot& slot);
void returnSocket(SocketSlot& slot, NativeSocket socket);
// Takes the socket and marks the slot none in one step, then closes it (or,
// while it is borrowed, interrupts it and leaves the close to the borrower).
void closeSocketSlot(SocketSlot& slot);
bool socketSlotOpen(SocketSlot& slot);
