#pragma once
// Counts of open descriptors (POSIX) or handles (Windows), so that tests can
// see a leak.

#include <sys/types.h>

// Of this process; -1 when they cannot be counted.
int openHandleCount();

#ifndef _WIN32
// Of another running process (from /proc); -1 when it cannot be read.
int descriptorCountOf(pid_t pid);
#endif
