#pragma once
// The simulator's pseudo-terminal. Only the master side is kept open, so the
// program under test can close and reopen the terminal; whether it has the
// terminal open is seen from the master (a hang-up while it does not).

#include <csignal>
#include <cstddef>

struct PseudoTerminal {
    int master = -1;
    char path[128] = {};
};

// A new terminal in raw mode, its master non-blocking. False (errno set) when
// none can be made.
bool openPseudoTerminal(PseudoTerminal* t);
void closePseudoTerminal(PseudoTerminal* t);

// Makes link a symbolic link to target, replacing whatever was there in one step.
bool makeLink(const char* link, const char* target);

enum class TerminalWait { nothing, input, detached, failed };

// Waits up to timeoutMs for input from the program on the other side.
// detached: nobody has the terminal open.
TerminalWait waitForInput(const PseudoTerminal& t, int timeoutMs);

// Writes all bytes, waiting while the terminal's buffer is full, until done,
// the terminal fails or *quit is set.
bool writeAll(const PseudoTerminal& t, const char* data, size_t size,
              const volatile std::sig_atomic_t* quit);
