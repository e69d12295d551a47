// The one line search of the serial link and the decoder, over bytes in
// memory: what it skips, what it takes, and where a source that stops or a
// stop request leaves it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "device/device_line.h"
#include "device/line_search.h"

namespace {

struct Bytes {
    std::string data;
    size_t at = 0;
    int reads = 0;
};

// Hands out what is left, at most count bytes per call, as a port or file does.
bool readBytes(void* source, char* out, int count, int* got) {
    Bytes& b = *static_cast<Bytes*>(source);
    ++b.reads;
    *got = 0;
    while (*got < count && b.at < b.data.size())
        out[(*got)++] = b.data[b.at++];
    return *got == count;
}

const std::string tail75 = std::string(74, 'x') + "\r";

} // namespace

TEST(LineSearch, SkipsToTheSyncByteAndTakesTheLineInOneBlock) {
    Bytes bytes{std::string("noise\n") + '\0' + "T" + tail75 + "Tshort"};
    char line[deviceLineBufferSize];
    FoundLine found = searchDeviceLine(readBytes, &bytes, nullptr, line);
    EXPECT_TRUE(found.complete);
    EXPECT_EQ(found.length, deviceLineLength);
    EXPECT_EQ(std::string(line), "T" + tail75);
    EXPECT_EQ(bytes.reads, 9) << "one read per byte up to the sync byte, then one for the tail";

    // A tail that ends early is a line too, but not a complete one.
    found = searchDeviceLine(readBytes, &bytes, nullptr, line);
    EXPECT_FALSE(found.complete);
    EXPECT_EQ(found.length, 6);
    EXPECT_EQ(std::string(line), "Tshort");

    // Nothing left: no sync byte, an empty line.
    found = searchDeviceLine(readBytes, &bytes, nullptr, line);
    EXPECT_EQ(found.length, 0);
    EXPECT_EQ(line[0], '\0');
}

TEST(LineSearch, AStopEndsTheSearchAtAnyByte) {
    std::atomic<bool> stop{true};
    Bytes bytes{"xyz"};
    char line[deviceLineBufferSize];
    FoundLine found = searchDeviceLine(readBytes, &bytes, &stop, line);
    EXPECT_FALSE(found.complete);
    EXPECT_EQ(found.length, 3) << "the first byte ends the search; the rest is its tail";
    EXPECT_EQ(std::string(line), "Tyz");
}
