#pragma once
// tolvane-probe --dsu: a DSU (cemuhook) client that asks the bridge's DSU
// server for its version, its slots and pad data, and prints what comes.

#include <csignal>
#include <cstdint>

struct DsuProbe {
    uint32_t address = 0; // IPv4, host order
    uint16_t port = 26760;
    long count = 0; // pad-data packets (and empty waits) before it ends; 0: until Ctrl+C
    int timeoutMs = 1000;
    bool quiet = false;
};

// The exit status: 0 when the server answered and pad data came, 1 when not.
int probeDsuServer(const DsuProbe& probe, const char* hostText,
                   const volatile std::sig_atomic_t* interrupted);
