#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

namespace quillbeat::host
{

// Remembers that the hosted plug-in reported a change to its state that no
// parameter shows (a VST3 plug-in's setDirty), as a DAW marks its project
// modified, until the state is saved.
class StateChangeMark final : public juce::AudioProcessorListener
{
public:
    bool isSet() const noexcept { return set.load(); }
    void clear() noexcept { set = false; }

    // Counts the changes reported, saved or not, so a reader can tell a new one.
    juce::uint32 getChangeCount() const noexcept { return changes.load(); }

    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails& details) override
    {
        if (details.nonParameterStateChanged)
        {
            set = true;
            changes.fetch_add (1);
        }
    }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}

private:
    std::atomic<bool> set { false };
    std::atomic<juce::uint32> changes { 0 };
};

} // namespace quillbeat::host
