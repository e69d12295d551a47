#include "app/headless/diagnostics_platform.h"

#include <winsock2.h>

#include <windows.h>

#include <cstdlib>

void appendAbsolutePath(TextBuilder& text, const char* path) {
    char full[MAX_PATH];
    text.append(_fullpath(full, path, sizeof full) != nullptr ? full : path);
}

void appendSerialOpenFailure(TextBuilder& text, const char*, const SystemResult& failure) {
    appendReasonSentence(text, failure.reason);
    switch (failure.error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        text.append(
            ". The port does not exist: `tolvane-config ports` lists the COM ports present");
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        text.append(". Another program most likely has the port open (a COM port serves one "
                    "program at a time): end it, or choose another port");
        break;
    default:
        break;
    }
}

void appendLanOpenAdvice(TextBuilder& text, const SystemResult& failure, uint16_t) {
    if (failure.error == WSAEADDRINUSE) {
        text.append("; another program uses the port (`netstat -ano -p tcp` shows the process "
                    "number of each port, Task Manager its name): end it, or choose another "
                    "lanPort");
    } else if (failure.error == WSAEACCES) {
        text.append("; another program holds the port for itself, or the system keeps it "
                    "(`netsh interface ipv4 show excludedportrange protocol=tcp` lists those): "
                    "choose another lanPort");
    }
}
