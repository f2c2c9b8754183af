#include "platform/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {
// A console that records its output instead of printing it.
class RecordingConsole : public console {
public:
    void output_data(int channel, const char* format, va_list args) override {
        char buffer[256];
        std::vsnprintf(buffer, sizeof buffer, format, args);
        text += std::to_string(channel) + ":" + buffer;
    }
    int input_data(char* buffer, size_t size) override {
        std::snprintf(buffer, size, "%s", "typed");
        return 1;
    }
    std::string text;
};
}  // namespace

TEST(Console, FirstConsoleReplacesTheDefaultOne) {
    console* before = console::active_console;
    ASSERT_NE(before, nullptr);
    {
        RecordingConsole rec;
        EXPECT_EQ(console::active_console, &rec);
        console::output("value %d of %s", 42, "x");
        EXPECT_EQ(rec.text, "0:value 42 of x");
        char buffer[16];
        EXPECT_EQ(console::input(buffer, sizeof buffer), 1);
        EXPECT_STREQ(buffer, "typed");

        // A second console does not take over from a non-default one.
        RecordingConsole second;
        EXPECT_EQ(console::active_console, &rec);
    }
    EXPECT_EQ(console::active_console, before);
}

TEST(ConsoleDeathTest, ErrorPrintsOnChannelOneAndAborts) {
    EXPECT_DEATH(
        {
            console::error("fatal %s\n", "thread");
        },
        "");
}
