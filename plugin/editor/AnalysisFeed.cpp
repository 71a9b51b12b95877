#include "AnalysisFeed.h"

#include <bridge/AnalysisMessage.h>
#include <bridge/AnalysisRequest.h>
#include <processor/MonotonicClock.h>
#include <processor/QuillbeatProcessor.h>

namespace quillbeat
{

AnalysisFeed::AnalysisFeed (QuillbeatProcessor& p, Send s)
    : processor (p), send (std::move (s)), analyser (p.getAudioTap())
{
}

AnalysisFeed::~AnalysisFeed()
{
    stop();
}

juce::String AnalysisFeed::apply (const juce::Array<juce::var>& arguments)
{
    const auto request = readAnalysisRequest (arguments);

    if (request.isRefused())
        return request.error;

    if (! request.settings.has_value())
    {
        stop();
        return {};
    }

    analyser.setSettings (*request.settings);

    if (! processor.isAnalysing())
        processor.startAnalysis();

    startTimerHz (request.settings->framesPerSecond);
    return {};
}

void AnalysisFeed::stop()
{
    stopTimer();
    processor.stopAnalysis();
}

void AnalysisFeed::timerCallback()
{
    try
    {
        if (analyser.nextFrame (frame))
            send (analysisFrameEventScript (renderAnalysisFrame (frame, monotonicNanoseconds())));
    }
    catch (...)
    {
        // Dropped for this frame; the next one tries again.
    }
}

} // namespace quillbeat
