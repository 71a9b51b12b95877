#pragma once

#include "HostPlayHead.h"
#include "StateChangeMark.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <memory>
#include <vector>

namespace quillbeat::host
{

// Loads a VST3 plug-in and runs audio through it on a real-time schedule:
// the audio device when there is one, else a clock thread of its own. The
// input is a known test signal, so every block checks that the plug-in
// handed it back unchanged.
class PluginRunner final : private juce::AudioIODeviceCallback
{
public:
    static constexpr double clockSampleRate = 48000.0;
    static constexpr int clockBlockSize = 512;

    // Message thread. Nothing on failure, with the reason in `error`.
    static std::unique_ptr<PluginRunner> load (const juce::File& bundle, juce::String& error);
    ~PluginRunner() override;

    // Starts audio; with `preferDevice` the default output device is tried first.
    void start (bool preferDevice);
    void stop();

    juce::AudioPluginInstance& getPlugin() noexcept { return *plugin; }
    HostPlayHead& getPlayHead() noexcept { return playHead; }
    StateChangeMark& getStateChangeMark() noexcept { return stateChanged; }
    juce::int64 getBlockCount() const noexcept { return blocks.load(); }
    juce::int64 getMismatchCount() const noexcept { return mismatches.load(); }
    double getSampleRate() const noexcept { return sampleRate; }
    juce::String describeSchedule() const;

private:
    class ClockThread;

    explicit PluginRunner (std::unique_ptr<juce::AudioPluginInstance>);

    void prepare (double newSampleRate, int maximumBlockSize);
    void processOneBlock (int numSamples) noexcept;

    void audioDeviceIOCallbackWithContext (const float* const*, int, float* const* outputs, int numOutputs,
                                           int numSamples, const juce::AudioIODeviceCallbackContext&) override;
    void audioDeviceAboutToStart (juce::AudioIODevice*) override;
    void audioDeviceStopped() override {}

    std::unique_ptr<juce::AudioPluginInstance> plugin;
    HostPlayHead playHead;
    StateChangeMark stateChanged;
    juce::AudioDeviceManager deviceManager;
    std::unique_ptr<ClockThread> clock;
    bool usingDevice = false;

    double sampleRate = clockSampleRate;
    juce::AudioBuffer<float> buffer;
    std::vector<float> testSignal;      // a second of noise per channel, read in a loop
    size_t signalPosition = 0;
    juce::MidiBuffer midi;

    std::atomic<juce::int64> blocks { 0 }, mismatches { 0 };
};

} // namespace quillbeat::host
