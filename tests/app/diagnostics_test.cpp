// The notes' sentences after a system's own words: one full stop between
// them, whatever the system's message ends with; the note without a display.
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include "app/headless/diagnostics.h"
#include "app/headless/diagnostics_platform.h"
#include "settings/settings.h"

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

// Without a display the air mouse moves nothing; the note names what goes
// on, and only what is on.
TEST(Notes, NoDisplaySaysWhatGoesOn) {
    struct Case {
        bool lan, presetC, udp, dsu, recording;
        const char* after; // what follows "moves nothing; "
    } cases[] = {
        {false, true, false, false, false,
         "no other output is on, so the device's lines go nowhere"},
        {true, false, false, false, false,
         "no other output is on, so the device's lines go nowhere"},
        {true, true, false, false, false, "the LAN server goes on"},
        {false, true, true, true, false, "the UDP output and the DSU server go on"},
        {true, true, true, false, true, "the LAN server, the UDP output and the recording go on"},
    };
    for (const Case& c : cases) {
        setDefaults();
        settings.lanEnabled = c.lan ? 1 : 0;
        settings.deviceMode = c.presetC ? devicePresetC : devicePresetB;
        setUdpTarget(c.udp ? "127.0.0.1:4242" : "");
        settings.dsuServer = c.dsu ? DsuServerSwitch::on : DsuServerSwitch::off;
        static std::string said;
        noteNoDisplay(c.recording, [](const char* line) { said = line; });
        EXPECT_EQ(said, std::string("tolvane-headless: no display reachable, the air mouse moves "
                                    "nothing; ") +
                            c.after);
    }
}
