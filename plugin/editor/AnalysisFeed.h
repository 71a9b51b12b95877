#pragma once

#include <analysis/AnalysisFrame.h>
#include <analysis/AudioAnalyser.h>

#include <juce_events/juce_events.h>

#include <functional>
#include <memory>

class QuillbeatProcessor;

namespace quillbeat
{

// Analysis frames for the page, at the rate it asked, made on the message
// thread: a frame is one FFT of at most 4096 points and a scan of the samples
// since the previous frame (tens of microseconds), and the page's event has
// to leave from this thread anyway, so a worker would only add a hand-over.
// While it runs, the processor copies its audio into the tap; once it stops
// (or is destroyed, as when the editor closes) the processor is back on its
// path without analysis.
class AnalysisFeed final : private juce::Timer
{
public:
    // Hands the page one frame: the script that emits it as "analysisFrame".
    using Send = std::function<void (const juce::String& eventScript)>;

    AnalysisFeed (QuillbeatProcessor&, Send send);
    ~AnalysisFeed() override;

    // Applies a "setAnalysis" call: new settings, a stop, or nothing at all when
    // the call is refused. Returns the refusal, empty when applied.
    juce::String apply (const juce::Array<juce::var>& arguments);

    void stop();
    bool isRunning() const noexcept { return isTimerRunning(); }

private:
    void timerCallback() override;

    QuillbeatProcessor& processor;
    Send send;
    AudioAnalyser analyser;
    AnalysisFrame frame;   // reused, so a steady stream allocates little
};

} // namespace quillbeat
