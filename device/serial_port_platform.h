#pragma once
// What each platform file provides beneath the serial link operations.
// Every call takes the current port afresh, so a close made by another thread
// takes effect at the next transfer.

// Reads up to size bytes; returns when all have arrived or 100 ms after the
// call began. *count gets what arrived (possibly 0). False when no port is
// open, the port was closed during the call, or the transfer failed.
bool readPortBytes(char* data, int size, int* count);

// Writes size bytes, giving up 100 ms after the call began. *count gets what
// went out. False as for readPortBytes.
bool writePortBytes(const char* data, int size, int* count);
