#pragma once
// The values the programs' --help examples use, as a user of the platform
// they run on would type them (string literals, for joining into a usage text).

#ifdef _WIN32
#define TOLVANE_EXAMPLE_PORT "COM3"
#define TOLVANE_EXAMPLE_SETTINGS "%USERPROFILE%\\tolvane\\tolv.conf"
// The sample capture lies next to the programs in the zip.
#define TOLVANE_EXAMPLE_CAPTURE "capture.txt"
// cmd passes single quotes on as part of the text; only double quotes group.
#define TOLVANE_EXAMPLE_QUOTE "\""
#else
#define TOLVANE_EXAMPLE_PORT "ttyUSB0"
#define TOLVANE_EXAMPLE_SETTINGS "~/tolvane/tolv.conf"
#define TOLVANE_EXAMPLE_CAPTURE "samples/capture.txt"
#define TOLVANE_EXAMPLE_QUOTE "'"
#endif
