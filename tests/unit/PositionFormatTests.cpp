#include <bridge/PositionFormat.h>

#include <gtest/gtest.h>

#include <limits>

namespace
{
TEST (PositionFormat, MinutesSecondsMillisecondsTruncatedTowardZero)
{
    constexpr auto inf = std::numeric_limits<double>::infinity();

    const struct
    {
        double seconds;
        const char* expected;
    } cases[] = {
        { 0.0, "0:00.000" },
        { 65.25, "1:05.250" },
        { 3600.0, "60:00.000" },
        { 3725.5, "62:05.500" },
        { 59.9996, "0:59.999" }, // no rounding into the next second
        { 0.9996, "0:00.999" },
        { 1.001, "0:01.000" }, // 0.001 is a hair below in binary
        { -1.5, "0:-1.-500" }, // pre-roll: every part keeps the sign
        { -61.25, "-1:-1.-250" },
        { -0.0, "0:00.000" },
        // The edges of 32-bit whole seconds still render as they are...
        { 2147483647.5, "35791394:07.500" },
        { -2147483648.25, "-35791394:-8.-250" },
        // ...and anything beyond them, or not a number, is held to them.
        { 2147483648.0, "35791394:07.000" },
        { 3.0e9, "35791394:07.000" },
        { 1.0e300, "35791394:07.000" },
        { inf, "35791394:07.000" },
        { -2147483649.0, "-35791394:-8.000" },
        { -inf, "-35791394:-8.000" },
        { std::numeric_limits<double>::quiet_NaN(), "0:00.000" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (quillbeat::formatPosition (c.seconds), c.expected) << "seconds " << c.seconds;
}
} // namespace
