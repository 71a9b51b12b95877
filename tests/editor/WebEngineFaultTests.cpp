#include "EditorFixture.h"

#include "../support/ProcessTable.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace
{
double processorSecondsUsed()
{
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    return (double) usage.ru_utime.tv_sec + (double) usage.ru_utime.tv_usec / 1e6
         + (double) usage.ru_stime.tv_sec + (double) usage.ru_stime.tv_usec / 1e6;
}

// The share of one core this process uses while its message loop runs.
double cpuShareWhilePumping (int milliseconds)
{
    const auto before = processorSecondsUsed();
    pumpFor (milliseconds);
    return (processorSecondsUsed() - before) * 1000.0 / milliseconds;
}

// Kills the web engine's processes (they are all below this one) with no
// warning, as a crash or the out-of-memory killer would.
void killWebEngine()
{
    for (const auto pid : descendantsOf (getpid()))
        kill (pid, SIGKILL);
}

class WebEngineFaults : public ::testing::Test
{
protected:
    void SetUp() override { installTestPage(); }

    QuillbeatProcessor processor;
    AudioThread audio { processor };
};

// A dead web engine must cost the host nothing but the page: no crash (writing
// to the engine's pipe raised SIGPIPE), no busy thread, no hang on close.
TEST_F (WebEngineFaults, HostOutlivesAKilledWebEngineAndCanOpenTheEditorAgain)
{
    auto editor = std::make_unique<OpenEditor> (processor);
    auto* view = (*editor)->getWebView();
    ASSERT_NE (view, nullptr);
    ASSERT_TRUE (pageBecomes (*view, "window.__events.length > 0", 15000));

    // Keep native calls and evaluations in flight when the engine dies; the
    // editor's own pushes go on at their usual rate.
    ASSERT_TRUE (evaluateInPage (*view, "setInterval (() => window.__callGetTransport ('ping'), 5), true").has_value());
    pumpFor (200);

    for (int i = 0; i < 5; ++i)
        view->evaluateJavascript ("window.__transportData", [] (auto) {});

    killWebEngine();

    for (int i = 0; i < 20; ++i)
    {
        view->evaluateJavascript ("1 + 1", [] (auto) {});
        pumpFor (25);
    }

    pumpFor (1000); // four more pushes into the dead pipe
    EXPECT_LT (cpuShareWhilePumping (1000), 0.25) << "something keeps spinning after the engine died";

    const auto closing = juce::Time::getMillisecondCounterHiRes();
    editor.reset();
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - closing, 1000.0) << "closing the editor hung";
    EXPECT_TRUE (descendantsOf (getpid()).empty()) << "a web-engine process was left behind";

    OpenEditor reopened (processor);
    ASSERT_NE (reopened->getWebView(), nullptr);
    EXPECT_TRUE (pageBecomes (*reopened->getWebView(), "window.__events.length > 0", 15000))
        << "a reopened editor got no transport";
}

// Text outside ASCII must cross between the page and the plug-in intact, both
// ways, without shifting which answer goes to which evaluation.
TEST_F (WebEngineFaults, NonAsciiTextCrossesTheBridgeBothWays)
{
    OpenEditor editor (processor);
    auto* view = editor->getWebView();
    ASSERT_NE (view, nullptr);
    ASSERT_TRUE (pageBecomes (*view, "window.__moduleReady === true", 15000));

    const juce::String text (juce::CharPointer_UTF8 ("Grüße € 𝄞 日本語"));

    ASSERT_TRUE (evaluateInPage (*view, "window.__callGetTransport (" + juce::JSON::toString (text) + ")"
                                        ".then ((r) => { window.__nonAsciiAnswer = r; }), true").has_value());
    EXPECT_TRUE (pageBecomes (*view, "window.__nonAsciiAnswer && window.__nonAsciiAnswer.bpm === 128", 5000))
        << "a native call with non-ASCII arguments got no answer";

    const auto echoed = evaluateInPage (*view, juce::JSON::toString (text));
    ASSERT_TRUE (echoed.has_value());
    EXPECT_EQ (echoed->toString(), text);

    // Each later evaluation still gets its own answer.
    for (int i = 0; i < 3; ++i)
    {
        const auto answer = evaluateInPage (*view, juce::String (i) + " * 10");
        ASSERT_TRUE (answer.has_value());
        EXPECT_EQ ((int) *answer, i * 10);
    }
}
// What a page sends arrives as it was written, however far from ASCII.
TEST (WebEngineText, NonAsciiEventFromThePageArrivesIntact)
{
    const juce::String text (juce::CharPointer_UTF8 ("Grüße € 𝄞 日本語"));
    std::optional<juce::String> received;

    const auto emptyPage = [] (const juce::String&) -> std::optional<juce::WebBrowserComponent::Resource>
    {
        const std::string html = "<!doctype html><body></body>";
        std::vector<std::byte> bytes (html.size());
        std::memcpy (bytes.data(), html.data(), html.size());
        return juce::WebBrowserComponent::Resource { std::move (bytes), "text/html" };
    };

    juce::WebBrowserComponent browser (juce::WebBrowserComponent::Options {}
                                           .withNativeIntegrationEnabled()
                                           .withResourceProvider (emptyPage)
                                           .withEventListener ("echo", [&] (const juce::var& v) { received = v.toString(); }));
    browser.setSize (300, 200);
    browser.addToDesktop (0);
    browser.setVisible (true);
    browser.goToURL (juce::WebBrowserComponent::getResourceProviderRoot());

    ASSERT_TRUE (pageBecomes (browser, "window.__JUCE__ && window.__JUCE__.backend", 15000));
    ASSERT_TRUE (evaluateInPage (browser, "window.__JUCE__.backend.emitEvent ('echo', " + juce::JSON::toString (text) + "), true")
                     .has_value());

    ASSERT_TRUE (pumpUntil ([&] { return received.has_value(); }, 5000)) << "the event never arrived";
    EXPECT_EQ (*received, text);
}
} // namespace
