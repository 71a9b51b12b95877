#include "PluginRunner.h"

#include <cstring>

namespace quillbeat::host
{

// Runs blocks at the pace a sound card would ask for them.
class PluginRunner::ClockThread final : public juce::Thread
{
public:
    explicit ClockThread (PluginRunner& r) : juce::Thread ("Quillbeat host clock"), runner (r) {}

    void run() override
    {
        const auto blockMs = 1000.0 * clockBlockSize / clockSampleRate;
        auto next = juce::Time::getMillisecondCounterHiRes();

        while (! threadShouldExit())
        {
            runner.processOneBlock (clockBlockSize);
            next += blockMs;

            const auto wait = next - juce::Time::getMillisecondCounterHiRes();
            if (wait > 0)
                juce::Thread::sleep ((int) wait);
            else
                next = juce::Time::getMillisecondCounterHiRes(); // fell behind: do not try to catch up
        }
    }

private:
    PluginRunner& runner;
};

std::unique_ptr<PluginRunner> PluginRunner::load (const juce::File& bundle, juce::String& error)
{
    if (! bundle.exists())
    {
        error = "no plug-in at " + bundle.getFullPathName();
        return nullptr;
    }

    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile (types, bundle.getFullPathName());

    if (types.isEmpty())
    {
        error = bundle.getFullPathName() + " holds no VST3 plug-in";
        return nullptr;
    }

    auto instance = format.createInstanceFromDescription (*types[0], clockSampleRate, clockBlockSize, error);

    if (instance == nullptr)
        return nullptr;

    return std::unique_ptr<PluginRunner> (new PluginRunner (std::move (instance)));
}

PluginRunner::PluginRunner (std::unique_ptr<juce::AudioPluginInstance> p)
    : plugin (std::move (p))
{
    plugin->setPlayHead (&playHead);
    plugin->addListener (&stateChanged);

    juce::String error;
    setSignal (SignalSource::create ({}, error));
}

PluginRunner::~PluginRunner()
{
    stop();
    plugin->removeListener (&stateChanged);
    plugin->setPlayHead (nullptr);
}

juce::String PluginRunner::describeSchedule() const
{
    return usingDevice ? "audio device at " + juce::String (sampleRate, 0) + " Hz"
                       : "own clock at 48000 Hz, 512 samples";
}

void PluginRunner::setSignal (std::unique_ptr<SignalSource> next)
{
    jassert (next != nullptr);
    next->prepare (sampleRate);
    signalChoice = next->getChoice();
    signalDescription = next->describe();
    signalWarning = next->warningAt (sampleRate);
    signals.send (std::move (next));
}

// Called only while no block runs.
void PluginRunner::prepare (double newSampleRate, int maximumBlockSize)
{
    sampleRate = newSampleRate;
    playHead.setSampleRate (newSampleRate);   // so a seek before the first block lands at this rate
    buffer.setSize (2, maximumBlockSize);
    sentInput.setSize (2, maximumBlockSize);
    signals.newest()->prepare (newSampleRate);
    signalWarning = signals.newest()->warningAt (newSampleRate);
    midi.ensureSize (256);
    plugin->setRateAndBufferSizeDetails (newSampleRate, maximumBlockSize);
    plugin->prepareToPlay (newSampleRate, maximumBlockSize);
}

void PluginRunner::start (bool preferDevice)
{
    stop();

    if (preferDevice && deviceManager.initialiseWithDefaultDevices (0, 2).isEmpty()
        && deviceManager.getCurrentAudioDevice() != nullptr)
    {
        usingDevice = true;
        deviceManager.addAudioCallback (this);
        return;
    }

    usingDevice = false;
    prepare (clockSampleRate, clockBlockSize);
    clock = std::make_unique<ClockThread> (*this);
    clock->startThread (juce::Thread::Priority::highest);
}

void PluginRunner::stop()
{
    if (clock != nullptr)
    {
        clock->stopThread (2000);
        clock.reset();
        plugin->releaseResources();
    }

    if (usingDevice)
    {
        deviceManager.removeAudioCallback (this);
        deviceManager.closeAudioDevice();
        plugin->releaseResources();
        usingDevice = false;
    }
}

void PluginRunner::audioDeviceAboutToStart (juce::AudioIODevice* device)
{
    prepare (device->getCurrentSampleRate(), device->getCurrentBufferSizeSamples());
}

void PluginRunner::audioDeviceIOCallbackWithContext (const float* const*, int, float* const* outputs, int numOutputs,
                                                     int numSamples, const juce::AudioIODeviceCallbackContext&)
{
    processOneBlock (numSamples);

    // The check is internal; the speakers get silence, not the test signal.
    for (int ch = 0; ch < numOutputs; ++ch)
        if (outputs[ch] != nullptr)
            juce::FloatVectorOperations::clear (outputs[ch], numSamples);
}

void PluginRunner::processOneBlock (int numSamples) noexcept
{
    numSamples = juce::jmin (numSamples, buffer.getNumSamples());
    signals.current()->fill (buffer.getWritePointer (0), buffer.getWritePointer (1), numSamples);

    // Checked against the block as sent, so any signal can be checked.
    for (int ch = 0; ch < 2; ++ch)
        sentInput.copyFrom (ch, 0, buffer, ch, 0, numSamples);

    juce::AudioBuffer<float> block (buffer.getArrayOfWritePointers(), 2, numSamples);
    midi.clear();
    plugin->processBlock (block, midi);

    for (int i = 0; i < numSamples; ++i)
        if (std::memcmp (buffer.getReadPointer (0, i), sentInput.getReadPointer (0, i), sizeof (float)) != 0
            || std::memcmp (buffer.getReadPointer (1, i), sentInput.getReadPointer (1, i), sizeof (float)) != 0)
            mismatches.fetch_add (1);

    playHead.advance (numSamples, sampleRate);
    blocks.fetch_add (1);
}

} // namespace quillbeat::host
