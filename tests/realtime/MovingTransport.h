#pragma once

#include "../unit/FakePlayHead.h"

#include <cmath>

// The host's transport as it moves through a session, a phase every eight
// blocks: playing, recording in another tempo and meter, stopped, no position
// at all, a position with nothing filled in, and a two-second loop that keeps
// jumping back. `seconds` is the session time at the block's start.
inline juce::Optional<juce::AudioPlayHead::PositionInfo> movingTransportAt (int block, double seconds)
{
    switch (block / 8 % 6)
    {
        case 0: return FakePlayHead::playing (120.0, 4, 4, seconds);
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
        default: return FakePlayHead::playing (174.0, 3, 4, std::fmod (seconds, 2.0));
    }
}
