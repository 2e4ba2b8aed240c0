// The platform-neutral rules: host texts and the progress clock.
#include <gtest/gtest.h>

#include <string>

#include "host_text.h"
#include "progress_clock.h"

namespace {

using dorvik::ParseHostText;

TEST(HostText, ValidTexts) {
    struct Case {
        const char *text;
        std::array<std::uint8_t, 4> bytes;
    };
    const Case cases[] = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"10.0.0.01", {10, 0, 0, 1}},
        {"1..2.3", {1, 0, 2, 3}},
        {"...", {0, 0, 0, 0}},
        {"255.255.255.255", {255, 255, 255, 255}},
        {"000000000000255.0.0.9", {255, 0, 0, 9}}, // 15 characters is still a part
        {"127.0..7", {127, 0, 0, 7}},
    };
    for (const Case &c : cases) {
        const auto bytes = ParseHostText(c.text);
        ASSERT_TRUE(bytes.has_value()) << c.text;
        EXPECT_EQ(*bytes, c.bytes) << c.text;
    }
}

TEST(HostText, InvalidTexts) {
    const std::string cases[] = {
        "",
        "printer",
        "1.2.3",
        "1.2.3.4.5",
        "1.2.3.256",
        "1.2.3.4.",
        "0000000000000001.2.3.4", // a 16-character part
        "1.2.3.-4",
        "1.2.3.+4",
        "1.2.3. 4",
        "1.2.3.4 ",
        "0x1.2.3.4",
        "99999999999999999999.1.1.1",
        std::string("1.2\0.3.4", 8),
    };
    for (const std::string &text : cases)
        EXPECT_FALSE(ParseHostText(text).has_value()) << '"' << text << '"';
}

TEST(ProgressClock, IdleStepsReportOncePerSecondAfterTheFirstStartsTheClock) {
    dorvik::ProgressClock clock;
    EXPECT_FALSE(clock.ShouldReport(0, 5000)); // starts the clock
    EXPECT_EQ(clock.Last(), 5000u);
    EXPECT_FALSE(clock.ShouldReport(0, 5999));
    EXPECT_TRUE(clock.ShouldReport(0, 6000));
    EXPECT_FALSE(clock.ShouldReport(0, 6500));
    EXPECT_TRUE(clock.ShouldReport(0, 7001));
    EXPECT_EQ(clock.Last(), 7001u);
}

TEST(ProgressClock, MovedBytesReportAtOnceAndStopTheClock) {
    dorvik::ProgressClock clock;
    EXPECT_TRUE(clock.ShouldReport(10, 100));
    EXPECT_TRUE(clock.ShouldReport(1, 101));
    EXPECT_FALSE(clock.ShouldReport(0, 5000));
    EXPECT_TRUE(clock.ShouldReport(3, 5001));
    EXPECT_EQ(clock.Last(), 0u);
    EXPECT_FALSE(clock.ShouldReport(0, 5002)); // restarts rather than reporting
}

TEST(ProgressClock, TickWraparound) {
    dorvik::ProgressClock clock;
    EXPECT_FALSE(clock.ShouldReport(0, 0xFFFFFF00u));
    EXPECT_FALSE(clock.ShouldReport(0, 0x100u)); // 512 ms later, across the wrap
    EXPECT_TRUE(clock.ShouldReport(0, 0x300u));  // 1024 ms later
}

} // namespace
