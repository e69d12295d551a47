// A LAN server for outside clients (browser, WebSocket libraries, a native
// client of the Windows build under wine): serves a fixed output for the given
// number of client sessions, the way the worker does, then exits.
//   lan_peer_server PORT plain|websocket SESSIONS

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/socket_layer.h"
#include "output/lan/lan_server.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lan_peer_server PORT plain|websocket SESSIONS\n");
        return 2;
    }
    setDefaults();
    settings.lanPort = std::atoi(argv[1]);
    settings.webSocketEnabled = std::strcmp(argv[2], "websocket") == 0 ? 1 : 0;
    const int sessions = std::atoi(argv[3]);
    const MotionOutput motion{{12.5f, -0.0f, -179.99951f}, {0.70710677f, 0.0f, 0.0f, 0.70710677f}};
    const ButtonState buttons{{1, 0, 0, 0, 1}};
    if (!startSocketLayer()) return 1;
    int failedOpens = 0;
    for (int session = 0; session < sessions;) {
        if (!openLanServer()) {
            if (++failedOpens > 100) return 1;
            continue;
        }
        int replies = 0;
        for (int command; (command = readRequest()) >= 0;) {
            if (command != 'D') continue;
            if (sendMotionOutput(motion, buttons) == ReplyOutcome::failed) break;
            ++replies;
        }
        closeClientSocket();
        closeListenSocket();
        std::printf("session %d: %d replies\n", ++session, replies);
        std::fflush(stdout);
    }
    stopSocketLayer();
    return 0;
}
