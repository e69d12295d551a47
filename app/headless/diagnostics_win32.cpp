#include "app/headless/diagnostics_platform.h"

#include <windows.h>

#include <cstdlib>

void appendAbsolutePath(TextBuilder& text, const char* path) {
    char full[MAX_PATH];
    text.append(_fullpath(full, path, sizeof full) != nullptr ? full : path);
}

void appendSerialOpenFailure(TextBuilder& text, const char* name, int error) {
    text.append("cannot open the serial port ");
    text.append(name[0] != '\0' ? name : "(empty name)");
    text.append(": ");
    char reason[256];
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, reason, sizeof reason, nullptr);
    // The system's text ends in a full stop and a line end.
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n' ||
                          reason[length - 1] == ' ' || reason[length - 1] == '.'))
        --length;
    reason[length] = '\0';
    if (length > 0) {
        text.append(reason);
    } else {
        text.append("system error ");
        text.appendInteger(error);
    }
    switch (error) {
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
