#pragma once
// The command-line convention every tolvane program follows, on top of
// getopt_long: "-h/--help" prints usage on standard output and exits 0,
// "--version" prints the program and version, and a usage error is one line
// naming the option and the problem, then "Try 'PROGRAM --help'.", exit 2.

#include <cstdint>

constexpr int usageErrorStatus = 2;

// How reading a program's options ended: run with them, or exit now with a
// status (0 after --help or --version, 2 after a usage error), the text
// printed already. Made from an exit status, so that printVersion(),
// usageError() and optionError() are returned as they are.
struct OptionsResult {
    constexpr OptionsResult(int exitStatus) : exitNow(true), status(exitStatus) {}
    static constexpr OptionsResult run() { return OptionsResult(); }

    bool exitNow;
    int status;

  private:
    constexpr OptionsResult() : exitNow(false), status(0) {}
};

// The project's one version number, from the build.
const char* tolvaneVersion();

// "PROGRAM VERSION" on standard output; returns 0 (the exit status).
int printVersion(const char* program);

// "PROGRAM: problem" and the hint on standard error; returns 2 (the exit
// status). The problem is printf-formatted.
int usageError(const char* program, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// The usage error for what getopt_long returned as ':' (a value is missing)
// or '?' (an unknown option, or a value given to a switch), called with
// opterr 0, ":" leading the short options, and `previous` the optind before
// the call. Returns 2 (the exit status).
int optionError(const char* program, int got, int argc, char** argv, int previous);

// A whole decimal number within [low, high]: optional sign and digits only,
// nothing before or after. False for anything else, including overflow.
bool parseWholeNumber(const char* text, int64_t low, int64_t high, int64_t* value);

// A decimal number within [low, high]: optional sign, digits with an optional
// "." and fraction, optional exponent; nothing before or after, no inf or nan.
bool parseDecimalNumber(const char* text, double low, double high, double* value);

// A TCP or UDP port number, 1 to 65535.
bool parsePortNumber(const char* text, uint16_t* port);

// "HOST:PORT" (the last ":" separates; "[v6]:port" keeps its brackets off).
// host receives at most hostSize-1 characters; false when it does not fit,
// the host is empty or the port is not a port number.
bool parseHostPort(const char* text, char* host, int hostSize, uint16_t* port);
