#include "EditorFixture.h"

#include <HostPlayHead.h>

// The page we ship, in the real web engine, against the stand-in host's own
// timeline: wherever the host stands (across a tempo step, after loop wraps,
// in 4/4, 7/8 and 6/8), the page shows the bar, beat and tick the host itself
// counts. The test plays the host's audio thread itself, block by block, so
// each position is exact.

namespace
{
using quillbeat::host::HostPlayHead;
using quillbeat::host::LoopRange;
using quillbeat::host::MusicalPosition;
using quillbeat::host::TempoStep;

constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;

void installShippedPage()
{
    const juce::File dist (QUILLBEAT_WEB_DIST);
    ASSERT_TRUE (dist.getChildFile ("index.html").existsAsFile()) << "build the page first (npm run build in web/)";
    webRoot().deleteRecursively();
    ASSERT_TRUE (dist.copyDirectoryTo (webRoot()));
}

struct Timeline
{
    const char* label;
    double bpm;
    int numerator, denominator;
    std::vector<TempoStep> steps;
    LoopRange loop;
    int startBar;
    std::vector<double> secondsToStopAt;   // played from the start bar, in order
};

class ShippedPage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        installShippedPage();
        processor.setRateAndBufferSizeDetails (sampleRate, blockSize);
        processor.prepareToPlay (sampleRate, blockSize);
        playHead.setSampleRate (sampleRate);
        processor.setPlayHead (&playHead);
        runBlock();

        editor = std::make_unique<OpenEditor> (processor);
        view = (*editor)->getWebView();
        ASSERT_NE (view, nullptr);
        ASSERT_TRUE (pageBecomes (*view, "window.quillbeatPlayhead && window.quillbeatPlayhead.predict", 20000))
            << "the shipped page never showed its playhead";
    }

    void TearDown() override
    {
        editor.reset();
        processor.setPlayHead (nullptr);
    }

    // One block of audio, as the host's audio thread would run it.
    void runBlock()
    {
        processor.processBlock (buffer, midi);
        playHead.advance (blockSize, sampleRate);
    }

    // Where the page puts the host. The host is stopped and runs no blocks
    // meanwhile, so after two of the editor's ticks the page holds the newest one.
    std::optional<MusicalPosition> pageShows()
    {
        pumpFor (600);
        const auto p = evaluateInPage (*view, "JSON.stringify (window.quillbeatPlayhead.predict())");

        if (! p.has_value())
            return std::nullopt;

        const auto shown = juce::JSON::parse (p->toString());
        return MusicalPosition { (juce::int64) shown["bar"], (int) shown["beat"], (int) shown["tick"] };
    }

    void checkAgainstHost (const Timeline& t)
    {
        playHead.setTempo (t.bpm);
        playHead.setTimeSignature (t.numerator, t.denominator);
        ASSERT_TRUE (playHead.setTempoSteps (t.steps)) << t.label;
        ASSERT_TRUE (playHead.setLoop (t.loop)) << t.label;
        playHead.seekToBar (t.startBar);
        playHead.setPlaying (false);
        runBlock();

        double played = 0.0;
        for (const auto stopAt : t.secondsToStopAt)
        {
            playHead.setPlaying (true);
            for (; played < stopAt; played += blockSize / sampleRate)
                runBlock();

            // Stopped here: the block the page gets is where the host stands.
            playHead.setPlaying (false);
            processor.processBlock (buffer, midi);
            const auto host = playHead.getMusicalPosition();

            const auto shown = pageShows();
            ASSERT_TRUE (shown.has_value()) << t.label;
            EXPECT_EQ (shown->bar, host.bar) << t.label << " at " << stopAt << " s";
            EXPECT_EQ (shown->beat, host.beat) << t.label << " at " << stopAt << " s";
            EXPECT_NEAR (shown->tick, host.tick, 1) << t.label << " at " << stopAt << " s";
        }
    }

    QuillbeatProcessor processor;
    HostPlayHead playHead;
    juce::AudioBuffer<float> buffer { 2, blockSize };
    juce::MidiBuffer midi;
    std::unique_ptr<OpenEditor> editor;
    juce::WebBrowserComponent* view = nullptr;
};

TEST_F (ShippedPage, BarsAndBeatsFollowTheHostAcrossATempoStepAndLoopWraps)
{
    // 128 bpm from bar 7, 96 from bar 9, bars 9 and 10 looping: bar 9 comes
    // 3.75 s in and each pass of the loop takes 5 s.
    checkAgainstHost ({ "4/4", 128.0, 4, 4, { { 9, 96.0 } }, { true, 9, 10 }, 7, { 1.0, 3.7, 6.1, 9.0, 12.9, 21.3 } });
}

TEST_F (ShippedPage, BarsAndBeatsInSevenEightAndSixEight)
{
    checkAgainstHost ({ "7/8", 140.0, 7, 8, { { 5, 100.0 } }, {}, 1, { 0.4, 2.9, 6.2, 8.0 } });
    checkAgainstHost ({ "6/8", 90.0, 6, 8, {}, { true, 2, 3 }, 1, { 1.1, 2.5, 5.3, 9.9 } });
}

// The page's notes, in the real engine: typed notes land in the state the
// host saves, are there again when the editor reopens, and follow a project
// the host loads.
TEST_F (ShippedPage, NotesAreKeptInTheProjectAndFollowALoad)
{
    const juce::String field = "document.querySelector ('#notes-text')";
    ASSERT_TRUE (pageBecomes (*view, "! " + field + ".disabled", 10000)) << "the notes never became editable";

    evaluateInPage (*view, field + ".value = 'Chorus from bar 17 \\u2014 caf\\u00e9'; "
                           + field + ".dispatchEvent (new Event ('input')); true");
    const auto typed = juce::String::fromUTF8 ("{\"notes\":\"Chorus from bar 17 \xe2\x80\x94 caf\xc3\xa9\"}");
    ASSERT_TRUE (pumpUntil ([&] { return processor.getWebState() == typed; }, 5000)) << processor.getWebState();

    juce::MemoryBlock saved;
    processor.getStateInformation (saved);
    EXPECT_EQ (quillbeat::decodeSessionState (saved.getData(), (int) saved.getSize())->webState, typed);

    editor.reset();
    editor = std::make_unique<OpenEditor> (processor);
    view = (*editor)->getWebView();
    ASSERT_TRUE (pageBecomes (*view, field + ".value === 'Chorus from bar 17 \\u2014 caf\\u00e9'", 10000))
        << "the reopened editor lost the notes";

    const juce::String loaded = R"({"windowWidth": 900, "windowHeight": 640, "webState": "{\"notes\":\"As in the project\"}"})";
    processor.setStateInformation (loaded.toRawUTF8(), (int) loaded.getNumBytesAsUTF8());
    EXPECT_TRUE (pageBecomes (*view, field + ".value === 'As in the project'", 5000)) << "the page missed the load";
}
} // namespace
