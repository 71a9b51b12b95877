#include "QuillbeatEditor.h"

#include "EditorWebView.h"
#include "ResourceProvider.h"

#include <bridge/AnalysisRequest.h>
#include <bridge/NativeAnswer.h>
#include <bridge/PageState.h>
#include <bridge/PlayheadMessage.h>
#include <bridge/TransportMessage.h>
#include <processor/MonotonicClock.h>
#include <processor/QuillbeatProcessor.h>

namespace
{
juce::File quillbeatDataFolder()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Quillbeat");
}
} // namespace

QuillbeatEditor::QuillbeatEditor (QuillbeatProcessor& p, WebViewFactory makeWebView)
    : AudioProcessorEditor (p), processor (p), seenStateLoads (p.getStateLoadCount())
{
    using Limits = quillbeat::SessionState;

    // A stored size below the minimum means none was ever stored sensibly;
    // the resize limits take care of sizes above the maximum.
    const auto storedWidth = processor.getWindowWidth();
    const auto storedHeight = processor.getWindowHeight();
    setSize (storedWidth >= Limits::minWidth ? storedWidth : defaultWidth,
             storedHeight >= Limits::minHeight ? storedHeight : defaultHeight);

    setResizable (true, true);
    setResizeLimits (Limits::minWidth, Limits::minHeight, Limits::maxWidth, Limits::maxHeight);
    setWantsKeyboardFocus (true);
    setOpaque (true);

    try
    {
        webRoot = quillbeatDataFolder().getChildFile ("web");
        webRoot.createDirectory();
        webRoot.getChildFile ("assets").createDirectory();

        createWebView (makeWebView);
        startTimer (500);
    }
    catch (...)
    {
        // A view created before the failure stays a child with no size, so
        // the fallback message painted behind it remains visible.
        webViewFailed = true;
    }
}

QuillbeatEditor::~QuillbeatEditor()
{
    stopTimer();
    devServerWatch.reset();
    analysisFeed.reset();   // the processor stops copying its audio for the page
    processor.setWindowSize (getWidth(), getHeight());
    webView.reset();
}

void QuillbeatEditor::createWebView (const WebViewFactory& makeWebView)
{
    const auto engineDataFolder = quillbeatDataFolder().getChildFile ("WebView2");
    engineDataFolder.createDirectory();

    // Inside a plug-in this names the plug-in's own module, not the host.
    const auto engineLoader = juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                                  .getParentDirectory()
                                  .getChildFile ("WebView2Loader.dll");

    // As the framework emits an event, with the frame's own JSON text.
    analysisFeed = std::make_unique<quillbeat::AnalysisFeed> (processor, [this] (const juce::String& eventScript)
    {
        if (webView != nullptr && webView->isVisible())
            webView->evaluateJavascript (eventScript, [] (juce::WebBrowserComponent::EvaluationResult) {});
    });

    using Options = juce::WebBrowserComponent::Options;
    const auto options =
        Options {}
            .withBackend (Options::Backend::webview2)
            .withNativeIntegrationEnabled()
            .withKeepPageLoadedWhenBrowserIsHidden()
            .withWinWebView2Options (Options::WinWebView2 {}
                                         .withUserDataFolder (engineDataFolder)
                                         .withDLLLocation (engineLoader))
            .withNativeFunction ("getTransport",
                                 [&processor = processor] (const juce::Array<juce::var>&,
                                                           juce::WebBrowserComponent::NativeFunctionCompletion completion)
                                 {
                                     completion (quillbeat::buildTransportObject (processor.readTransport()));
                                 })
            .withNativeFunction (quillbeat::playheadFunctionName,
                                 [&processor = processor] (const juce::Array<juce::var>&,
                                                           juce::WebBrowserComponent::NativeFunctionCompletion completion)
                                 {
                                     completion (quillbeat::buildPlayheadObject (processor.readPlayhead(),
                                                                                 quillbeat::monotonicNanoseconds()));
                                 })
            .withNativeFunction (quillbeat::getPageStateFunctionName,
                                 [&processor = processor] (const juce::Array<juce::var>&,
                                                           juce::WebBrowserComponent::NativeFunctionCompletion completion)
                                 {
                                     completion (processor.getWebState());
                                 })
            .withNativeFunction (quillbeat::setPageStateFunctionName,
                                 [&processor = processor] (const juce::Array<juce::var>& arguments,
                                                           juce::WebBrowserComponent::NativeFunctionCompletion completion)
                                 {
                                     // The framework's native functions cannot reject, so a refusal is an answer.
                                     auto request = quillbeat::readPageStateRequest (arguments);

                                     if (request.text.has_value())
                                         processor.setWebStateFromPage (*request.text);

                                     completion (quillbeat::pageStateSetResult (request.error));
                                 })
            .withNativeFunction (quillbeat::setAnalysisFunctionName,
                                 [this] (const juce::Array<juce::var>& arguments,
                                         juce::WebBrowserComponent::NativeFunctionCompletion completion)
                                 {
                                     completion (quillbeat::okOrError (analysisFeed != nullptr ? analysisFeed->apply (arguments)
                                                                                               : juce::String ("the editor is closing")));
                                 })
            .withUserScript (startupScript)
            .withResourceProvider ([&processor = processor, root = webRoot] (const juce::String& path)
                                   {
                                       return quillbeat::serveResource (root, processor, path);
                                   });

    if (makeWebView)
        webView = makeWebView (options);
    else
        webView = std::make_unique<EditorWebView> (options,
                                                   [this] { return replaceNetworkErrorPage(); },
                                                   [this] { showFallbackMessage(); });

    addAndMakeVisible (*webView);

    if (webRoot.getChildFile ("index.html").existsAsFile())
    {
        show (Shown::installedPage);
        return;
    }

    show (Shown::devServer);
    devServerWatch = std::make_unique<quillbeat::DevServerWatch> (devServerPort);
}

