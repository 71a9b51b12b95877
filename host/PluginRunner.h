#pragma once

#include "HandOver.h"
#include "HostPlayHead.h"
#include "SignalSource.h"
#include "StateChangeMark.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <memory>

namespace quillbeat::host
{

// Loads a VST3 plug-in and runs audio through it on a real-time schedule:
// the audio device when there is one, else a clock thread of its own. Every
// block checks that the plug-in handed its input back unchanged, bit for bit.
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

    // Message thread, audio running or not: the signal fed from the next block on.
    void setSignal (std::unique_ptr<SignalSource>);
    // Message thread: the signal last set, and what to know about it at the current rate.
    const SignalChoice& getSignalChoice() const noexcept { return signalChoice; }
    juce::String describeSignal() const { return signalDescription; }
    juce::String getSignalWarning() const { return signalWarning; }

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
    juce::AudioBuffer<float> sentInput;     // the block as handed to the plug-in, to check against
    juce::MidiBuffer midi;

    HandOver<SignalSource> signals;
    SignalChoice signalChoice;
    juce::String signalDescription, signalWarning;

    std::atomic<juce::int64> blocks { 0 }, mismatches { 0 };
};

} // namespace quillbeat::host
