#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// A play head the test sets up by hand: it reports `position`, or nothing.
struct FakePlayHead final : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> position;

    juce::Optional<PositionInfo> getPosition() const override { return position; }

    static PositionInfo playing (double bpm, int numerator, int denominator, double seconds)
    {
        PositionInfo info;
        info.setIsPlaying (true);
        info.setBpm (bpm);
        info.setTimeSignature (TimeSignature { numerator, denominator });
        info.setTimeInSeconds (seconds);
        return info;
    }
};