void QuillbeatEditor::show (Shown what)
{
    shown = what;

    // The resource provider's root is the installed page, or the plug-in's
    // own page that says what to do while there is none.
    webView->goToURL (what == Shown::devServer ? juce::String (devServerAddress)
                                               : juce::WebBrowserComponent::getResourceProviderRoot());
}

bool QuillbeatEditor::replaceNetworkErrorPage()
{
    // The engine's own error page is a line of bare text, and it also comes
    // for a load cut short by the next one: never show it. A development
    // server that does not answer gets the page that says what to do; the
    // watch brings the server back once it answers again.
    if (shown == Shown::devServer && webView != nullptr)
        show (Shown::noPagePage);

    return false;
}

void QuillbeatEditor::showFallbackMessage()
{
    // The engine starts after the view is built, so this may come at any time
    // after construction: the view goes out of sight, and nothing more is
    // sent to it.
    webViewFailed = true;
    stopTimer();
    devServerWatch.reset();

    if (analysisFeed != nullptr)
        analysisFeed->stop();

    if (webView != nullptr)
        webView->setVisible (false);

    repaint();
}

void QuillbeatEditor::followPageSource()
{
    if (devServerWatch == nullptr || webView == nullptr || shown == Shown::installedPage)
        return;

    if (shown == Shown::noPagePage && webRoot.getChildFile ("index.html").existsAsFile())
    {
        show (Shown::installedPage);
        return;
    }

    const auto answer = devServerWatch->latest();

    if (shown == Shown::devServer && answer == quillbeat::DevServerWatch::Answer::silent)
        show (Shown::noPagePage);
    else if (shown == Shown::noPagePage && answer == quillbeat::DevServerWatch::Answer::answering)
        show (Shown::devServer);
}

void QuillbeatEditor::timerCallback()
{
    if (layoutNudged)
    {
        pushTransportToPage();
        tellPageOfStateLoads();
        followPageSource();
        return;
    }

    stopTimer();
    layoutNudged = true;

    try
    {
        if (webView != nullptr)
        {
            // The embedded view only lays itself out properly after a real
            // size change, so it first gets a size just short of the editor
            // and the full size a moment later.
            webView->setBounds (1, 1, juce::jmax (0, getWidth() - 2), juce::jmax (0, getHeight() - 2));

            juce::Timer::callAfterDelay (100, [editor = SafePointer<QuillbeatEditor> (this)]
            {
                if (editor != nullptr && editor->webView != nullptr)
                    editor->webView->setBounds (0, 0, editor->getWidth(), editor->getHeight());
            });
        }
    }
    catch (...)
    {
    }

    startTimer (250);
}

void QuillbeatEditor::pushTransportToPage()
{
    if (webView == nullptr)
        return;

    try
    {
        const auto reading = processor.readTransport();

        // Always with a callback: on Linux a call without one shifts the
        // framework's queue of pending results onto later calls.
        webView->evaluateJavascript (quillbeat::buildTransportScript (reading, quillbeat::TransportScriptVariant::timer),
                                     [] (juce::WebBrowserComponent::EvaluationResult) {});
        webView->emitEventIfBrowserIsVisible ("transportUpdate", quillbeat::buildTransportObject (reading, "Event"));

        // The extended reading: all of one block's values, on its own event.
        webView->emitEventIfBrowserIsVisible (quillbeat::playheadEventName,
                                              quillbeat::buildPlayheadObject (processor.readPlayhead(),
                                                                              quillbeat::monotonicNanoseconds()));
    }
    catch (...)
    {
        // Dropped for this tick; the next one tries again.
    }
}

void QuillbeatEditor::tellPageOfStateLoads()
{
    const auto loads = processor.getStateLoadCount();

    // A hidden view drops events, so a load stays untold until it shows.
    if (webView == nullptr || loads == seenStateLoads || ! webView->isVisible())
        return;

    seenStateLoads = loads;

    try
    {
        webView->emitEventIfBrowserIsVisible (quillbeat::pageStateLoadedEventName, processor.getWebState());
    }
    catch (...)
    {
    }
}

void QuillbeatEditor::resized()
{
    if (webView != nullptr)
        webView->setBounds (getLocalBounds());

    processor.setWindowSize (getWidth(), getHeight());
}

bool QuillbeatEditor::keyPressed (const juce::KeyPress&)
{
    // Keys stay with the page; none reach the host through the editor.
    return true;
}

juce::String QuillbeatEditor::fallbackMessage()
{
    return juce::StringArray { "WebView2 could not be initialised.",
                               "",
                               "Please ensure the Microsoft WebView2 Runtime is installed:",
                               "https://developer.microsoft.com/microsoft-edge/webview2/",
                               "",
                               "Then restart your DAW and try again." }
        .joinIntoString ("\n");
}

void QuillbeatEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (backgroundColour));

    if (! webViewFailed)
        return;

    g.setColour (juce::Colour (0xffffffff));
    g.setFont (juce::FontOptions (18.0f));
    g.drawText ("Quillbeat", 0, 0, getWidth(), juce::jmin (getHeight(), 60), juce::Justification::centred, true);

    g.setColour (juce::Colour (0xffaaaaaa));
    g.setFont (juce::FontOptions (13.0f));
    g.drawFittedText (fallbackMessage(),
                      40, 40, juce::jmax (0, getWidth() - 80), juce::jmax (0, getHeight() - 80),
                      juce::Justification::centred, 6, 0.0f);
}
