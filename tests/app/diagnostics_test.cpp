// The notes' sentences after a system's own words: one full stop between
// them, whatever the system's message ends with.
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include "app/headless/diagnostics_platform.h"

TEST(Notes, TheSystemsFullStopIsNotDoubled) {
#ifdef _WIN32
    const int missing = ERROR_FILE_NOT_FOUND;
#else
    const int missing = ENOENT;
#endif
    const std::string head = "cannot open the serial port x: ";
    const struct {
        const char* system; // the system's message as it comes
        const char* shown;  // what the note keeps of it
    } cases[] = {
        {"The system cannot find the file specified.\r\n",
         "The system cannot find the file specified"},
        {"\xE6\x8C\x87\xE5\xAE\x9A\xE3\x81\x95\xE3\x82\x8C\xE3\x81\x9F\xE3\x80\x82\r\n",
         "\xE6\x8C\x87\xE5\xAE\x9A\xE3\x81\x95\xE3\x82\x8C\xE3\x81\x9F"},
#ifdef _WIN32
        {"\x8E\x77\x92\xE8\x82\xB3\x82\xEA\x82\xBD\x81\x42\r\n",
         "\x8E\x77\x92\xE8\x82\xB3\x82\xEA\x82\xBD"},
#endif
        {"No such file or directory", "No such file or directory"},
    };
    for (const auto& c : cases) {
        SystemResult failure{false, missing, ""};
        copyText(failure.reason, sizeof failure.reason, (head + c.system).c_str());
        char data[1024];
        TextBuilder text(data, sizeof data);
        appendSerialOpenFailure(text, "x", failure);
        EXPECT_EQ(std::string(data).rfind(head + c.shown + ". The port does not exist", 0), 0u)
            << data;
    }
}
