#include "QuillbeatEditor.h"

#include "../processor/QuillbeatProcessor.h"

QuillbeatEditor::QuillbeatEditor (QuillbeatProcessor& p)
    : AudioProcessorEditor (p), processor (p)
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
}

QuillbeatEditor::~QuillbeatEditor()
{
    processor.setWindowSize (getWidth(), getHeight());
}

void QuillbeatEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (backgroundColour));
}

void QuillbeatEditor::resized()
{
    processor.setWindowSize (getWidth(), getHeight());
}
