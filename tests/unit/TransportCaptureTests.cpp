#include "FakePlayHead.h"

#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <limits>

namespace
{
using Position = juce::AudioPlayHead::PositionInfo;
using quillbeat::TransportReading;

void expectReading (const TransportReading& actual, const TransportReading& expected, const char* label)
{
    EXPECT_EQ (actual.connected, expected.connected) << label;
    EXPECT_EQ (actual.blockCount, expected.blockCount) << label;
    EXPECT_EQ (actual.playing, expected.playing) << label;
    EXPECT_EQ (actual.recording, expected.recording) << label;
    EXPECT_EQ (actual.bpm, expected.bpm) << label;
    EXPECT_EQ (actual.timeSigNum, expected.timeSigNum) << label;
    EXPECT_EQ (actual.timeSigDen, expected.timeSigDen) << label;
    EXPECT_EQ (actual.positionSecs, expected.positionSecs) << label;
}

struct Step
{
    const char* label;
    bool hasPlayHead;
    juce::Optional<Position> position;
    TransportReading expected;
};

Position withOnly (bool playing, bool recording)
{
    Position p;
    p.setIsPlaying (playing);
    p.setIsRecording (recording);
    return p;
}

// Each table runs its steps, in order, against one fresh processor.
void runSteps (std::initializer_list<Step> steps)
{
    QuillbeatProcessor processor;
    FakePlayHead playHead;
    juce::AudioBuffer<float> buffer (2, 32);
    juce::MidiBuffer midi;

    for (const auto& step : steps)
    {
        playHead.position = step.position;
        processor.setPlayHead (step.hasPlayHead ? &playHead : nullptr);
        processor.processBlock (buffer, midi);
        expectReading (processor.readTransport(), step.expected, step.label);
    }
}

TEST (TransportCapture, StartsDisconnectedWithDefaults)
{
    QuillbeatProcessor processor;
    expectReading (processor.readTransport(), { false, 0, false, false, 120.0, 4, 4, 0.0 }, "fresh");
}

TEST (TransportCapture, HostWithoutPlayHeadOnlyCountsBlocks)
{
    runSteps ({
        { "first", false, {}, { false, 1, false, false, 120.0, 4, 4, 0.0 } },
        { "second", false, {}, { false, 2, false, false, 120.0, 4, 4, 0.0 } },
        { "play head without position", true, {}, { false, 3, false, false, 120.0, 4, 4, 0.0 } },
    });
}

TEST (TransportCapture, KeepsLastValuesForWhatThePositionLacks)
{
    runSteps ({
        { "flags only", true, withOnly (true, false), { true, 1, true, false, 120.0, 4, 4, 0.0 } },
        { "full", true, FakePlayHead::playing (128.0, 7, 8, 12.5), { true, 2, true, false, 128.0, 7, 8, 12.5 } },
        { "flags only again", true, withOnly (false, true), { true, 3, false, true, 128.0, 7, 8, 12.5 } },
        { "no position", true, {}, { true, 4, false, true, 128.0, 7, 8, 12.5 } },
        { "no play head", false, {}, { true, 5, false, true, 128.0, 7, 8, 12.5 } },
        { "negative pre-roll", true, FakePlayHead::playing (60.0, 3, 4, -1.5), { true, 6, true, false, 60.0, 3, 4, -1.5 } },
    });
}

TEST (TransportCapture, BlockCounterWrapsAroundInTwosComplement)
{
    quillbeat::TransportSnapshot snapshot (std::numeric_limits<std::int32_t>::max());
    snapshot.capture (nullptr);
    EXPECT_EQ (snapshot.read().blockCount, std::numeric_limits<std::int32_t>::min());
    snapshot.capture (nullptr);
    EXPECT_EQ (snapshot.read().blockCount, std::numeric_limits<std::int32_t>::min() + 1);
}

} // namespace
