#include "PluginRunner.h"

#include <cstring>
#include <random>

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

    std::mt19937 random (2024);
    std::uniform_real_distribution<float> noise (-0.25f, 0.25f);
    testSignal.resize ((size_t) clockSampleRate * 2);
    for (auto& s : testSignal)
        s = noise (random);
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

void PluginRunner::prepare (double newSampleRate, int maximumBlockSize)
{
    sampleRate = newSampleRate;
    playHead.setSampleRate (newSampleRate);   // so a seek before the first block lands at this rate
    buffer.setSize (2, maximumBlockSize);
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

    // The check is internal; the speakers get silence, not test noise.
    for (int ch = 0; ch < numOutputs; ++ch)
        if (outputs[ch] != nullptr)
            juce::FloatVectorOperations::clear (outputs[ch], numSamples);
}

void PluginRunner::processOneBlock (int numSamples) noexcept
{
    numSamples = juce::jmin (numSamples, buffer.getNumSamples());
    const auto signalLength = testSignal.size() / 2;

    // Left and right read different halves of the noise.
    const auto start = signalPosition;
    for (int i = 0; i < numSamples; ++i)
    {
        const auto at = (start + (size_t) i) % signalLength;
        buffer.setSample (0, i, testSignal[at]);
        buffer.setSample (1, i, testSignal[signalLength + at]);
    }

    juce::AudioBuffer<float> block (buffer.getArrayOfWritePointers(), 2, numSamples);
    midi.clear();
    plugin->processBlock (block, midi);

    for (int i = 0; i < numSamples; ++i)
    {
        const auto at = (start + (size_t) i) % signalLength;
        const auto left = buffer.getSample (0, i), right = buffer.getSample (1, i);
        if (std::memcmp (&left, &testSignal[at], sizeof left) != 0
            || std::memcmp (&right, &testSignal[signalLength + at], sizeof right) != 0)
            mismatches.fetch_add (1);
    }

    signalPosition = (start + (size_t) numSamples) % signalLength;
    playHead.advance (numSamples, sampleRate);
    blocks.fetch_add (1);
}

} // namespace quillbeat::host
