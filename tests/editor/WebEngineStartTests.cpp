// The web engine starts in a process of its own while the message thread goes
// on: what is sent to the view before the engine is ready, an engine that
// never gets there, and several views starting at once.

#include "EditorFixture.h"

#include "../support/ProcessTable.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>

namespace
{
// A blank page from the resource provider.
std::optional<juce::WebBrowserComponent::Resource> blankPage (const juce::String&)
{
    const std::string html = "<!doctype html><body></body>";
    std::vector<std::byte> bytes (html.size());
    std::memcpy (bytes.data(), html.data(), html.size());
    return juce::WebBrowserComponent::Resource { std::move (bytes), "text/html" };
}

// Sets an environment variable for the processes started while it lives.
struct ScopedEnvironment
{
    ScopedEnvironment (const char* nameIn, const char* value) : name (nameIn)
    {
        if (const auto* old = std::getenv (name))
            previous = old;
        setenv (name, value, 1);
    }

    ~ScopedEnvironment()
    {
        if (previous.has_value())
            setenv (name, previous->c_str(), 1);
        else
            unsetenv (name);
    }

    const char* name;
    std::optional<std::string> previous;
};

// Every script sent while the engine was still starting is answered, each by
// its own answer and in the order sent, and none after a navigation sent
// before them goes astray.
TEST (WebEngineStart, ScriptsSentBeforeTheEngineIsReadyAreAnsweredInOrder)
{
    juce::WebBrowserComponent browser (juce::WebBrowserComponent::Options {}
                                           .withNativeIntegrationEnabled()
                                           .withResourceProvider (blankPage));
    browser.setSize (300, 200);
    browser.addToDesktop (0);
    browser.setVisible (true);

    // All of this before the message loop has run once, so before the engine
    // can have sent its window.
    browser.goToURL (juce::WebBrowserComponent::getResourceProviderRoot());
    std::vector<int> answers;
    std::vector<int> callOrder;

    for (int i = 0; i < 50; ++i)
        browser.evaluateJavascript (juce::String (i) + " * 10", [&answers, &callOrder, i] (auto result)
        {
            callOrder.push_back (i);
            answers.push_back (result.getResult() != nullptr ? (int) *result.getResult() : -1);
        });

    ASSERT_TRUE (pumpUntil ([&] { return answers.size() == 50; }, 15000)) << answers.size() << " of 50 answered";

    for (int i = 0; i < 50; ++i)
    {
        EXPECT_EQ (callOrder[(size_t) i], i);
        EXPECT_EQ (answers[(size_t) i], i * 10);
    }

    // The navigation sent first still happens, and later scripts still pair up.
    ASSERT_TRUE (pageBecomes (browser, "window.__JUCE__ && document.body", 15000));
    const auto later = evaluateInPage (browser, "6 * 7");
    ASSERT_TRUE (later.has_value());
    EXPECT_EQ ((int) *later, 42);
}

// An engine whose process ends before it shows its window (here it cannot
// reach the display) leaves the editor showing the fallback message, with no
// timer running, and no script callback is ever given an answer.
TEST (WebEngineStart, AnEngineThatCannotStartLeavesTheFallbackMessage)
{
    installTestPage();
    QuillbeatProcessor processor;
    int answered = 0;

    // This process keeps the display it has already opened.
    ASSERT_NE (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay(), nullptr);

    {
        std::unique_ptr<OpenEditor> editor;
        {
            const ScopedEnvironment noDisplay ("DISPLAY", ":4097");
            editor = std::make_unique<OpenEditor> (processor);
        }

        auto& view = *(*editor)->getWebView();
        EXPECT_FALSE ((*editor)->hasWebViewFailed()) << "the failure can only be known once the engine has tried";

        for (int i = 0; i < 5; ++i)
            view.evaluateJavascript ("1", [&answered] (auto) { ++answered; });

        ASSERT_TRUE (pumpUntil ([&] { return (*editor)->hasWebViewFailed(); }, 15000))
            << "the editor never learnt that its engine could not start";

        EXPECT_FALSE ((*editor)->isTicking());
        EXPECT_FALSE (view.isVisible());

        // The message, grey, around the middle of the window.
        const auto image = (*editor)->createComponentSnapshot ((*editor)->getLocalBounds());
        int grey = 0;
        for (int y = 230; y < 410; ++y)
            for (int x = 40; x < 860; ++x)
                if (image.getPixelAt (x, y).getRed() > 0x90 && image.getPixelAt (x, y).getRed() < 0xc0)
                    ++grey;
        EXPECT_GT (grey, 50) << "no fallback message painted";

        // Sent after the failure: dropped as well.
        view.evaluateJavascript ("2", [&answered] (auto) { ++answered; });
        pumpFor (300);
    }

    EXPECT_EQ (answered, 0);
    EXPECT_TRUE (pumpUntil ([] { return descendantsOf (getpid()).empty(); }, 5000)) << "an engine process was left behind";

    // With the display back, the next editor shows its page.
    AudioThread audio (processor);
    OpenEditor reopened (processor);
    EXPECT_TRUE (pageBecomes (*reopened->getWebView(), "window.__events.length > 0", 15000));
    EXPECT_FALSE (reopened->hasWebViewFailed());
}

// An engine that shows its window only after the editor's first ticks have
// laid the view out still fills the whole window, and the page gets the
// transport.
TEST (WebEngineStart, AnEngineThatStartsLateStillFillsTheWindow)
{
    installTestPage();
    QuillbeatProcessor processor;
    AudioThread audio (processor);

    std::unique_ptr<OpenEditor> editor;
    {
        const ScopedEnvironment slowStart ("QUILLBEAT_TEST_ENGINE_START_DELAY_MS", "1500");
        editor = std::make_unique<OpenEditor> (processor);
    }
    (*editor)->setSize (1000, 700);

    pumpFor (1000);
    EXPECT_EQ ((*editor)->getWebView()->getNumChildComponents(), 0) << "the engine was not late after all";

    auto& view = *(*editor)->getWebView();
    ASSERT_TRUE (pageBecomes (view, "window.__events.length > 0", 20000));
    EXPECT_TRUE (pageBecomes (view, "window.innerWidth === 1000 && window.innerHeight === 700", 3000))
        << "the page is " << evaluateInPage (view, "window.innerWidth + ' x ' + window.innerHeight").value_or ("?").toString();
}

// Two instances whose editors open in the same moment each get their own page
// and their own transport.
TEST (WebEngineStart, TwoEditorsOpeningTogetherBothShowTheirPage)
{
    installTestPage();
    QuillbeatProcessor first, second;
    AudioThread firstAudio (first), secondAudio (second);

    OpenEditor a (first), b (second);

    for (auto* editor : { &a, &b })
    {
        auto& view = *(*editor)->getWebView();
        ASSERT_TRUE (pageBecomes (view, "window.__events.length > 1", 20000));
        const auto bpm = evaluateInPage (view, "window.__events[window.__events.length - 1].bpm");
        ASSERT_TRUE (bpm.has_value());
        EXPECT_EQ ((double) *bpm, 128.0);
    }
}
} // namespace
