#include <HostOptions.h>
#include <HostPlayHead.h>
#include <HostTimeline.h>
#include <PageStateInHostState.h>
#include <StateChangeMark.h>

#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
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
using quillbeat::host::formatTempoSteps;
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
        const char* tempoSteps = "";    // as formatTempoSteps writes them back
        int loopFirst = 0, loopLast = 0;
        int startBar = 1;
    } cases[] = {
        { "", true, false, false, 120.0, 4, 4, 3.0 },
        { "--gui", true, false, false, 120.0, 4, 4, 3.0 },
        { "--play --bpm 128 --sig 7/8 --seconds 3", true, true, true, 128.0, 7, 8, 3.0 },
        { "--gui --play --bpm 90.5 --sig 6/8", true, false, true, 90.5, 6, 8, 3.0 },
        { "--seconds 0.5", true, true, false, 120.0, 4, 4, 0.5 },
        // The timeline options alone leave the run in the window.
        { "--bpm 128 --tempo-map 9:96 --loop 9-10 --start-bar 9", true, false, false, 128.0, 4, 4, 3.0, "9:96", 9, 10, 9 },
        { "--play --tempo-map 17:140.5,9:96 --seconds 2", true, true, true, 120.0, 4, 4, 2.0, "9:96,17:140.5" },
        { "--tempo-map 2:60,3:61,4:62,5:63,6:64,7:65,8:66,9:67", true, false, false, 120.0, 4, 4, 3.0,
          "2:60,3:61,4:62,5:63,6:64,7:65,8:66,9:67" },
        { "--loop 3-3 --start-bar 9999", true, false, false, 120.0, 4, 4, 3.0, "", 3, 3, 9999 },
        { "--bpm", false },
        { "--bpm fast", false },
        { "--bpm -3", false },
        { "--bpm 0", false },
        { "--sig 7", false },
        { "--sig 7/6", false },
        { "--sig 0/4", false },
        { "--sig x/8", false },
        { "--seconds 0", false },
        { "--bpm 1.2.3", false },
        { "--tempo-map", false },
        { "--tempo-map 9", false },
        { "--tempo-map 9:", false },
        { "--tempo-map :96", false },
        { "--tempo-map 1:96", false },          // bar 1 is --bpm's
        { "--tempo-map 0:96", false },
        { "--tempo-map 9:0", false },
        { "--tempo-map 9:1000", false },
        { "--tempo-map 9:fast", false },
        { "--tempo-map 9:96,", false },
        { "--tempo-map 9:96,9:100", false },
        { "--tempo-map 2:60,3:61,4:62,5:63,6:64,7:65,8:66,9:67,10:68", false },
        { "--tempo-map 10000:96", false },
        { "--loop", false },
        { "--loop 9", false },
        { "--loop 10-9", false },
        { "--loop 0-2", false },
        { "--loop -3-4", false },
        { "--loop a-b", false },
        { "--loop 9-10-11", false },
        { "--start-bar 0", false },
        { "--start-bar 1.5", false },
        { "--start-bar x", false },
        { "--start-bar 99999999999", false },
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
        EXPECT_EQ (formatTempoSteps (o.tempoSteps), juce::String (c.tempoSteps)) << c.line;
        EXPECT_EQ (o.loop, (c.loopFirst > 0 ? LoopRange { true, c.loopFirst, c.loopLast } : LoopRange {})) << c.line;
        EXPECT_EQ (o.startBar, c.startBar) << c.line;
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

TEST (StandInHost, PageStateFlags)
{
    const auto text = parseHostOptions (args ("--gui --page-state x"), {});
    ASSERT_TRUE (text.options.has_value());
    EXPECT_EQ (text.options->pageState, std::optional<juce::String> ("x"));
    EXPECT_FALSE (text.options->headless) << "a page state alone leaves the run in the window";

    const auto file = parseHostOptions (args ("--page-state-file state.json --print-page-state"), {});
    ASSERT_TRUE (file.options.has_value());
    EXPECT_FALSE (file.options->pageState.has_value());
    EXPECT_EQ (file.options->pageStateFile, juce::File::getCurrentWorkingDirectory().getChildFile ("state.json"));
    EXPECT_TRUE (file.options->printPageState);
    EXPECT_TRUE (file.options->headless);

    for (const auto* line : { "--page-state", "--page-state-file", "--page-state a --page-state b",
                              "--page-state a --page-state-file b" })
        EXPECT_FALSE (parseHostOptions (args (line), {}).options.has_value()) << line;
}

// The host's own VST3 state of Quillbeat, as its hosting saves it.
juce::MemoryBlock hostStateOf (QuillbeatProcessor& plugin)
{
    juce::MemoryBlock component;
    plugin.getStateInformation (component);
    component.append ("\0\0\0\0\0\0\0\0trailer", 15);   // stands for the framework's private section

    juce::XmlElement xml ("VST3PluginState");
    xml.createNewChildElement ("IComponent")->addTextElement (component.toBase64Encoding());
    xml.createNewChildElement ("IEditController")->addTextElement ("AAAA");

    juce::MemoryBlock state;
    juce::AudioProcessor::copyXmlToBinary (xml, state);
    return state;
}

TEST (StandInHost, PageStateInsideTheHostsStateBlock)
{
    QuillbeatProcessor plugin;
    plugin.setWebStateFromPage (juce::String (juce::CharPointer_UTF8 ("{\"notes\":\"caf\xc3\xa9\"}")));
    const auto state = hostStateOf (plugin);
    EXPECT_EQ (quillbeat::host::pageStateIn (state), plugin.getWebState());

    // Replaced, and everything else kept: the trailer, the controller's part.
    const auto changed = quillbeat::host::withPageState (state, "new\r\ntext");
    ASSERT_TRUE (changed.has_value());
    EXPECT_EQ (quillbeat::host::pageStateIn (*changed), std::optional<juce::String> ("new\r\ntext"));
    const auto xml = juce::AudioProcessor::getXmlFromBinary (changed->getData(), (int) changed->getSize());
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getChildByName ("IEditController")->getAllSubText(), "AAAA");
    juce::MemoryBlock component;
    ASSERT_TRUE (component.fromBase64Encoding (xml->getChildByName ("IComponent")->getAllSubText()));
    ASSERT_GE (component.getSize(), 15u);
    EXPECT_EQ (std::memcmp (static_cast<const char*> (component.getData()) + component.getSize() - 15, "\0\0\0\0\0\0\0\0trailer", 15), 0);

    // Blocks that hold no Quillbeat state: nothing, never a made-up one.
    juce::XmlElement noComponent ("VST3PluginState");
    juce::XmlElement notJson ("VST3PluginState");
    notJson.createNewChildElement ("IComponent")->addTextElement (juce::MemoryBlock ("\x01\x02", 2).toBase64Encoding());
    for (const auto* xmlState : { &noComponent, &notJson })
    {
        juce::MemoryBlock block;
        juce::AudioProcessor::copyXmlToBinary (*xmlState, block);
        EXPECT_FALSE (quillbeat::host::pageStateIn (block).has_value());
        EXPECT_FALSE (quillbeat::host::withPageState (block, "x").has_value());
    }
    EXPECT_FALSE (quillbeat::host::pageStateIn (juce::MemoryBlock ("garbage", 7)).has_value());
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

// Plays a play head the way the host's audio thread does and checks each
// block's report against the timeline it was given.
TEST (StandInHost, PlayHeadReportsATimelineThatAgreesWithItselfOverManyBlocks)
{
    const struct
    {
        int num, den;
        double bpm;
        std::vector<TempoStep> steps;
        double sampleRate;
        int blockSize, startBar, blocks;
    } cases[] = {
        { 4, 4, 128.0, { { 9, 96.0 } }, 48000.0, 512, 7, 1000 },
        { 7, 8, 120.0, { { 5, 90.0 }, { 9, 200.0 } }, 44100.0, 333, 1, 3000 },
        { 6, 8, 100.0, { { 3, 150.0 } }, 96000.0, 4096, 1, 300 },
        { 3, 4, 60.0, { { 2, 240.0 }, { 3, 30.0 } }, 8000.0, 1, 1, 40000 },
    };

    for (const auto& c : cases)
    {
        const auto timeline = makeTimeline (c.num, c.den, c.bpm, c.steps);
        const auto label = describe (timeline) + ", blocks of " + juce::String (c.blockSize);
        const auto quarterNotesPerBar = timeline.quarterNotesPerBar();
        const auto blockSeconds = c.blockSize / c.sampleRate;

        double slowest = c.bpm, fastest = c.bpm;
        for (const auto& step : c.steps)
            slowest = std::min (slowest, step.bpm), fastest = std::max (fastest, step.bpm);

        HostPlayHead head;
        head.setTempo (c.bpm);
        head.setTimeSignature (c.num, c.den);
        ASSERT_TRUE (head.setTempoSteps (c.steps));
        head.setSampleRate (c.sampleRate);
        head.seekToBar (c.startBar);
        head.setPlaying (true);

        double previousPpq = -1.0;
        std::uint64_t previousTime = 0;
        std::vector<double> temposHeard;

        for (int block = 0; block < c.blocks; ++block)
        {
            const auto info = head.getPosition();
            ASSERT_TRUE (info.hasValue());
            const auto samples = *info->getTimeInSamples();
            const auto seconds = *info->getTimeInSeconds();
            const auto ppq = *info->getPpqPosition();
            const auto barStart = *info->getPpqPositionOfLastBarStart();
            const auto barCount = *info->getBarCount();
            const auto bpm = *info->getBpm();
            const auto at = label + ", block " + juce::String (block) + ", ppq " + juce::String (ppq, 6);

            EXPECT_EQ (seconds, (double) samples / c.sampleRate) << at;
            EXPECT_NEAR (timeline.ppqToSeconds (ppq), seconds, 1.0e-9) << at;

            if (block == 0)
                EXPECT_NEAR (ppq, timeline.barToPpq (c.startBar), 1.0e-9) << at;
            else
            {
                // Never back, never a jump: each block moves on by its length at some tempo of the map.
                EXPECT_GE (ppq - previousPpq, blockSeconds * slowest / 60.0 - 1.0e-9) << at;
                EXPECT_LE (ppq - previousPpq, blockSeconds * fastest / 60.0 + 1.0e-9) << at;
            }

            EXPECT_LE (barStart, ppq + 1.0e-9) << at;
            EXPECT_LT (ppq, barStart + quarterNotesPerBar) << at;
            EXPECT_NEAR (barStart, (double) barCount * quarterNotesPerBar, 1.0e-9) << at;
            EXPECT_EQ (timeline.musicalPositionAt (ppq).bar, barCount + 1) << at;
            EXPECT_EQ (bpm, timeline.tempoAtBar (barCount + 1)) << at;
            EXPECT_EQ (info->getTimeSignature()->numerator, c.num) << at;
            EXPECT_EQ (info->getTimeSignature()->denominator, c.den) << at;
            EXPECT_FALSE (info->getIsLooping()) << at;
            EXPECT_FALSE (info->getLoopPoints().hasValue()) << at;
            ASSERT_TRUE (info->getHostTimeNs().hasValue());
            EXPECT_GE (*info->getHostTimeNs(), previousTime) << at;

            if (temposHeard.empty() || ! juce::exactlyEqual (temposHeard.back(), bpm))
                temposHeard.push_back (bpm);

            previousPpq = ppq;
            previousTime = *info->getHostTimeNs();
            head.advance (c.blockSize, c.sampleRate);
        }

        // Each step's tempo is reported from its bar on, in order.
        std::vector<double> expected;
        for (const auto& step : timeline.getTempoSteps())
            if (step.bar > c.startBar)
                expected.push_back (step.bpm);
        expected.insert (expected.begin(), timeline.tempoAtBar (c.startBar));
        EXPECT_EQ (temposHeard, expected) << label;
    }
}

TEST (StandInHost, PlayHeadLoopWrapsCarryingTheOvershoot)
{
    const struct
    {
        int num, den;
        double bpm;
        std::vector<TempoStep> steps;
        int loopFirst, loopLast, startBar, blockSize;
        bool wraps;
    } cases[] = {
        { 4, 4, 128.0, { { 9, 96.0 } }, 9, 10, 7, 333, true },     // plays into the loop
        { 4, 4, 128.0, { { 9, 96.0 } }, 9, 10, 10, 333, true },
        { 4, 4, 128.0, { { 9, 96.0 } }, 8, 9, 8, 333, true },      // a loop across the tempo step
        { 4, 4, 128.0, { { 9, 96.0 } }, 9, 10, 11, 333, false },   // starts at the loop end: plays on
        { 4, 4, 128.0, { { 9, 96.0 } }, 9, 10, 12, 333, false },
        { 7, 8, 120.0, {}, 2, 2, 1, 4096, true },
        { 1, 32, 999.0, {}, 1, 1, 1, 4096, true },                 // blocks longer than the loop
    };

    constexpr double rate = 48000.0;

    for (const auto& c : cases)
    {
        const auto timeline = makeTimeline (c.num, c.den, c.bpm, c.steps, { true, c.loopFirst, c.loopLast });
        const auto label = describe (timeline) + ", loop " + juce::String (c.loopFirst) + "-" + juce::String (c.loopLast)
                         + " from bar " + juce::String (c.startBar);
        const auto loopStart = std::llround (timeline.ppqToSeconds (timeline.loopStartPpq()) * rate);
        const auto loopEnd = std::llround (timeline.ppqToSeconds (timeline.loopEndPpq()) * rate);

        HostPlayHead head;
        head.setTempo (c.bpm);
        head.setTimeSignature (c.num, c.den);
        ASSERT_TRUE (head.setTempoSteps (c.steps));
        ASSERT_TRUE (head.setLoop ({ true, c.loopFirst, c.loopLast }));
        head.setSampleRate (rate);
        head.seekToBar (c.startBar);
        head.setPlaying (true);

        int wraps = 0;
        juce::int64 previous = -1;

        for (int block = 0; block < 2000; ++block)
        {
            const auto info = head.getPosition();
            const auto samples = *info->getTimeInSamples();
            const auto at = label + ", block " + juce::String (block);

            EXPECT_TRUE (info->getIsLooping()) << at;
            EXPECT_EQ (info->getLoopPoints()->ppqStart, timeline.loopStartPpq()) << at;
            EXPECT_EQ (info->getLoopPoints()->ppqEnd, timeline.loopEndPpq()) << at;
            EXPECT_NEAR (*info->getPpqPosition(), timeline.secondsToPpq ((double) samples / rate), 1.0e-9) << at;
            EXPECT_EQ (*info->getBpm(), timeline.tempoAtPpq (*info->getPpqPosition())) << at;

            if (previous >= 0 && previous + c.blockSize != samples)
            {
                ++wraps;
                const auto overshoot = previous + c.blockSize - loopEnd;
                EXPECT_LT (previous, loopEnd) << at;
                EXPECT_GE (overshoot, 0) << at;
                EXPECT_EQ (samples, loopStart + overshoot % (loopEnd - loopStart)) << at;
            }

            if (c.wraps && samples >= loopStart)
            {
                EXPECT_LT (samples, loopEnd) << at;
                EXPECT_GE (*info->getPpqPosition(), timeline.loopStartPpq()) << at;
                EXPECT_LT (*info->getPpqPosition(), timeline.loopEndPpq()) << at;
            }

            previous = samples;
            head.advance (c.blockSize, rate);
        }

        EXPECT_EQ (wraps >= 2, c.wraps) << label << ": " << wraps << " wraps";
    }
}

TEST (StandInHost, PlayHeadSeeksAtTheNextBlockBoundary)
{
    HostPlayHead head;
    head.setTempo (128.0);
    const TempoStep step[] = { { 9, 96.0 } };
    ASSERT_TRUE (head.setTempoSteps (step));
    head.setSampleRate (44100.0);
    head.setPlaying (true);

    // Asked before the first block: that block is already at bar 9, and moves on from there.
    head.seekToBar (9);
    auto info = head.getPosition();
    EXPECT_EQ (*info->getTimeInSamples(), 15 * 44100);
    EXPECT_EQ (*info->getPpqPosition(), 32.0);
    EXPECT_EQ (*info->getBarCount(), 8);
    EXPECT_EQ (*info->getBpm(), 96.0);
    head.advance (441, 44100.0);
    EXPECT_EQ (head.getPositionSamples(), 15 * 44100 + 441);

    // Asked during a block: the block plays where it was, the next starts at the bar.
    info = head.getPosition();
    head.seekToBar (10);
    head.advance (441, 44100.0);
    EXPECT_EQ (head.getPositionSamples(), (15 * 44100) + (int) (2.5 * 44100));
    EXPECT_EQ (head.getMusicalPosition(), (MusicalPosition { 10, 1, 0 }));
    EXPECT_EQ (head.getCurrentTempo(), 96.0);

    // Stopped, a seek still lands.
    head.setPlaying (false);
    head.seekToBar (2);
    head.advance (441, 44100.0);
    EXPECT_EQ (head.getMusicalPosition(), (MusicalPosition { 2, 1, 0 }));
    EXPECT_EQ (head.getCurrentTempo(), 128.0);
}

// The window's "modified" mark, listening to Quillbeat itself: set by a
// page's state change, untouched by the host's own loads, cleared by a save.
TEST (StandInHost, ModifiedMarkFollowsThePluginsStateChanges)
{
    QuillbeatProcessor plugin;
    quillbeat::host::StateChangeMark mark;
    plugin.addListener (&mark);

    const juce::String saved = R"({"webState": "from a file"})";
    plugin.setStateInformation (saved.toRawUTF8(), (int) saved.getNumBytesAsUTF8());
    EXPECT_FALSE (mark.isSet()) << "a load is no change";

    plugin.setWebStateFromPage ("{\"notes\":\"x\"}");
    EXPECT_TRUE (mark.isSet());

    mark.clear();
    EXPECT_FALSE (mark.isSet());

    plugin.removeListener (&mark);
}

} // namespace
