#include <bridge/AnalysisMessage.h>
#include <bridge/AnalysisRequest.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

// What the page sends to ask for analysis, and what each frame looks like to it.

namespace
{
using quillbeat::AnalysisFrame;
using quillbeat::AnalysisSettings;
using quillbeat::readAnalysisRequest;

// The native function's arguments, as the page's JSON arrives.
juce::Array<juce::var> arguments (const char* json)
{
    const auto parsed = juce::JSON::parse (juce::String ("[") + json + "]");
    return *parsed.getArray();
}

AnalysisSettings with (std::function<void (AnalysisSettings&)> change)
{
    AnalysisSettings s;
    change (s);
    return s;
}

TEST (AnalysisMessage, RequestsGiveSettingsAStopOrARefusalThatNamesTheRule)
{
    const auto stop = std::optional<AnalysisSettings>();

    const struct
    {
        const char* arguments;
        std::optional<AnalysisSettings> settings;   // when accepted
        const char* refusalMentions = nullptr;       // when refused
    } cases[] = {
        { "{}", AnalysisSettings {} },
        { "null", stop },
        { R"({"levels": false, "spectrum": false, "waveform": false})", stop },
        { R"({"levels": true, "spectrum": false, "waveform": false})", with ([] (auto& s) { s.spectrum = s.waveform = false; }) },
        { R"({"framesPerSecond": 15})", with ([] (auto& s) { s.framesPerSecond = 15; }) },
        { R"({"framesPerSecond": 60.0})", with ([] (auto& s) { s.framesPerSecond = 60; }) },
        { R"({"fftSize": 4096, "bandsPerOctave": 24})", with ([] (auto& s) { s.fftSize = 4096; s.bandsPerOctave = 24; }) },
        { R"({"fftSize": 1024, "bandsPerOctave": 1})", with ([] (auto& s) { s.fftSize = 1024; s.bandsPerOctave = 1; }) },
        { R"({"spectrumChannels": "each"})", with ([] (auto& s) { s.spectrumPerChannel = true; }) },
        { R"({"spectrumChannels": "sum"})", AnalysisSettings {} },
        { R"({"waveformSlices": 1})", with ([] (auto& s) { s.waveformSlices = 1; }) },
        { R"({"waveformSlices": 1024})", with ([] (auto& s) { s.waveformSlices = 1024; }) },

        { "", stop, "takes one argument" },
        { "{}, {}", stop, "takes one argument" },
        { "[]", stop, "must be an object, or null" },
        { "\"levels\"", stop, "must be an object, or null" },
        { "30", stop, "must be an object, or null" },
        { R"({"level": true})", stop, "unknown key \"level\"" },
        { R"({"levels": 1})", stop, "levels must be true or false (got a number)" },
        { R"({"waveform": "yes"})", stop, "waveform must be true or false (got a string)" },
        { R"({"framesPerSecond": 14})", stop, "framesPerSecond must be a whole number from 15 to 60" },
        { R"({"framesPerSecond": 61})", stop, "from 15 to 60" },
        { R"({"framesPerSecond": 30.5})", stop, "from 15 to 60" },
        { R"({"framesPerSecond": "30"})", stop, "(got a string)" },
        { R"({"framesPerSecond": 1e300})", stop, "from 15 to 60" },
        { R"({"fftSize": 2000})", stop, "fftSize must be one of 1024, 2048, 4096" },
        { R"({"bandsPerOctave": 4})", stop, "bandsPerOctave must be one of 1, 2, 3, 6, 12, 24" },
        { R"({"spectrumChannels": "left"})", stop, "spectrumChannels must be \"sum\" or \"each\"" },
        { R"({"waveformSlices": 0})", stop, "waveformSlices must be a whole number from 1 to 1024" },
        { R"({"waveformSlices": 1025})", stop, "from 1 to 1024" },
        { R"({"waveformSlices": null})", stop, "(got nothing)" },
        // One bad key refuses the whole call, whatever else is right in it.
        { R"({"levels": true, "fftSize": 3})", stop, "fftSize" },
    };

    for (const auto& c : cases)
    {
        const auto request = readAnalysisRequest (arguments (c.arguments));

        if (c.refusalMentions != nullptr)
        {
            EXPECT_TRUE (request.isRefused()) << c.arguments;
            EXPECT_TRUE (request.error.contains (c.refusalMentions)) << c.arguments << ": " << request.error;
            EXPECT_FALSE (request.settings.has_value()) << c.arguments;
            continue;
        }

        EXPECT_FALSE (request.isRefused()) << c.arguments << ": " << request.error;
        EXPECT_EQ (request.settings, c.settings) << c.arguments;
    }
}

TEST (AnalysisMessage, AFrameCarriesEveryKeyInOrderWithNullsForWhatWasNotAsked)
{
    AnalysisFrame frame;
    frame.blockCount = 41;
    frame.captureTimeNs = 2'000'500'000;
    frame.sampleRate = 48000.0;
    frame.samples = 1600;
    frame.droppedSamples = 3;
    frame.channels = 1;

    EXPECT_EQ (quillbeat::renderAnalysisFrame (frame, 2'001'250'000),
               R"({"blockCount":41,"positionSamples":null,"ppqPosition":null,"captureTimeMs":2000.5,"sentTimeMs":2001.25,)"
               R"("sampleRate":48000,"samples":1600,"droppedSamples":3,"channels":1,"levels":null,"spectrum":null,"waveform":null})");
}

TEST (AnalysisMessage, TheEventScriptHandsTheTextToThePagesListenersAsTheFrameworkDoes)
{
    EXPECT_EQ (quillbeat::analysisFrameEventScript (R"({"blockCount":1})"),
               R"(window.__JUCE__.backend.emitByBackend("analysisFrame",'{"blockCount":1}');)");
}

TEST (AnalysisMessage, FiguresAreRoundedFiniteAndNeverBelowTheFloor)
{
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();
    constexpr auto inf = std::numeric_limits<double>::infinity();

    AnalysisFrame frame;
    frame.blockCount = -5;                      // the counter wraps: negative after 2^31 blocks
    frame.positionSamples = 96000;
    frame.ppqPosition = nan;                    // a host's NaN arrives as 0, as in the playhead reading
    frame.captureTimeNs = 0;
    frame.sampleRate = 48000.0;
    frame.channels = 2;
    frame.levels = { { -6.0204, -9.0309, false, 0 }, { -inf, nan, true, 7 } };
    frame.lowHz = 20.0;
    frame.bandsPerOctave = 6;
    frame.fftSize = 2048;
    frame.bandDb = { { -0.004f, -130.0f, (float) -inf, std::numeric_limits<float>::quiet_NaN(), 12.345f } };
    frame.waveformMin = { { -0.12345f, (float) nan }, { -1.5f, 0.0f } };
    frame.waveformMax = { { 0.99999f, (float) inf }, { 1.5f, 0.00004f } };

    // Read back as the page reads it.
    const auto text = quillbeat::renderAnalysisFrame (frame, 0);
    EXPECT_TRUE (text.containsOnly ("0123456789-+.e,:[]{}\"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")) << text;
    const auto sent = juce::JSON::parse (text);
    EXPECT_EQ ((int) sent["blockCount"], -5);
    EXPECT_EQ ((juce::int64) sent["positionSamples"], 96000);
    EXPECT_DOUBLE_EQ ((double) sent["ppqPosition"], 0.0);

    const struct
    {
        juce::var value;
        double expected;
    } numbers[] = {
        { sent["levels"][0]["peakDb"], -6.02 },
        { sent["levels"][0]["rmsDb"], -9.03 },
        { sent["levels"][1]["peakDb"], -120.0 },   // -inf
        { sent["levels"][1]["rmsDb"], -120.0 },    // NaN
        { sent["spectrum"]["db"][0][0], 0.0 },     // -0.004: no -0
        { sent["spectrum"]["db"][0][1], -120.0 },  // below the floor
        { sent["spectrum"]["db"][0][2], -120.0 },  // -inf
        { sent["spectrum"]["db"][0][3], -120.0 },  // NaN
        { sent["spectrum"]["db"][0][4], 12.35 },
        { sent["waveform"]["min"][0][0], -0.1235 },
        { sent["waveform"]["min"][0][1], 0.0 },    // NaN
        { sent["waveform"]["min"][1][0], -1.5 },   // past full scale, as it came
        { sent["waveform"]["max"][0][0], 1.0 },
        { sent["waveform"]["max"][0][1], 0.0 },    // inf
        { sent["waveform"]["max"][1][1], 0.0 },    // below the resolution
    };

    for (const auto& n : numbers)
    {
        ASSERT_TRUE (n.value.isDouble() || n.value.isInt()) << n.expected;
        EXPECT_DOUBLE_EQ ((double) n.value, n.expected);
        EXPECT_FALSE (std::signbit ((double) n.value) && std::fpclassify ((double) n.value) == FP_ZERO) << "no -0";
    }

    EXPECT_TRUE ((bool) sent["levels"][1]["clipped"]);
    EXPECT_EQ ((int) sent["levels"][1]["nonFinite"], 7);
}
} // namespace
