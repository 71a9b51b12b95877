#include <HostOptions.h>
#include <HostPlayHead.h>

#include <gtest/gtest.h>

namespace
{
using quillbeat::host::HostPlayHead;
using quillbeat::host::parseHostOptions;

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
} // namespace
