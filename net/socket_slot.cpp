#include "net/socket_slot.h"

SocketSlot listenSocket;
SocketSlot clientSocket;

namespace {

// Called with the slot locked; the slot is none afterwards.
void closeLocked(SocketSlot& slot) {
    NativeSocket socket = slot.handle;
    slot.handle = noSocket;
    if (socket == noSocket) return;
    if (socket == slot.borrowed) {
        slot.closeOnReturn = !interruptSocket(socket);
    } else {
        closeNativeSocket(socket);
    }
}

} // namespace

void placeSocket(SocketSlot& slot, NativeSocket socket) {
    std::lock_guard<std::mutex> guard(slot.lock);
    closeLocked(slot);
    slot.handle = socket;
}

bool placeAcceptedSocket(SocketSlot& server, NativeSocket listener, SocketSlot& slot,
                         NativeSocket accepted) {
    std::lock_guard<std::mutex> serverGuard(server.lock);
    if (server.handle != listener) {
        closeNativeSocket(accepted);
        return false;
    }
    std::lock_guard<std::mutex> guard(slot.lock);
    closeLocked(slot);
    slot.handle = accepted;
    return true;
}

NativeSocket borrowSocket(SocketSlot& slot) {
    std::lock_guard<std::mutex> guard(slot.lock);
    slot.borrowed = slot.handle;
    slot.closeOnReturn = false;
    return slot.handle;
}

void returnSocket(SocketSlot& slot, NativeSocket socket) {
    std::lock_guard<std::mutex> guard(slot.lock);
    if (socket == noSocket || slot.borrowed != socket) return;
    if (slot.closeOnReturn) closeNativeSocket(socket);
    slot.borrowed = noSocket;
    slot.closeOnReturn = false;
}

void closeSocketSlot(SocketSlot& slot) {
    std::lock_guard<std::mutex> guard(slot.lock);
    closeLocked(slot);
}

bool socketSlotOpen(SocketSlot& slot) {
    std::lock_guard<std::mutex> guard(slot.lock);
    return slot.handle != noSocket;
}
