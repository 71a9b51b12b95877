#pragma once

#include "../unit/FakePlayHead.h"

#include <cmath>

// Adds what a DAW reports beyond tempo, meter and seconds: quarter notes, the
// bar, samples, the loop and its own time stamp, at a steady tempo in 4/4.
inline juce::AudioPlayHead::PositionInfo withMusicalPosition (juce::AudioPlayHead::PositionInfo info, double seconds,
                                                              bool looping)
{
    const auto ppq = seconds * *info.getBpm() / 60.0;
    info.setPpqPosition (ppq);
    info.setPpqPositionOfLastBarStart (std::floor (ppq / 4.0) * 4.0);
    info.setBarCount ((juce::int64) std::floor (ppq / 4.0));
    info.setTimeInSamples ((juce::int64) (seconds * 48000.0));
    info.setIsLooping (looping);
    info.setLoopPoints (juce::AudioPlayHead::LoopPoints { 0.0, 8.0 });
    info.setHostTimeNs ((std::uint64_t) (seconds * 1.0e9));
    return info;
}

// The host's transport as it moves through a session, a phase every eight
// blocks: playing, recording in another tempo and meter, stopped, no position
// at all, a position with nothing filled in, and a two-second loop that keeps
// jumping back. `seconds` is the session time at the block's start.
inline juce::Optional<juce::AudioPlayHead::PositionInfo> movingTransportAt (int block, double seconds)
{
    switch (block / 8 % 6)
    {
        case 0: return withMusicalPosition (FakePlayHead::playing (120.0, 4, 4, seconds), seconds, false);
        case 1:
        {
            auto info = FakePlayHead::playing (97.5, 7, 8, seconds);
            info.setIsRecording (true);
            return info;
        }
        case 2:
        {
            auto info = FakePlayHead::playing (120.0, 4, 4, seconds);
            info.setIsPlaying (false);
            return info;
        }
        case 3: return {};
        case 4: return juce::AudioPlayHead::PositionInfo {};
        default: return withMusicalPosition (FakePlayHead::playing (174.0, 3, 4, std::fmod (seconds, 2.0)),
                                             std::fmod (seconds, 2.0), true);
    }
}
