#pragma once

#include "AnalysisFeed.h"
#include "DevServerWatch.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_extra/juce_gui_extra.h>

#include <functional>
#include <memory>

class QuillbeatProcessor;

// The plug-in's window: one browser view showing the page, kept at the size
// the project stored, and a timer that keeps the page up to date with the
// host's transport.
class QuillbeatEditor final : public juce::AudioProcessorEditor,
                              private juce::Timer
{
public:
    static constexpr int defaultWidth = 900, defaultHeight = 640;
    static constexpr juce::uint32 backgroundColour = 0xff0f0f1a;
    static constexpr const char* devServerAddress = "http://127.0.0.1:5173/";
    static constexpr int devServerPort = 5173;
    static constexpr const char* startupScript = "window.__juceConnected=true;console.log('Quillbeat: Native bridge loaded');";

    // Builds the browser view from its options. Replaceable so a test can make
    // the engine fail; the default builds the framework's browser component.
    using WebViewFactory = std::function<std::unique_ptr<juce::WebBrowserComponent> (const juce::WebBrowserComponent::Options&)>;

    explicit QuillbeatEditor (QuillbeatProcessor&, WebViewFactory = {});
    ~QuillbeatEditor() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    bool keyPressed (const juce::KeyPress&) override;

    // First tick lays the view out; every later tick pushes the transport,
    // tells the page of a state the host loaded since the last one, and
    // without an installed page follows the development server.
    void timerCallback() override;

    juce::WebBrowserComponent* getWebView() const noexcept { return webView.get(); }
    bool hasWebViewFailed() const noexcept { return webViewFailed; }
    bool isTicking() const noexcept { return isTimerRunning(); }
    bool isSendingAnalysis() const noexcept { return analysisFeed != nullptr && analysisFeed->isRunning(); }
    int getTickInterval() const noexcept { return getTimerInterval(); }

    static juce::String fallbackMessage();

private:
    // What the view was last sent to.
    enum class Shown
    {
        installedPage,
        devServer,
        noPagePage
    };

    void createWebView (const WebViewFactory&);
    void show (Shown);
    bool replaceNetworkErrorPage();
    void showFallbackMessage();
    void followPageSource();
    void pushTransportToPage();
    void tellPageOfStateLoads();

    std::unique_ptr<juce::WebBrowserComponent> webView;
    QuillbeatProcessor& processor;
    juce::File webRoot;
    bool webViewFailed = false;
    bool layoutNudged = false;
    Shown shown = Shown::installedPage;
    std::unique_ptr<quillbeat::DevServerWatch> devServerWatch;
    std::unique_ptr<quillbeat::AnalysisFeed> analysisFeed;
    juce::uint32 seenStateLoads = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuillbeatEditor)
};
