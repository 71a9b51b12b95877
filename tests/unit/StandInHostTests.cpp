#include <HostOptions.h>
#include <HostPlayHead.h>
#include <HostTimeline.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace quillbeat::host
{
// GoogleTest shows these as text rather than as bytes.
static void PrintTo (const MusicalPosition& position, std::ostream* os) { *os << formatBarBeatTick (position); }
static void PrintTo (const TempoStep& step, std::ostream* os) { *os << step.bar << ":" << step.bpm; }
} // namespace quillbeat::host

namespace
{
using quillbeat::host::formatBarBeatTick;
using quillbeat::host::HostPlayHead;
using quillbeat::host::HostTimeline;
using quillbeat::host::LoopRange;
using quillbeat::host::MusicalPosition;
using quillbeat::host::parseHostOptions;
using quillbeat::host::TempoStep;

juce::StringArray args (const char* line) { return juce::StringArray::fromTokens (line, " ", {}); }

TEST (StandInHost, CommandLineTable)
{
    const juce::File plugin ("/default/Quillbeat.vst3");

    const struct
    {
        const char* line;
        bool valid;
        bool headless = false, play = false;
        double bpm = 120.0;
        int num = 4, den = 4;
        double seconds = 3.0;
    } cases[] = {
        { "", true, false, false, 120.0, 4, 4, 3.0 },
        { "--gui", true, false, false, 120.0, 4, 4, 3.0 },
        { "--play --bpm 128 --sig 7/8 --seconds 3", true, true, true, 128.0, 7, 8, 3.0 },
        { "--gui --play --bpm 90.5 --sig 6/8", true, false, true, 90.5, 6, 8, 3.0 },
        { "--seconds 0.5", true, true, false, 120.0, 4, 4, 0.5 },
        { "--bpm", false },
        { "--bpm fast", false },
        { "--bpm -3", false },
        { "--bpm 0", false },
        { "--sig 7", false },
        { "--sig 7/6", false },
        { "--sig 0/4", false },
        { "--sig x/8", false },
        { "--seconds 0", false },
        { "--frobnicate", false },
    };

    for (const auto& c : cases)
    {
        const auto parsed = parseHostOptions (args (c.line), plugin);
        ASSERT_EQ (parsed.options.has_value(), c.valid) << c.line << ": " << parsed.error;

        if (! c.valid)
        {
            EXPECT_TRUE (parsed.error.isNotEmpty()) << c.line;
            continue;
        }

        const auto& o = *parsed.options;
        EXPECT_EQ (o.headless, c.headless) << c.line;
        EXPECT_EQ (o.play, c.play) << c.line;
        EXPECT_EQ (o.bpm, c.bpm) << c.line;
        EXPECT_EQ (o.timeSigNum, c.num) << c.line;
        EXPECT_EQ (o.timeSigDen, c.den) << c.line;
        EXPECT_EQ (o.seconds, c.seconds) << c.line;
        EXPECT_EQ (o.plugin, plugin) << c.line;
    }
}

TEST (StandInHost, ScreenshotImpliesTheEditorAndPluginPathsResolve)
{
    const auto parsed = parseHostOptions (args ("--plugin other.vst3 --screenshot shot.png"), {});
    ASSERT_TRUE (parsed.options.has_value());
    EXPECT_TRUE (parsed.options->headless);
    EXPECT_TRUE (parsed.options->openEditor);
    EXPECT_EQ (parsed.options->plugin, juce::File::getCurrentWorkingDirectory().getChildFile ("other.vst3"));
}

TEST (StandInHost, PlayHeadMovesOnlyWhilePlayingAndReturnsToZero)
{
    HostPlayHead head;
    head.setTempo (120.0);
    head.setTimeSignature (7, 8);

    head.advance (480, 48000.0);
    EXPECT_EQ (head.getPositionSamples(), 0); // stopped

    head.setPlaying (true);
    for (int i = 0; i < 100; ++i)
        head.advance (480, 48000.0);
    EXPECT_EQ (head.getPositionSamples(), 48000);

    const auto position = head.getPosition();
    ASSERT_TRUE (position.hasValue());
    EXPECT_TRUE (position->getIsPlaying());
    EXPECT_EQ (*position->getTimeInSeconds(), 1.0);
    EXPECT_EQ (*position->getBpm(), 120.0);
    EXPECT_EQ (position->getTimeSignature()->numerator, 7);
    EXPECT_EQ (position->getTimeSignature()->denominator, 8);
    EXPECT_EQ (*position->getPpqPosition(), 2.0);                 // two quarter notes in a second at 120 bpm
    EXPECT_EQ (*position->getPpqPositionOfLastBarStart(), 0.0);   // a 7/8 bar is 3.5 quarter notes

    head.returnToZero();
    head.advance (480, 48000.0);
    EXPECT_EQ (head.getPositionSamples(), 0);
}

HostTimeline makeTimeline (int numerator, int denominator, double bpm, std::vector<TempoStep> steps, LoopRange loop = {})
{
    HostTimeline timeline;
    EXPECT_TRUE (timeline.setTimeSignature (numerator, denominator));
    EXPECT_TRUE (timeline.setBaseTempo (bpm));
    EXPECT_TRUE (timeline.setTempoSteps (steps));
    EXPECT_TRUE (timeline.setLoop (loop));
    return timeline;
}

juce::String describe (const HostTimeline& t)
{
    auto text = juce::String (t.getNumerator()) + "/" + juce::String (t.getDenominator()) + " at "
              + juce::String (t.getBaseTempo()) + " bpm";

    for (const auto& step : t.getTempoSteps())
        text << ", " << step.bpm << " from bar " << step.bar;

    return text;
}

std::vector<TempoStep> stepsOf (const HostTimeline& t) { return { t.getTempoSteps().begin(), t.getTempoSteps().end() }; }

TEST (StandInHost, TimelineConvertsAcrossTempoSteps)
{
    const struct
    {
        int num, den;
        double bpm;
        std::vector<TempoStep> steps;
        double seconds, ppq;
        MusicalPosition where;
        double bpmThere;
    } cases[] = {
        { 4, 4, 128.0, { { 9, 96.0 } }, 14.0, 14.0 * 128.0 / 60.0, { 8, 2, 832 }, 128.0 },
        { 4, 4, 128.0, { { 9, 96.0 } }, 15.0, 32.0, { 9, 1, 0 }, 96.0 },                    // the step's bar line
        { 4, 4, 128.0, { { 9, 96.0 } }, 17.35221875, 35.76355, { 9, 4, 733 }, 96.0 },
        { 4, 4, 128.0, { { 13, 160.0 }, { 9, 96.0 } }, 24.0, 46.4, { 12, 3, 384 }, 96.0 },
        { 4, 4, 128.0, { { 13, 160.0 }, { 9, 96.0 } }, 25.0, 48.0, { 13, 1, 0 }, 160.0 },
        { 4, 4, 128.0, { { 13, 160.0 }, { 9, 96.0 } }, 25.75, 50.0, { 13, 3, 0 }, 160.0 },
        { 7, 8, 120.0, { { 5, 90.0 } }, 6.5, 13.0, { 4, 6, 0 }, 120.0 },
        { 7, 8, 120.0, { { 5, 90.0 } }, 7.0, 14.0, { 5, 1, 0 }, 90.0 },                     // 3.5 quarter notes a bar
        { 7, 8, 120.0, { { 5, 90.0 } }, 8.1, 15.65, { 5, 4, 288 }, 90.0 },
        { 7, 8, 120.0, { { 5, 90.0 } }, 9.0, 17.0, { 5, 7, 0 }, 90.0 },
        { 6, 8, 100.0, { { 3, 150.0 } }, 3.0, 5.0, { 2, 5, 0 }, 100.0 },
        { 6, 8, 100.0, { { 3, 150.0 } }, 3.3, 5.5, { 2, 6, 0 }, 100.0 },
        { 6, 8, 100.0, { { 3, 150.0 } }, 3.6, 6.0, { 3, 1, 0 }, 150.0 },
        { 6, 8, 100.0, { { 3, 150.0 } }, 4.0, 7.0, { 3, 3, 0 }, 150.0 },
    };

    for (const auto& c : cases)
    {
        const auto timeline = makeTimeline (c.num, c.den, c.bpm, c.steps);
        const auto label = describe (timeline) + ", " + juce::String (c.seconds) + " s";

        EXPECT_NEAR (timeline.secondsToPpq (c.seconds), c.ppq, 1.0e-9) << label;
        EXPECT_NEAR (timeline.ppqToSeconds (c.ppq), c.seconds, 1.0e-9) << label;
        EXPECT_EQ (timeline.musicalPositionAt (timeline.secondsToPpq (c.seconds)), c.where)
            << label << ": " << formatBarBeatTick (timeline.musicalPositionAt (c.ppq));
        EXPECT_EQ (timeline.tempoAtPpq (c.ppq), c.bpmThere) << label;
        EXPECT_EQ (timeline.lastBarStartPpq (c.ppq), timeline.barToPpq (c.where.bar)) << label;
    }
}

TEST (StandInHost, TimelineKeepsItsStepsSortedAndRefusesWhatCannotPlay)
{
    HostTimeline timeline;
    EXPECT_TRUE (timeline.addTempoStep ({ 17, 140.0 }));
    EXPECT_TRUE (timeline.addTempoStep ({ 9, 96.0 }));
    EXPECT_TRUE (timeline.addTempoStep ({ 17, 150.0 }));       // same bar: replaced
    EXPECT_EQ (stepsOf (timeline), (std::vector<TempoStep> { { 9, 96.0 }, { 17, 150.0 } }));

    for (int bar = 20; timeline.getTempoSteps().size() < (size_t) HostTimeline::maxTempoSteps; ++bar)
        ASSERT_TRUE (timeline.addTempoStep ({ bar, 100.0 }));

    const auto full = timeline;
    const TempoStep tooMany[] = { { 2, 60.0 }, { 3, 61.0 }, { 4, 62.0 }, { 5, 63.0 }, { 6, 64.0 },
                                  { 7, 65.0 }, { 8, 66.0 }, { 9, 67.0 }, { 10, 68.0 } };
    const TempoStep unplayable[] = { { 5, 90.0 }, { 6, 0.0 } };

    EXPECT_FALSE (timeline.addTempoStep ({ 99, 100.0 }));
    EXPECT_FALSE (timeline.setTempoSteps (tooMany));
    EXPECT_FALSE (timeline.setTempoSteps (unplayable));
    EXPECT_FALSE (timeline.addTempoStep ({ 0, 100.0 }));
    EXPECT_FALSE (timeline.addTempoStep ({ 5, std::numeric_limits<double>::quiet_NaN() }));
    EXPECT_FALSE (timeline.setBaseTempo (0.0));
    EXPECT_FALSE (timeline.setTimeSignature (0, 4));
    EXPECT_FALSE (timeline.setLoop ({ true, 0, 0 }));
    EXPECT_FALSE (timeline.setLoop ({ true, 10, 9 }));
    EXPECT_FALSE (timeline.setLoop ({ false, 0, 3 }));

    EXPECT_EQ (stepsOf (timeline), stepsOf (full));
    EXPECT_EQ (timeline.getBaseTempo(), 120.0);
    EXPECT_EQ (timeline.getNumerator(), 4);
    EXPECT_EQ (timeline.getLoop(), LoopRange {});
}

} // namespace
