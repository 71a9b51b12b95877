#pragma once

#include "PluginRunner.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace quillbeat::host
{

// The stand-in host's window: a transport bar above the plug-in's editor.
class HostWindow final : public juce::DocumentWindow
{
public:
    HostWindow (PluginRunner& runner, bool showEditor, const juce::String& signatureText);
    ~HostWindow() override;

    void closeButtonPressed() override;

private:
    class Content;
    std::unique_ptr<Content> content;
};

} // namespace quillbeat::host
