#include "EditorFixture.h"

namespace
{
TEST (EditorWindow, OpensAtTheStoredSizeAndWritesItsSizeBack)
{
    const struct
    {
        int storedWidth, storedHeight;
        int width, height;
    } cases[] = {
        { 500, 300, 900, 640 }, // never stored sensibly: the default
        { 599, 640, 900, 640 },
        { 700, 450, 700, 450 },
        { 600, 400, 600, 400 },
        { 1920, 1080, 1920, 1080 },
    };

    for (const auto& c : cases)
    {
        QuillbeatProcessor processor;
        processor.setWindowSize (c.storedWidth, c.storedHeight);
        QuillbeatEditor editor (processor, failingWebView());

        EXPECT_EQ (editor.getWidth(), c.width) << c.storedWidth << "x" << c.storedHeight;
        EXPECT_EQ (editor.getHeight(), c.height) << c.storedWidth << "x" << c.storedHeight;
        EXPECT_EQ (processor.getWindowWidth(), c.width);
        EXPECT_EQ (processor.getWindowHeight(), c.height);
    }
}

TEST (EditorWindow, HostResizesAreHeldAtTheLimitsAndKeptOnClose)
{
    QuillbeatProcessor processor;
    auto editor = std::make_unique<QuillbeatEditor> (processor, failingWebView());

    EXPECT_TRUE (editor->isResizable());
    EXPECT_NE (editor->resizableCorner, nullptr);
    EXPECT_TRUE (editor->getWantsKeyboardFocus());
    EXPECT_TRUE (editor->isOpaque());

    auto* constrainer = editor->getConstrainer();
    ASSERT_NE (constrainer, nullptr);

    const struct
    {
        int requestedWidth, requestedHeight;
        int width, height;
    } cases[] = {
        { 800, 600, 800, 600 },
        { 5000, 3000, 1920, 1080 },
        { 100, 100, 600, 400 },
        { 599, 1081, 600, 1080 },
        { 800, 600, 800, 600 },
    };

    for (const auto& c : cases)
    {
        constrainer->setBoundsForComponent (editor.get(), { 0, 0, c.requestedWidth, c.requestedHeight }, false, false, true, true);
        EXPECT_EQ (editor->getWidth(), c.width) << c.requestedWidth << "x" << c.requestedHeight;
        EXPECT_EQ (editor->getHeight(), c.height) << c.requestedWidth << "x" << c.requestedHeight;
        EXPECT_EQ (processor.getWindowWidth(), c.width);
        EXPECT_EQ (processor.getWindowHeight(), c.height);
    }

    // A state loaded while the editor is open does not move the window; closing writes the window's size back.
    const std::string loaded = R"({"windowWidth": 1000, "windowHeight": 700})";
    processor.setStateInformation (loaded.data(), (int) loaded.size());
    EXPECT_EQ (processor.getWindowWidth(), 1000);
    EXPECT_EQ (editor->getWidth(), 800);

    editor.reset();
    EXPECT_EQ (processor.getWindowWidth(), 800);
    EXPECT_EQ (processor.getWindowHeight(), 600);
}

TEST (EditorWindow, SwallowsEveryKey)
{
    QuillbeatProcessor processor;
    QuillbeatEditor editor (processor, failingWebView());

    const juce::KeyPress keys[] = {
        juce::KeyPress ('a'),
        juce::KeyPress (juce::KeyPress::spaceKey),
        juce::KeyPress (juce::KeyPress::escapeKey),
        juce::KeyPress (juce::KeyPress::returnKey),
        juce::KeyPress ('z', juce::ModifierKeys::commandModifier, 0),
        juce::KeyPress (juce::KeyPress::F5Key),
        juce::KeyPress (juce::KeyPress::leftKey, juce::ModifierKeys::shiftModifier, 0),
    };

    for (const auto& key : keys)
        EXPECT_TRUE (editor.keyPressed (key)) << key.getTextDescription();
}

// Counts pixels in an area whose colour is within a small distance of `colour`.
int countPixels (const juce::Image& image, juce::Rectangle<int> area, juce::Colour colour)
{
    int count = 0;

    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto p = image.getPixelAt (x, y);
            if (std::abs (p.getRed() - colour.getRed()) < 8 && std::abs (p.getGreen() - colour.getGreen()) < 8
                && std::abs (p.getBlue() - colour.getBlue()) < 8)
                ++count;
        }

    return count;
}

TEST (EditorWindow, FailedWebViewShowsTheFallbackMessageAndRunsNoTimer)
{
    QuillbeatProcessor processor;
    QuillbeatEditor editor (processor, failingWebView());

    EXPECT_TRUE (editor.hasWebViewFailed());
    EXPECT_FALSE (editor.isTicking());
    EXPECT_EQ (editor.getWebView(), nullptr);

    const auto image = editor.createComponentSnapshot (editor.getLocalBounds());
    const juce::Colour background (QuillbeatEditor::backgroundColour);

    EXPECT_EQ (image.getPixelAt (2, 2).getARGB(), background.getARGB());
    EXPECT_EQ (image.getPixelAt (2, 637).getARGB(), background.getARGB());

    // The title, white, in the top band; the message, grey, around the middle, and nothing of either elsewhere.
    EXPECT_GT (countPixels (image, { 380, 10, 140, 40 }, juce::Colours::white), 20);
    EXPECT_EQ (countPixels (image, { 0, 60, 900, 580 }, juce::Colours::white), 0);
    EXPECT_GT (countPixels (image, { 40, 230, 820, 180 }, juce::Colour (0xffaaaaaa)), 50);
    EXPECT_EQ (countPixels (image, { 0, 60, 900, 140 }, juce::Colour (0xffaaaaaa)), 0);

    EXPECT_EQ (QuillbeatEditor::fallbackMessage(),
               "WebView2 could not be initialised.\n\nPlease ensure the Microsoft WebView2 Runtime is installed:\n"
               "https://developer.microsoft.com/microsoft-edge/webview2/\n\nThen restart your DAW and try again.");

    // Ticks never start on their own, and nothing is laid out.
    pumpFor (700);
    EXPECT_FALSE (editor.isTicking());
}

TEST (EditorWindow, FirstTickNudgesTheViewThenGivesItTheFullSize)
{
    installTestPage();
    QuillbeatProcessor processor;
    processor.setWindowSize (800, 600);
    OpenEditor editor (processor);

    auto* view = editor->getWebView();
    ASSERT_NE (view, nullptr);
    EXPECT_TRUE (editor->isTicking());
    EXPECT_EQ (editor->getTickInterval(), 500);
    EXPECT_TRUE (view->getBounds().isEmpty()); // no size before the first tick

    editor->timerCallback();
    EXPECT_EQ (view->getBounds(), juce::Rectangle<int> (1, 1, 798, 598));
    EXPECT_TRUE (editor->isTicking());
    EXPECT_EQ (editor->getTickInterval(), 250);

    ASSERT_TRUE (pumpUntil ([&] { return view->getBounds() == juce::Rectangle<int> (0, 0, 800, 600); }, 1000));

    editor->setSize (700, 500);
    EXPECT_EQ (view->getBounds(), juce::Rectangle<int> (0, 0, 700, 500));
}

TEST (EditorWindow, ClosingBetweenTheFirstTickAndTheDelayedLayoutIsHarmless)
{
    installTestPage();
    QuillbeatProcessor processor;

    for (int round = 0; round < 3; ++round)
    {
        {
            OpenEditor editor (processor);
            editor->timerCallback();
        }
        pumpFor (200); // the delayed layout call comes due after its editor is gone
    }

    SUCCEED();
}
} // namespace
