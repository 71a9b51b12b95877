#include "EditorFixture.h"

namespace
{
// One open editor on the test page, with audio running on another thread.
class PageBridge : public ::testing::Test
{
protected:
    void SetUp() override
    {
        installTestPage();
        audio = std::make_unique<AudioThread> (processor);
        editor = std::make_unique<OpenEditor> (processor);
        view = (*editor)->getWebView();
        ASSERT_NE (view, nullptr);
        ASSERT_TRUE (pageBecomes (*view, "window.__moduleReady && window.__transportData && window.__transportData.debugInfo === 'EvalJS'", 15000))
            << "the page never received a pushed transport";
    }

    void TearDown() override
    {
        editor.reset();
        audio.reset();
    }

    juce::var page (const juce::String& expression)
    {
        const auto v = evaluateInPage (*view, expression);
        EXPECT_TRUE (v.has_value()) << expression;
        return v.value_or (juce::var());
    }

    QuillbeatProcessor processor;
    std::unique_ptr<AudioThread> audio;
    std::unique_ptr<OpenEditor> editor;
    juce::WebBrowserComponent* view = nullptr;
};

TEST_F (PageBridge, PageSeesTheBridgeBeforeItsScriptsAndTheTransportScriptAndStyles)
{
    EXPECT_TRUE ((bool) page ("window.__sawConnectedBeforePage"));
    EXPECT_EQ (page ("window.__jsonp.debugInfo").toString(), "JSONP");
    EXPECT_EQ (page ("getComputedStyle (document.body).backgroundColor").toString(), "rgb(1, 2, 3)");
    EXPECT_EQ (page ("window.location.href").toString(), juce::WebBrowserComponent::getResourceProviderRoot());
}

TEST_F (PageBridge, AssignmentsCarryTheHostTransport)
{
    EXPECT_TRUE ((bool) page ("window.__transportData.connected"));
    EXPECT_TRUE ((bool) page ("window.__transportData.playing"));
    EXPECT_FALSE ((bool) page ("window.__transportData.recording"));
    EXPECT_EQ ((double) page ("window.__transportData.bpm"), 128.0);
    EXPECT_EQ ((int) page ("window.__transportData.timeSigNum"), 4);
    EXPECT_EQ ((int) page ("window.__transportData.timeSigDen"), 4);
    EXPECT_GE ((double) page ("window.__transportData.positionSecs"), 12.5);
    EXPECT_TRUE (page ("window.__transportData.positionFormatted").toString().startsWith ("0:1"));

    const auto firstCount = (int) page ("window.__transportData.debugBlockCount");
    const auto firstAssignments = (int) page ("window.__assignments");
    pumpFor (1000);
    EXPECT_GT ((int) page ("window.__transportData.debugBlockCount"), firstCount);
    EXPECT_GE ((int) page ("window.__assignments") - firstAssignments, 3);
}

TEST_F (PageBridge, EventsArriveAboutFourTimesASecond)
{
    ASSERT_TRUE (pageBecomes (*view, "window.__events.length > 0", 3000));
    EXPECT_EQ (page ("window.__events[window.__events.length - 1].debugInfo").toString(), "Event");
    EXPECT_TRUE ((bool) page ("window.__events[window.__events.length - 1].playing"));

    const auto before = (int) page ("window.__events.length");
    pumpFor (2000);
    const auto received = (int) page ("window.__events.length") - before;
    EXPECT_GE (received, 6);
    EXPECT_LE (received, 10);
}

TEST_F (PageBridge, GetTransportResolvesWithoutDebugInfoWhateverTheArguments)
{
    ASSERT_TRUE (pageBecomes (*view, "window.__getTransport && window.__getTransportWithArgs", 5000));

    for (const auto* result : { "window.__getTransport", "window.__getTransportWithArgs" })
    {
        const juce::String r (result);
        EXPECT_FALSE ((bool) page ("'debugInfo' in " + r)) << result;
        EXPECT_EQ (page ("Object.keys (" + r + ").join (',')").toString(),
                   "connected,playing,recording,bpm,timeSigNum,timeSigDen,positionSecs,positionFormatted,debugBlockCount")
            << result;
        EXPECT_EQ ((double) page (r + ".bpm"), 128.0) << result;
    }
}

TEST_F (PageBridge, PlayheadReadingsArriveBesideTodaysMessages)
{
    ASSERT_TRUE (pageBecomes (*view, "window.__getPlayhead && window.__playheads.length > 1", 5000));

    const juce::String keys = "connected,blockCount,playing,recording,looping,bpm,timeSigNum,timeSigDen,positionSecs,"
                              "positionSamples,ppqPosition,ppqLastBarStart,barCount,ppqLoopStart,ppqLoopEnd,sampleRate,"
                              "hostTimeMs,captureTimeMs,sentTimeMs";
    EXPECT_EQ (page ("Object.keys (window.__getPlayhead).join (',')").toString(), keys);
    EXPECT_EQ (page ("Object.keys (window.__playheads.at (-1).reading).join (',')").toString(), keys);

    // One block's values: the quarter notes match the seconds at 128 bpm, and
    // what this host never reports arrives as null.
    const juce::String last = "window.__playheads.at (-1).reading";
    EXPECT_TRUE ((bool) page (last + ".playing"));
    EXPECT_NEAR ((double) page (last + ".ppqPosition"), (double) page (last + ".positionSecs") * 128.0 / 60.0, 1e-9);
    EXPECT_EQ ((double) page (last + ".positionSamples"), std::round ((double) page (last + ".positionSecs") * 48000.0));
    EXPECT_TRUE ((bool) page (last + ".looping === false && " + last + ".ppqLoopStart === null && " + last
                              + ".barCount === null && " + last + ".hostTimeMs === null"));

    // Stamped by the plug-in's clock: captured before it was sent, and fresh.
    const auto age = (double) page (last + ".sentTimeMs - " + last + ".captureTimeMs");
    EXPECT_GE (age, 0.0);
    EXPECT_LT (age, 1000.0);

    // The same rate as the transport events, and the events are not disturbed.
    // Both events of a tick go out back to back, so one evaluation never sees half a tick.
    const juce::String lead = "window.__playheads.length - window.__events.length";
    const auto before = (int) page ("window.__playheads.length");
    const auto leadBefore = (int) page (lead);
    pumpFor (2000);
    const auto playheads = (int) page ("window.__playheads.length") - before;
    EXPECT_GE (playheads, 6);
    EXPECT_LE (playheads, 10);
    EXPECT_EQ ((int) page (lead), leadBefore);
    EXPECT_EQ (page ("Object.keys (window.__events.at (-1)).join (',')").toString(),
               "connected,playing,recording,bpm,timeSigNum,timeSigDen,positionSecs,positionFormatted,debugBlockCount,debugInfo");
}

TEST_F (PageBridge, HiddenViewGetsAssignmentsButNoEvents)
{
    ASSERT_TRUE (pageBecomes (*view, "window.__events.length > 0", 3000));
    view->setVisible (false);
    pumpFor (300); // let an event already under way land

    const auto events = (int) page ("window.__events.length");
    const auto assignments = (int) page ("window.__assignments");
    pumpFor (1500);

    EXPECT_EQ ((int) page ("window.__events.length"), events);
    EXPECT_GE ((int) page ("window.__assignments") - assignments, 4);

    view->setVisible (true);
    EXPECT_TRUE (pageBecomes (*view, "window.__events.length > " + juce::String (events), 3000));
}
} // namespace
