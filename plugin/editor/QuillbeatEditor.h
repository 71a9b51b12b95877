#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class QuillbeatProcessor;

// The plug-in's window. For now it only keeps the stored size and paints the
// background; the browser view that fills it comes next.
class QuillbeatEditor final : public juce::AudioProcessorEditor
{
public:
    static constexpr int defaultWidth = 900, defaultHeight = 640;
    static constexpr juce::uint32 backgroundColour = 0xff0f0f1a;

    explicit QuillbeatEditor (QuillbeatProcessor&);
    ~QuillbeatEditor() override;

    void paint (juce::Graphics&) override;
    void resized() override;

private:
    QuillbeatProcessor& processor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuillbeatEditor)
};
