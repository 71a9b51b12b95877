#include "FakePlayHead.h"

#include <bridge/PlayheadMessage.h>
#include <processor/MonotonicClock.h>
#include <processor/QuillbeatProcessor.h>

#include <juce_javascript/juce_javascript.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace
{
using Position = juce::AudioPlayHead::PositionInfo;
using quillbeat::PlayheadReading;

// Everything a play head can report, each value distinct.
Position everything()
{
    Position p;
    p.setIsPlaying (true);
    p.setIsRecording (true);
    p.setIsLooping (true);
    p.setBpm (96.0);
    p.setTimeSignature (juce::AudioPlayHead::TimeSignature { 7, 8 });
    p.setTimeInSeconds (17.353);
    p.setTimeInSamples (832944);
    p.setPpqPosition (35.7635);
    p.setPpqPositionOfLastBarStart (32.0);
    p.setBarCount (8);
    p.setLoopPoints (juce::AudioPlayHead::LoopPoints { 32.0, 40.0 });
    p.setHostTimeNs (123456789012345ull);
    return p;
}

Position flagsOnly()
{
    Position p;
    p.setIsPlaying (true);
    return p;
}

struct Expected
{
    bool connected;
    std::int32_t blockCount;
    std::optional<bool> playing, looping;
    std::optional<double> bpm, ppqPosition, ppqLoopEnd;
    std::optional<std::int64_t> positionSamples, barCount;
    std::optional<std::uint64_t> hostTimeNs;
    double todaysBpm;   // what today's reading shows beside it
};

TEST (PlayheadCapture, EachBlockReportsOnlyWhatItsOwnPositionCarried)
{
    QuillbeatProcessor processor;
    processor.setRateAndBufferSizeDetails (48000.0, 32);
    FakePlayHead playHead;
    juce::AudioBuffer<float> buffer (2, 32);
    juce::MidiBuffer midi;

    const struct
    {
        const char* label;
        bool hasPlayHead;
        juce::Optional<Position> position;
        Expected expected;
    } steps[] = {
        { "no play head", false, {}, { false, 1, {}, {}, {}, {}, {}, {}, {}, {}, 120.0 } },
        { "everything", true, everything(), { true, 2, true, true, 96.0, 35.7635, 40.0, 832944, 8, 123456789012345ull, 96.0 } },
        { "flags only", true, flagsOnly(), { true, 3, true, false, {}, {}, {}, {}, {}, {}, 96.0 } },
        { "no position", true, {}, { true, 4, {}, {}, {}, {}, {}, {}, {}, {}, 96.0 } },
    };

    auto lastCapture = quillbeat::monotonicNanoseconds();

    for (const auto& step : steps)
    {
        playHead.position = step.position;
        processor.setPlayHead (step.hasPlayHead ? &playHead : nullptr);
        processor.processBlock (buffer, midi);

        const auto r = processor.readPlayhead();
        const auto& e = step.expected;
        EXPECT_EQ (r.connected, e.connected) << step.label;
        EXPECT_EQ (r.blockCount, e.blockCount) << step.label;
        EXPECT_EQ (r.playing, e.playing) << step.label;
        EXPECT_EQ (r.looping, e.looping) << step.label;
        EXPECT_EQ (r.bpm, e.bpm) << step.label;
        EXPECT_EQ (r.ppqPosition, e.ppqPosition) << step.label;
        EXPECT_EQ (r.ppqLoopEnd, e.ppqLoopEnd) << step.label;
        EXPECT_EQ (r.positionSamples, e.positionSamples) << step.label;
        EXPECT_EQ (r.barCount, e.barCount) << step.label;
        EXPECT_EQ (r.hostTimeNs, e.hostTimeNs) << step.label;
        EXPECT_EQ (r.sampleRate, 48000.0) << step.label;
        EXPECT_EQ (processor.readTransport().bpm, e.todaysBpm) << step.label;

        ASSERT_TRUE (r.captureTimeNs.has_value()) << step.label;
        EXPECT_GE (*r.captureTimeNs, lastCapture) << step.label;
        EXPECT_LE (*r.captureTimeNs, quillbeat::monotonicNanoseconds()) << step.label;
        lastCapture = *r.captureTimeNs;
    }

    const auto full = [&]
    {
        playHead.position = everything();
        processor.setPlayHead (&playHead);
        processor.processBlock (buffer, midi);
        return processor.readPlayhead();
    }();

    EXPECT_EQ (full.recording, true);
    EXPECT_EQ (full.timeSigNum, 7);
    EXPECT_EQ (full.timeSigDen, 8);
    EXPECT_EQ (full.positionSecs, 17.353);
    EXPECT_EQ (full.ppqLastBarStart, 32.0);
    EXPECT_EQ (full.ppqLoopStart, 32.0);
}

TEST (PlayheadCapture, NothingBeforeTheFirstBlock)
{
    const QuillbeatProcessor processor;
    const auto r = processor.readPlayhead();

    EXPECT_FALSE (r.connected);
    EXPECT_EQ (r.blockCount, 0);
    EXPECT_FALSE (r.playing.has_value() || r.bpm.has_value() || r.positionSecs.has_value() || r.sampleRate.has_value()
                  || r.captureTimeNs.has_value());
}

// The object as the page receives it: through the framework's JSON writer,
// parsed by a real JavaScript engine.
juce::var asPageSeesIt (const juce::var& object)
{
    juce::JavascriptEngine engine;
    juce::Result result = juce::Result::ok();
    const auto json = juce::JSON::toString (object, true);
    const auto text = engine.evaluate ("JSON.stringify(JSON.parse(" + juce::JSON::toString (json) + "))", &result);
    EXPECT_TRUE (result.wasOk()) << json;
    return juce::JSON::parse (text.toString());
}

TEST (PlayheadMessage, EveryKeyInOrderWithNullForWhatIsAbsent)
{
    PlayheadReading full;
    full.connected = true;
    full.blockCount = -5;
    full.playing = true;
    full.recording = false;
    full.looping = true;
    full.bpm = 96.0;
    full.timeSigNum = 7;
    full.timeSigDen = 8;
    full.positionSecs = 17.353;
    full.positionSamples = 6000000000ll;  // past 32 bits: sent whole
    full.ppqPosition = 35.7635;
    full.ppqLastBarStart = 32.0;
    full.barCount = 8;
    full.ppqLoopStart = 32.0;
    full.ppqLoopEnd = 40.0;
    full.sampleRate = 44100.0;
    full.hostTimeNs = 9000000123456789ull;
    full.captureTimeNs = 5000250000ll;

    const char* keys[] = { "connected", "blockCount", "playing", "recording", "looping", "bpm", "timeSigNum",
                           "timeSigDen", "positionSecs", "positionSamples", "ppqPosition", "ppqLastBarStart",
                           "barCount", "ppqLoopStart", "ppqLoopEnd", "sampleRate", "hostTimeMs", "captureTimeMs",
                           "sentTimeMs" };

    for (const auto& reading : { full, PlayheadReading {} })
    {
        const auto object = quillbeat::buildPlayheadObject (reading, 5000260000ll);
        const auto& props = object.getDynamicObject()->getProperties();
        ASSERT_EQ (props.size(), (int) std::size (keys));

        for (int i = 0; i < props.size(); ++i)
            EXPECT_EQ (props.getName (i).toString(), keys[i]);
    }

    const auto sent = asPageSeesIt (quillbeat::buildPlayheadObject (full, 5000260000ll));
    EXPECT_EQ (sent["blockCount"], juce::var (-5));
    EXPECT_EQ (sent["recording"], juce::var (false));
    EXPECT_EQ ((double) sent["ppqPosition"], 35.7635);
    EXPECT_EQ ((juce::int64) sent["positionSamples"], 6000000000ll);
    EXPECT_EQ ((int) sent["barCount"], 8);
    EXPECT_DOUBLE_EQ ((double) sent["hostTimeMs"], 9000000123.456789);
    EXPECT_DOUBLE_EQ ((double) sent["captureTimeMs"], 5000.25);
    EXPECT_DOUBLE_EQ ((double) sent["sentTimeMs"], 5000.26);

    const auto empty = asPageSeesIt (quillbeat::buildPlayheadObject ({}, 1000000ll));
    EXPECT_EQ (empty["connected"], juce::var (false));
    EXPECT_EQ (empty["blockCount"], juce::var (0));
    EXPECT_DOUBLE_EQ ((double) empty["sentTimeMs"], 1.0);

    for (const juce::String key : keys)
    {
        const auto alwaysThere = key == "connected" || key == "blockCount" || key == "sentTimeMs";
        EXPECT_TRUE (empty.getDynamicObject()->hasProperty (key)) << key;
        EXPECT_EQ (empty[juce::Identifier (key)].isVoid(), ! alwaysThere) << key;
    }
}

TEST (PlayheadMessage, OddHostNumbersAreTreatedAsTodaysMessagesTreatThem)
{
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();
    constexpr auto inf = std::numeric_limits<double>::infinity();
    constexpr double highest = 2147483647.0, lowest = -2147483648.0;

    const struct
    {
        const char* label;
        double bpm, seconds, ppq, loopStart, loopEnd;
        int num, den;
        double sentBpm, sentSeconds, sentPpq, sentLoopStart, sentLoopEnd;
    } cases[] = {
        { "not a number", nan, nan, nan, nan, nan, 4, 4, 0.0, 0.0, 0.0, 0.0, 0.0 },
        { "infinities", inf, -inf, inf, -inf, inf, 4, 4, highest, lowest, highest, lowest, highest },
        { "past 32 bits", 1e12, -1e12, 3e9, 0.0, 1e300, 4, 4, highest, lowest, highest, 0.0, highest },
        { "negative pre-roll", 120.0, -1.5, -3.0, 0.0, 8.0, 4, 4, 120.0, -1.5, -3.0, 0.0, 8.0 },
        { "loop ending before it starts", 120.0, 1.0, 2.0, 40.0, 32.0, 4, 4, 120.0, 1.0, 2.0, 40.0, 32.0 },
        { "no time signature", 120.0, 1.0, 2.0, 0.0, 4.0, 0, 0, 120.0, 1.0, 2.0, 0.0, 4.0 },
        { "absurd time signature", 120.0, 1.0, 2.0, 0.0, 4.0, 1000000, -3, 120.0, 1.0, 2.0, 0.0, 4.0 },
    };

    for (const auto& c : cases)
    {
        PlayheadReading r;
        r.connected = true;
        r.bpm = c.bpm;
        r.positionSecs = c.seconds;
        r.ppqPosition = c.ppq;
        r.ppqLastBarStart = c.ppq;
        r.ppqLoopStart = c.loopStart;
        r.ppqLoopEnd = c.loopEnd;
        r.timeSigNum = c.num;
        r.timeSigDen = c.den;

        const auto sent = asPageSeesIt (quillbeat::buildPlayheadObject (r, 0));
        ASSERT_TRUE (sent.isObject()) << c.label;
        EXPECT_EQ ((double) sent["bpm"], c.sentBpm) << c.label;
        EXPECT_EQ ((double) sent["positionSecs"], c.sentSeconds) << c.label;
        EXPECT_EQ ((double) sent["ppqPosition"], c.sentPpq) << c.label;
        EXPECT_EQ ((double) sent["ppqLastBarStart"], c.sentPpq) << c.label;
        EXPECT_EQ ((double) sent["ppqLoopStart"], c.sentLoopStart) << c.label;
        EXPECT_EQ ((double) sent["ppqLoopEnd"], c.sentLoopEnd) << c.label;
        EXPECT_EQ ((int) sent["timeSigNum"], c.num) << c.label;
        EXPECT_EQ ((int) sent["timeSigDen"], c.den) << c.label;
    }
}

} // namespace
