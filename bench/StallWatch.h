#pragma once

#include <juce_events/juce_events.h>

#include <algorithm>

// The longest time the message thread went without running a 5 ms timer:
// how long a host's whole user interface stood still. Starts watching on
// construction; the figure includes the timer's own 5 ms.
class StallWatch final : private juce::Timer
{
public:
    StallWatch()
    {
        restart();
        startTimer (5);
    }

    ~StallWatch() override { stopTimer(); }

    void restart()
    {
        last = juce::Time::getMillisecondCounterHiRes();
        longest = 0.0;
    }

    // The longest gap so far, counting the one still open.
    double longestMilliseconds() const
    {
        return std::max (longest, juce::Time::getMillisecondCounterHiRes() - last);
    }

private:
    void timerCallback() override
    {
        const auto now = juce::Time::getMillisecondCounterHiRes();
        longest = std::max (longest, now - last);
        last = now;
    }

    double last = 0.0, longest = 0.0;
};
