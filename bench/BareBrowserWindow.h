#pragma once

#include <editor/QuillbeatEditor.h>

#include <juce_gui_extra/juce_gui_extra.h>

// The framework's floor for the editor: a plain window at the editor's
// default size filled by a bare browser component, laid out the way the
// framework's own web view examples do, showing its resource provider's root.
struct BareBrowserWindow final : juce::Component
{
    explicit BareBrowserWindow (const juce::WebBrowserComponent::Options& options) : view (options)
    {
        addAndMakeVisible (view);
        setSize (QuillbeatEditor::defaultWidth, QuillbeatEditor::defaultHeight);
        view.goToURL (juce::WebBrowserComponent::getResourceProviderRoot());
    }

    void resized() override { view.setBounds (getLocalBounds()); }

    juce::WebBrowserComponent view;
};
