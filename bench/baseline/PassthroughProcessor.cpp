// The benchmarks' baseline: the emptiest effect the framework makes, with the
// buses Quillbeat has. Audio passes through untouched and nothing else runs,
// so whatever it costs to load or to process is the framework's floor.

#include <juce_audio_processors/juce_audio_processors.h>

namespace
{
class PassthroughProcessor final : public juce::AudioProcessor
{
public:
    PassthroughProcessor()
        : AudioProcessor (BusesProperties()
                              .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                              .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
    {
    }

    const juce::String getName() const override { return "PassthroughBaseline"; }

    void prepareToPlay (double, int) override {}
    void releaseResources() override {}
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    using juce::AudioProcessor::processBlock;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override
    {
        const auto output = layouts.getMainOutputChannelSet();

        if (output != juce::AudioChannelSet::mono() && output != juce::AudioChannelSet::stereo())
            return false;

        return layouts.getMainInputChannelSet() == output;
    }

    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}

    bool hasEditor() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override { return nullptr; }

    void getStateInformation (juce::MemoryBlock&) override {}
    void setStateInformation (const void*, int) override {}
};
} // namespace

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new PassthroughProcessor();
}
