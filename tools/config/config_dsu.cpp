// check: whether the DSU server could listen where dsuAddress and dsuPort
// say, by binding there once.
#include <cstdint>

#include "net/datagram_server.h"
#include "settings/settings.h"
#include "text/listen_address.h"
#include "text/number_text.h"
#include "tools/config/config_check.h"
#include "tools/config/console_text.h"

namespace {

void appendEndpoint(TextBuilder& text, const char* address, int32_t port) {
    text.append(address);
    text.append(":");
    text.appendInteger(port);
}

} // namespace

bool checkDsuServer() {
    const bool on = settings.dsuServer.load() == DsuServerSwitch::on;
    char addressText[dsuAddressSize];
    getDsuAddress(addressText);
    const int32_t port = settings.dsuPort.load();
    char data[768];
    TextBuilder text{data, sizeof data};
    text.append(on ? "DSU server: "
                   : "DSU server: off with these settings (dsuServer=on starts "
                     "it); ");
    // The reader stores checked values only: an IPv4 address that can be
    // listened on, a port 1..65535.
    ListenAddress address;
    address.family = ListenFamily::ipv4;
    parseIpv4Text(addressText, address.bytes);
    uint32_t bindTo = 0;
    parseIpv4Address(addressText, &bindTo);
    startSocketLayer();
    NativeSocket socket = noSocket;
    const SystemResult opened =
        openDatagramServer(bindTo, static_cast<uint16_t>(port & 0xFFFF), &socket);
    if (opened) closeNativeSocket(socket);
    stopSocketLayer();
    if (opened) {
        text.append("UDP port ");
        text.appendInteger(port);
        text.append(" is free: the bridge can listen on ");
        appendEndpoint(text, addressText, port);
        text.append(isLoopbackAddress(address) ? " (dsuAddress: emulators on this machine only)"
                    : isEveryAddress(address)
                        ? " (dsuAddress: every address; anyone who reaches the port sees the "
                          "device's motion, and a request with a forged sender has pad data sent "
                          "to that address for 2 s)"
                        : " (dsuAddress: this address only; anyone who reaches it sees the "
                          "device's motion, and a request with a forged sender has pad data sent "
                          "to that address for 2 s)");
        writeWrapped(stdout, data, 0, 4);
        return true;
    }
    switch (bindFailureOf(opened)) {
    case BindFailure::portInUse:
        text.append("UDP port ");
        text.appendInteger(port);
        text.append(" on ");
        text.append(addressText);
        text.append(" is taken: another program holds it (another DSU server, or a bridge "
                    "running with dsuServer=on): end it, or set another dsuPort");
        break;
    case BindFailure::addressNotHere:
        text.append("dsuAddress ");
        text.append(addressText);
        text.append(" is no address of this machine, so the bridge cannot listen there: set one "
                    "of its addresses, 127.0.0.1 for this machine only, or 0.0.0.0 for every "
                    "address (`tolvane-config set dsuAddress=127.0.0.1`)");
        break;
    case BindFailure::denied:
        text.append(opened.reason);
        text.append("; the system keeps that port: set another dsuPort");
        break;
    case BindFailure::other:
        text.append(opened.reason);
        break;
    }
    writeWrapped(stdout, data, 0, 4);
    return !on;
}
