#pragma once
// What the notes need from the system: diagnostics_posix.cpp,
// diagnostics_win32.cpp.

#include <cstdint>

#include "text/number_text.h"
#include "text/system_result.h"

// The absolute form of path, also for a file that does not exist.
void appendAbsolutePath(TextBuilder& text, const char* path);

// Why the port named name did not open, as the open's failure says, and
// what to do about it.
void appendSerialOpenFailure(TextBuilder& text, const char* name, const SystemResult& failure);

// A failure's reason as the start of a sentence that the caller goes on
// with: any full stop and line end the system's own words bring are left
// off, so that the next sentence follows after one ". ".
void appendReasonSentence(TextBuilder& text, const char* reason);

// What to do about a LAN port that could not be listened on, for the error
// of the failure (nothing when there is no advice): "; " and the advice.
void appendLanOpenAdvice(TextBuilder& text, const SystemResult& failure, uint16_t port);
