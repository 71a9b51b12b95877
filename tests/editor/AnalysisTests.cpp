#include "EditorFixture.h"

// Analysis of the audio for the page, with the real web engine: a page asks
// for it and gets frames at its rate, stamped with blocks that were really
// processed; refusals change nothing; closing the editor puts the processor
// back on its path without analysis.

namespace
{
// A page that asks through the framework's own front-end library and keeps
// every frame with its arrival time.
void installAnalysisPage()
{
    installTestPage();
    ASSERT_TRUE (webRoot().getChildFile ("index.html").replaceWithText (R"html(<!doctype html>
<html><head><script type="module">
  import { getNativeFunction } from './juce/index.js';
  const setAnalysis = getNativeFunction ('setAnalysis');
  window.__frames = [];
  window.__JUCE__.backend.addEventListener ('analysisFrame', (frame) => window.__frames.push ({ frame, at: performance.now() }));
  window.__answers = [];
  window.__ask = (...args) => { setAnalysis (...args).then ((answer) => window.__answers.push (answer)); };
  window.__ready = true;
</script></head><body>analysis</body></html>
)html"));
}

class EditorAnalysis : public ::testing::Test
{
protected:
    void SetUp() override
    {
        installAnalysisPage();
        processor.setRateAndBufferSizeDetails (48000.0, 512);
        processor.prepareToPlay (48000.0, 512);
        editor = std::make_unique<OpenEditor> (processor);
        view = (*editor)->getWebView();
        ASSERT_NE (view, nullptr);
        ASSERT_TRUE (pageBecomes (*view, "window.__ready === true", 15000));
    }

    // Asks, and waits for the answer.
    juce::var ask (const juce::String& arguments)
    {
        const auto before = (int) evaluateInPage (*view, "window.__answers.length").value_or (0);
        evaluateInPage (*view, "window.__ask (" + arguments + "), true");
        if (! pageBecomes (*view, "window.__answers.length > " + juce::String (before), 5000))
            return {};
        return evaluateInPage (*view, "window.__answers[window.__answers.length - 1]").value_or (juce::var());
    }

    // The frames that arrived within the last `milliseconds`, oldest first.
    juce::var framesOverTheLast (int milliseconds)
    {
        pumpFor (milliseconds);
        return evaluateInPage (*view, "(() => { const since = performance.now() - " + juce::String (milliseconds)
                                          + "; return window.__frames.filter ((f) => f.at >= since).map ((f) => f.frame); })()")
            .value_or (juce::var());
    }

    QuillbeatProcessor processor;
    std::unique_ptr<AudioThread> audio = std::make_unique<AudioThread> (processor);
    std::unique_ptr<OpenEditor> editor;
    juce::WebBrowserComponent* view = nullptr;
};

TEST_F (EditorAnalysis, FramesComeAtTheAskedRateStampedWithProcessedBlocks)
{
    EXPECT_FALSE (processor.isAnalysing()) << "nobody asked yet";

    for (const auto rate : { 20, 50 })
    {
        const auto answer = ask ("{ framesPerSecond: " + juce::String (rate) + ", fftSize: 1024, waveformSlices: 64 }");
        EXPECT_TRUE ((bool) answer["ok"]) << juce::JSON::toString (answer);
        EXPECT_TRUE (processor.isAnalysing());
        pumpFor (500);   // the new rate settles

        const auto frames = framesOverTheLast (3000);
        ASSERT_TRUE (frames.isArray());
        EXPECT_NEAR (frames.size(), 3 * rate, 0.1 * 3 * rate) << rate << " frames a second";

        // The audio thread plays 512-sample blocks from 12.5 s (600000 samples):
        // each frame's newest block is one of them, and they only move on.
        juce::int64 lastPosition = -1;
        for (const auto& frame : *frames.getArray())
        {
            const auto position = (juce::int64) frame["positionSamples"];
            EXPECT_EQ ((position - 600000) % 512, 0) << juce::JSON::toString (frame);
            EXPECT_EQ (position - 512 * (juce::int64) (int) frame["blockCount"], 600000 - 512) << juce::JSON::toString (frame);
            EXPECT_GT (position, lastPosition);
            EXPECT_GT ((double) frame["sentTimeMs"], (double) frame["captureTimeMs"]);
            EXPECT_EQ ((int) frame["spectrum"]["fftSize"], 1024);
            EXPECT_EQ (frame["waveform"]["min"][0].size(), 64);
            lastPosition = position;
        }
    }
}

TEST_F (EditorAnalysis, RefusalsChangeNothingAndAStopStopsTheFrames)
{
    ASSERT_TRUE ((bool) ask ("{ framesPerSecond: 30, fftSize: 4096, levels: false }")["ok"]);

    for (const auto* refused : { "{ fftSize: 3 }", "{ framesPerSecond: 100 }", "{ colour: 'red' }", "'levels'", "{}, {}" })
    {
        const auto answer = ask (refused);
        EXPECT_FALSE ((bool) answer["ok"]) << refused;
        EXPECT_TRUE (answer["error"].toString().isNotEmpty()) << refused;
    }

    // Still the settings from before the refusals.
    const auto frames = framesOverTheLast (1000);
    ASSERT_TRUE (frames.isArray());
    EXPECT_NEAR (frames.size(), 30, 3);
    for (const auto& frame : *frames.getArray())
    {
        EXPECT_EQ ((int) frame["spectrum"]["fftSize"], 4096);
        EXPECT_TRUE (frame["levels"].isVoid());
    }

    ASSERT_TRUE ((bool) ask ("null")["ok"]);
    EXPECT_FALSE (processor.isAnalysing());
    pumpFor (200);
    EXPECT_EQ (framesOverTheLast (1000).size(), 0) << "frames after a stop";
}

TEST_F (EditorAnalysis, ClosingTheEditorPutsTheProcessorBackOnItsPathWithoutAnalysis)
{
    ASSERT_TRUE ((bool) ask ("{}")["ok"]);
    ASSERT_TRUE (processor.isAnalysing());
    pumpFor (300);
    EXPECT_GT (processor.getAudioTap().writeIndex(), 0u) << "the audio reaches the tap while a page asks";

    editor.reset();
    view = nullptr;
    EXPECT_FALSE (processor.isAnalysing());

    // Blocks go on, and none reaches the tap.
    const auto written = processor.getAudioTap().writeIndex();
    pumpFor (500);
    EXPECT_EQ (processor.getAudioTap().writeIndex(), written);
}
} // namespace
