#pragma once
// The result of a call that can fail for a reason of the system (a port, a
// socket, a file): whether it worked and, when it did not, the system's
// error number and the reason for people, written by the call itself so
// that no caller has to work it out again.

#include <cstddef>

constexpr size_t systemReasonSize = 600; // room for a long path and the system's words

struct SystemResult {
    bool ok = true;
    int error = 0; // errno; GetLastError on Windows; 0 after a success or when none applies
    char reason[systemReasonSize] = ""; // what failed and why, no full stop at the end

    explicit operator bool() const { return ok; }
};
