#pragma once

// The rows every benchmark program prints: one Markdown table row per figure,
// so scripts/bench.sh can put them under one header and the README can show
// them as they are.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace bench
{

inline double median (std::vector<double> values)
{
    if (values.empty())
        return 0.0;

    std::sort (values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

inline std::string format (const char* pattern, double value)
{
    char text[64];
    std::snprintf (text, sizeof (text), pattern, value);
    return text;
}

// A time in nanoseconds, in the unit that keeps three significant digits readable.
inline std::string duration (double nanoseconds)
{
    if (nanoseconds < 1.0e3)
        return format ("%.0f ns", nanoseconds);
    if (nanoseconds < 1.0e6)
        return format ("%.2f µs", nanoseconds / 1.0e3);
    if (nanoseconds < 1.0e9)
        return format ("%.1f ms", nanoseconds / 1.0e6);
    return format ("%.2f s", nanoseconds / 1.0e9);
}

inline std::string milliseconds (double ms) { return format ("%.0f ms", ms); }

inline std::string mebibytes (double kib) { return format ("%.1f MiB", kib / 1024.0); }

// A count with thousands separators.
inline std::string count (double value)
{
    const auto digits = format ("%.0f", std::round (value));
    const auto firstDigit = digits[0] == '-' ? 1u : 0u;
    std::string grouped;

    for (size_t i = 0; i < digits.size(); ++i)
    {
        if (i > firstDigit && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }

    return grouped;
}

inline std::string ratio (double measured, double baseline)
{
    return baseline > 0.0 && measured >= 0.0 ? format ("%.3f", measured / baseline) : "n/a";
}

struct Row
{
    std::string area, measure, quillbeat, baseline = "—", ratio = "—", goal = "";
};

inline void print (const Row& row)
{
    std::printf ("| %s | %s | %s | %s | %s | %s |\n", row.area.c_str(), row.measure.c_str(), row.quillbeat.c_str(),
                 row.baseline.c_str(), row.ratio.c_str(), row.goal.c_str());
    std::fflush (stdout);
}

} // namespace bench
