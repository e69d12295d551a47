#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "measurement/event_log.h"

namespace {
std::string text() {
    char out[eventLogTextSize];
    size_t n = buildLogText(out);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}
} // namespace

TEST(EventLog, KeepsTheLatestThirtyNine) {
    clearLog();
    EXPECT_EQ(text(), "");
    std::string expected;
    for (int i = 1; i <= 39; ++i) {
        appendMessage(("m" + std::to_string(i)).c_str());
        expected += "m" + std::to_string(i) + "\n";
    }
    EXPECT_EQ(logCount(), 39);
    EXPECT_EQ(text(), expected);
    appendMessage("m40");
    EXPECT_EQ(logCount(), 39);
    EXPECT_EQ(text().substr(0, 3), "m2\n");
    EXPECT_EQ(text().substr(text().size() - 4), "m40\n");
    clearLog();
    appendMessage("Restart....");
    EXPECT_EQ(text(), "Restart....\n");
}

TEST(EventLog, LongMessagesAreCutAtSeventyNine) {
    clearLog();
    appendMessage(std::string(200, 'x').c_str());
    EXPECT_EQ(text(), std::string(79, 'x') + "\n");
    clearLog();
    for (int i = 0; i < 50; ++i)
        appendMessage(std::string(120, 'y').c_str());
    EXPECT_EQ(text().size(), 39u * 80u);
}

TEST(EventLog, ListenerSeesEachStoredMessage) {
    static std::vector<std::string> seen;
    setLogListener([](const char* m) { seen.push_back(m); });
    appendMessage("enable mouse");
    appendMessage(std::string(90, 'z').c_str());
    setLogListener(nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "enable mouse");
    EXPECT_EQ(seen[1].size(), 79u);
}

TEST(EventLog, ConcurrentAppendsClearsAndBuildsStayConsistent) {
    clearLog();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            appendMessage("open serial (COM19) :  error");
        done = true;
    });
    std::thread clearer([&] {
        while (!done)
            clearLog();
    });
    int builds = 0;
    while (!done || builds < 10) {
        std::string t = text();
        // Every shown line is whole and the count matches the lines.
        size_t lines = 0;
        for (size_t at = 0; at < t.size();) {
            size_t end = t.find('\n', at);
            ASSERT_NE(end, std::string::npos);
            ASSERT_EQ(t.substr(at, end - at), "open serial (COM19) :  error");
            at = end + 1;
            ++lines;
        }
        ASSERT_LE(lines, 39u);
        ++builds;
    }
    writer.join();
    clearer.join();
    EXPECT_LE(logCount(), 39);
}
