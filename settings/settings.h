#pragma once
// The one settings record of the process, its defaults and "tolv.conf".
//
// The window thread writes the record; the measurement worker reads single
// fields at the moment of use. Scalar fields are atomics so that each is read
// and written whole; the port name is copied under a lock.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "text/number_text.h"

constexpr int comPortSize = 32; // at most 31 characters and the terminator

// Values of deviceMode. The file may hold any other number, which neither
// polls as preset C nor counts as preset B.
constexpr int32_t devicePresetC = 0;     // polled: one line per poll byte
constexpr int32_t devicePresetB = 1;     // streams its lines unasked
constexpr int32_t devicePresetUnset = 2; // the default, until a file or the dialog sets one

struct Settings {
    char comPort[comPortSize]; // use getComPort/setComPort across threads
    std::atomic<float> screenDistance;
    std::atomic<int32_t> scrollSpeed;
    std::atomic<int32_t> mouseAveraging;
    std::atomic<int32_t> lanAveraging;
    std::atomic<int32_t> lanPort;
    std::atomic<uint8_t> mouseEnabled;
    std::atomic<int32_t> deviceMode; // devicePresetC, devicePresetB, devicePresetUnset
    std::atomic<uint8_t> lanEnabled;
    std::atomic<uint8_t> webSocketEnabled;
    std::atomic<uint8_t> accelerationOutput;
};

extern Settings settings;

inline constexpr const char* settingsFileName = "tolv.conf";

void setDefaults();
// Reads "tolv.conf" (or path); a missing file changes nothing.
void readSettingsFile(const char* path = settingsFileName);
// Reads the eleven lines from an open stream (used by readSettingsFile).
void readSettingsStream(FILE* file);
// Writes all eleven fields; a file that cannot be opened is silently skipped.
// Returns whether the file was written (callers in the program ignore it).
bool writeSettingsFile(const char* path = settingsFileName);
// The value of field index (0..10, in the file's order) as the file holds it.
void appendSettingValue(TextBuilder& out, int index);
// The eleven lines as writeSettingsFile stores them, "\n" after each. Returns
// the length, or -1 when the text does not fit size.
int formatSettingsText(char* text, size_t size);
// The same file, written to a temporary file in the same folder and renamed
// over the old one, so that a crash or a full disk never leaves half a file.
// For the tools; the settings dialog writes in place, as it always has.
// False with the system's reason when the file could not be replaced.
bool writeSettingsFileAtomically(const char* path, char* reason, size_t reasonSize);

// Copies the port name out (32 bytes) / in (cut to 31 characters), under a lock.
void getComPort(char* out);
void setComPort(const char* name);
