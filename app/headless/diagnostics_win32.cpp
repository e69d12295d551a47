#include "app/headless/diagnostics_platform.h"

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
