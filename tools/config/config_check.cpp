#include "tools/config/config_check.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/headless/diagnostics.h"
#include "app/headless/diagnostics_platform.h"
#include "device/serial_port.h"
#include "net/datagram_socket.h"
#include "net/socket_layer.h"
#include "settings/settings.h"
#include "settings/settings_table.h"
#include "text/listen_address.h"
#include "text/number_text.h"
#include "tools/config/config.h"
#include "tools/config/console_text.h"
#include "tools/config/window_program.h"

namespace {

// Prints one note, broken for an 80-column console. The bridge's own name at
// its head goes: here the notes are this program's answer, not a running
// bridge's.
void printWrapped(const char* note) {
    const char head[] = "tolvane-headless: ";
    if (std::strncmp(note, head, sizeof head - 1) == 0) note += sizeof head - 1;
    writeWrapped(stdout, note, 0, 4);
}

bool checkSerialPort() {
    char port[comPortSize];
    getComPort(port);
    char data[512];
    TextBuilder text{data, sizeof data};
    const SystemResult opened = openSerialPort();
    if (opened) {
        closeSerialPort();
        text.append("the serial port ");
        text.append(port);
        text.append(" opens (whether a device answers on it is not tried)");
        printWrapped(data);
        return true;
    }
    appendSerialOpenFailure(text, port, opened);
    printWrapped(data);
    if (windowProgramRuns())
        printWrapped("a tolvane.exe is running: while it measures it holds its port and no other "
                     "program can open it. Exit it and check again");
    return false;
}

bool checkLanPort() {
    const int32_t lanPort = settings.lanPort.load();
    const auto port = static_cast<uint16_t>(static_cast<uint32_t>(lanPort) & 0xFFFFu);
    const bool runs =
        settings.lanEnabled.load() != 0 && settings.deviceMode.load() == devicePresetC;
    char data[512];
    TextBuilder text{data, sizeof data};
    text.append(runs ? "LAN server: "
                     : "LAN server: off with these settings (it runs with "
                       "lanEnabled=1 and deviceMode=C); ");
    if (port == 0) {
        text.append("lanPort ");
        text.appendInteger(lanPort);
        text.append(" is no port to listen on");
        printWrapped(data);
        return !runs;
    }
    char addressText[lanAddressSize];
    getLanAddress(addressText);
    ListenAddress address;
    parseListenAddress(addressText, &address, nullptr); // the reader stores checked values only
    startSocketLayer();
    NativeSocket listener = noSocket;
    const SystemResult opened = openListener(port, &listener, address);
    bool addressHere = true;
    if (opened) {
        closeNativeSocket(listener);
    } else if (address.family != ListenFamily::any) {
        // Any port at all on the address tells a port in use from an address
        // that is not this machine's.
        addressHere = openListener(0, &listener, address).ok;
        if (addressHere) closeNativeSocket(listener);
    }
    stopSocketLayer();
    if (!addressHere) {
        text.append("lanAddress ");
        text.append(addressText);
        text.append(" is no address of this machine, so the bridge cannot listen there; set one "
                    "of its addresses, localhost for this machine only, or nothing for every "
                    "address (`tolvane-config set lanAddress=`)");
        printWrapped(data);
        return !runs;
    }
    text.append("port ");
    text.appendInteger(port);
    if (opened) {
        text.append(" is free: the bridge can listen on ");
        appendListenEndpoint(text, addressText, port);
        if (address.family != ListenFamily::any) text.append(lanAddressReach(address));
    } else {
        text.append(" cannot be listened on: ");
        char words[256];
        describeSocketError(opened.error, words, sizeof words);
        text.append(words);
        appendLanOpenAdvice(text, opened, port);
    }
    printWrapped(data);
    return opened || !runs;
}

// The UDP output's target, when one is set: whether the name resolves (as the
// bridge would look it up) and whether a datagram leaves. The datagrams are
// empty, which neither opentrack nor an OSC receiver takes for a value.
bool checkUdpTarget() {
    char targetText[udpTargetSize];
    getUdpTarget(targetText);
    if (targetText[0] == '\0') return true;
    char data[768];
    TextBuilder text{data, sizeof data};
    text.append("UDP output: ");
    UdpTarget target;
    if (!parseUdpTarget(targetText, target.host, sizeof target.host, &target.port)) {
        text.append("udpTarget '");
        text.append(targetText);
        text.append("' is not HOST:PORT (an IPv4 address, a name or [IPv6], port 1..65535); the "
                    "bridge sends nothing");
        printWrapped(data);
        return false;
    }
    startSocketLayer();
    char reason[300];
    const UdpSocket socket = openUdpSocket(target, reason, sizeof reason);
    bool sent = false;
    if (socket == noUdpSocket) {
        text.append(reason);
        text.append("; the bridge would send nothing: check the name, or give an address");
    } else {
        const unsigned char empty[1] = {0};
        int error = sendUdpDatagram(socket, empty, 0);
        // A host that has nothing on the port answers (on a LAN, mostly at
        // once); the answer comes back as the error of the next send.
        if (error == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            error = sendUdpDatagram(socket, empty, 0);
        }
        closeUdpSocket(socket);
        char why[200];
        if (error != 0) describeUdpError(error, why, sizeof why);
        text.append("udpTarget ");
        text.append(targetText);
        if (error == 0) {
            sent = true;
            text.append(" resolves and a datagram can be sent to it (whether a program there "
                        "receives it is not known)");
        } else {
            text.append(" resolves, but a datagram to it was refused (");
            text.append(why);
            text.append("): most likely nothing receives on port ");
            text.appendInteger(target.port);
            text.append(" there; start the receiving program or check the port");
            // The bridge sends anyway and counts the failures.
            sent = true;
        }
    }
    stopSocketLayer();
    printWrapped(data);
    return sent;
}

} // namespace

int checkSettings(const char* path) {
    setDefaults();
    readSettingsFile(path);
    noteSettingsAtStart(path, printWrapped);
    if (const std::string waiting = buttonsWaitingForClient(); !waiting.empty())
        printWrapped(("warning: " + waiting).c_str());
    const bool portOpens = checkSerialPort();
    const bool lanFree = checkLanPort();
    const bool udpUsable = checkUdpTarget();
    const bool dsuFree = checkDsuServer();
    checkMouseScreen();
    return portOpens && lanFree && udpUsable && dsuFree ? 0 : 1;
}

void noteWindowProgramAfterSet(const char* path) {
    // tolvane.exe reads only tolv.conf in its own folder: another file is
    // never its, and this folder's is the one a person most likely means.
    if (!isWindowSettingsFile(path) || !windowProgramRuns()) return;
    std::fputs("tolvane-config: note: a tolvane.exe is running (in this folder or another). "
               "It reads tolv.conf only when it starts, and the next OK in its settings "
               "dialog writes the values it holds back over the file, undoing this change: "
               "close tolvane.exe first, or close and start it again now to use the new "
               "settings.\n",
               stderr);
}
