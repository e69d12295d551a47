#pragma once
// The capture format: device lines as the bridge's line search returned them,
// each with its receive time, one record per text line.
//
//   # tolvane capture 1
//   # any other line beginning with # is a comment
//   0.000000 TOL,   0.012, ... ,10000,23\r
//   0.010042 TOL,...
//   # appended: the times below count from 0 again
//   0.000000 TOL,...
//
// A record is the seconds since the recording started (six decimals), one
// blank, then the line's bytes escaped: 0x20..0x7E other than "\" as
// themselves, "\\", "\r", "\n", and "\xHH" (lower-case hex) for any other
// byte. Everything is bounded: a record holds at most captureBytesMax bytes.
//
// A new start of the bridge on the same file begins with the appended line
// (or, where two captures were joined, with the header again): the times
// start from 0 and the bridge's windows and air mouse from nothing.
//
// Text lines may end in CR LF as well (an editor or git may have saved the
// file so): a record's own CR is always escaped, so a raw CR before the line
// feed belongs to the line end.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "device/device_line.h"

inline constexpr char captureHeader[] = "# tolvane capture 1";
inline constexpr char captureAppendedLine[] = "# appended: the times below count from 0 again";

// The bytes of one record: what fits the bridge's line buffer.
constexpr size_t captureBytesMax = deviceLineBufferSize - 1;

// The latest time a record can hold: 4e9 seconds (some 126 years), so that
// the tools' clocks (nanoseconds in 64 bits, good for some 292 years) hold it
// with room to spare.
constexpr int64_t captureMicrosecondsMax = 4000000000000000;

// A record's text at its longest: 20 digits of seconds with the point and
// decimals, the blank, every byte as \xHH, the line feed and a NUL.
constexpr size_t captureRecordTextMax = 24 + 1 + 4 * captureBytesMax + 1 + 1;

struct CaptureRecord {
    int64_t microseconds = 0; // since the recording started
    size_t length = 0;
    char bytes[captureBytesMax + 1] = {}; // NUL after the last byte, for the parser
};

// Writes "<seconds> <escaped bytes>\n" and a NUL into out. Returns the text's
// length without the NUL, or 0 when it does not fit, microseconds is outside
// 0..captureMicrosecondsMax or length exceeds captureBytesMax (out then holds an empty text).
size_t formatCaptureRecord(int64_t microseconds, const char* bytes, size_t length, char* out,
                           size_t size);

enum class CaptureLineKind { record, comment, malformed };

// Reads one text line of a capture (without its line feed; a raw CR before it
// is taken as part of a CR LF line end). A malformed line leaves *reason
// saying why; record is written only for a record. Never reads past
// text + length.
CaptureLineKind parseCaptureLine(const char* text, size_t length, CaptureRecord* record,
                                 const char** reason);

// True when the text (one line, without its line feed, a CR before it
// allowed) is the first line of a capture.
bool isCaptureHeader(const char* text, size_t length);

// True when the text (one line, as above) marks a new start of the bridge:
// the appended line, or the header of a capture joined to another.
bool isCaptureNewStart(const char* text, size_t length);

// Reads one line of any length from f, up to and including "\n" (not stored),
// keeping the first size-1 bytes (NUL bytes included) in buffer, NUL-terminated.
// *length is the count kept, *cut is set when more was dropped. False at the
// end of the file with nothing read.
bool readTextLine(FILE* f, char* buffer, size_t size, size_t* length, bool* cut);
