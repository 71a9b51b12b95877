#include "FakePlayHead.h"

#include <bridge/PlayheadMessage.h>
#include <bridge/TransportMessage.h>
#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <cmath>
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

// Tempos no sane host sends still reach the readings as sent, never
// replaced by the previous block's; only the messages make them renderable.
TEST (TransportCapture, OddTemposReachTheReadingsAsTheHostSentThem)
{
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();
    constexpr auto inf = std::numeric_limits<double>::infinity();
    constexpr double highest = 2147483647.0, lowest = -2147483648.0;

    const struct
    {
        const char* label;
        double bpm, sent;
    } cases[] = {
        { "zero", 0.0, 0.0 },
        { "negative", -96.0, -96.0 },
        { "999", 999.0, 999.0 },
        { "above 999", 1000.25, 1000.25 },
        { "huge", 1.0e12, highest },
        { "not a number", nan, 0.0 },
        { "infinity", inf, highest },
        { "minus infinity", -inf, lowest },
    };

    const auto same = [] (double a, double b) { return std::isnan (a) ? std::isnan (b) : juce::exactlyEqual (a, b); };

    for (const auto& c : cases)
    {
        QuillbeatProcessor processor;
        FakePlayHead playHead;
        processor.setPlayHead (&playHead);
        juce::AudioBuffer<float> buffer (2, 32);
        juce::MidiBuffer midi;

        playHead.position = FakePlayHead::playing (120.0, 4, 4, 1.0);
        processor.processBlock (buffer, midi);
        playHead.position = FakePlayHead::playing (c.bpm, 4, 4, 2.0);
        processor.processBlock (buffer, midi);

        const auto transport = processor.readTransport();
        const auto playhead = processor.readPlayhead();
        EXPECT_TRUE (same (transport.bpm, c.bpm)) << c.label << ": today's reading holds " << transport.bpm;
        ASSERT_TRUE (playhead.bpm.has_value()) << c.label;
        EXPECT_TRUE (same (*playhead.bpm, c.bpm)) << c.label << ": the play head reading holds " << *playhead.bpm;
        EXPECT_EQ (transport.positionSecs, 2.0) << c.label;

        EXPECT_EQ ((double) quillbeat::buildTransportObject (transport)["bpm"], c.sent) << c.label;
        EXPECT_EQ ((double) quillbeat::buildPlayheadObject (playhead, 0)["bpm"], c.sent) << c.label;
    }
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
