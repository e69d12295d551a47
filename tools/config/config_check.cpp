#include "tools/config/config_check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/headless/diagnostics.h"
#include "app/headless/diagnostics_platform.h"
#include "device/serial_port.h"
#include "output/lan/socket_layer.h"
#include "settings/settings.h"
#include "text/listen_address.h"
#include "text/number_text.h"
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
    bool free = false, addressHere = true;
    NativeSocket listener = openBoundSocket(address, port);
    if (listener != noSocket) {
        free = listenForOne(listener);
        closeNativeSocket(listener);
    } else if (address.family != ListenFamily::any) {
        // Any port at all on the address tells a port in use from an address
        // that is not this machine's.
        listener = openBoundSocket(address, 0);
        addressHere = listener != noSocket;
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
    if (free) {
        text.append(" is free: the bridge can listen on ");
        appendListenEndpoint(text, addressText, port);
        if (address.family != ListenFamily::any)
            text.append(isLoopbackAddress(address) ? " (lanAddress: this machine only)"
                                                   : " (lanAddress: this address only)");
    } else {
        text.append(" cannot be listened on: another program most likely uses it (");
#ifdef _WIN32
        text.append("`netstat -ano -p tcp` shows the process number of each port, Task "
                    "Manager its name");
#else
        text.append("`ss -ltnp` shows which");
#endif
        text.append("); end it or choose another lanPort.");
        if (port < 1024) text.append(" Ports below 1024 need administrator rights.");
    }
    printWrapped(data);
    return free || !runs;
}

} // namespace

int checkSettings(const char* path) {
    setDefaults();
    readSettingsFile(path);
    noteSettingsAtStart(path, printWrapped);
    const bool portOpens = checkSerialPort();
    const bool lanFree = checkLanPort();
    return portOpens && lanFree ? 0 : 1;
}

void noteWindowProgramAfterSet() {
    if (!windowProgramRuns()) return;
    std::fputs("tolvane-config: note: a tolvane.exe is running (in this folder or another). "
               "It reads tolv.conf only when it starts, and the next OK in its settings "
               "dialog writes the values it holds back over the file, undoing this change: "
               "close tolvane.exe first, or close and start it again now to use the new "
               "settings.\n",
               stderr);
}
