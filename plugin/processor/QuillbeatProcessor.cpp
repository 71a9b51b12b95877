#include "QuillbeatProcessor.h"

#include "../editor/QuillbeatEditor.h"

QuillbeatProcessor::QuillbeatProcessor()
    : AudioProcessor (BusesProperties()
                          .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                          .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
{
}

const juce::String QuillbeatProcessor::getName() const { return "Quillbeat"; }

void QuillbeatProcessor::prepareToPlay (double sampleRate, int maximumBlockSize)
{
    // Another stream format: what the reader holds from the old one no
    // longer lines up, so the analysis starts again from the next block.
    if (! juce::exactlyEqual (sampleRate, preparedSampleRate) || maximumBlockSize != preparedBlockSize)
        tap.restart();

    preparedSampleRate = sampleRate;
    preparedBlockSize = maximumBlockSize;
}

void QuillbeatProcessor::releaseResources() {}

void QuillbeatProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    // Audio passes through untouched: the host's buffer already holds the input.
    const auto& block = transport.capture (getPlayHead(), getSampleRate());

    if (analysisWanted.load (std::memory_order_relaxed))
        feedAnalysis (buffer, block);
}

// Out of line, so the path without a page keeps processBlock as small as it was.
void QuillbeatProcessor::feedAnalysis (const juce::AudioBuffer<float>& buffer, const quillbeat::TransportSnapshot::Block& block) noexcept
{
    quillbeat::AudioTap::BlockInfo info;
    info.blockCount = block.blockCount;
    info.captureTimeNs = block.captureTimeNs;
    info.sampleRate = block.sampleRate;

    if (block.hasPosition)
    {
        if (const auto samples = block.position.getTimeInSamples())
            info.positionSamples = *samples;

        if (const auto ppq = block.position.getPpqPosition())
            info.ppqPosition = *ppq;
    }

    tap.write (buffer.getArrayOfReadPointers(), buffer.getNumChannels(), buffer.getNumSamples(), info);
}

void QuillbeatProcessor::startAnalysis()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (isAnalysing())
        return;

    tap.allocate();
    tap.restart();
    analysisWanted.store (true, std::memory_order_release);
}

void QuillbeatProcessor::stopAnalysis() noexcept
{
    analysisWanted.store (false, std::memory_order_relaxed);
}

bool QuillbeatProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto output = layouts.getMainOutputChannelSet();

    if (output != juce::AudioChannelSet::mono() && output != juce::AudioChannelSet::stereo())
        return false;

    return layouts.getMainInputChannelSet() == output;
}

bool QuillbeatProcessor::acceptsMidi() const { return false; }
bool QuillbeatProcessor::producesMidi() const { return false; }
bool QuillbeatProcessor::isMidiEffect() const { return false; }
double QuillbeatProcessor::getTailLengthSeconds() const { return 0.0; }

int QuillbeatProcessor::getNumPrograms() { return 1; }
int QuillbeatProcessor::getCurrentProgram() { return 0; }
void QuillbeatProcessor::setCurrentProgram (int) {}
const juce::String QuillbeatProcessor::getProgramName (int) { return {}; }
void QuillbeatProcessor::changeProgramName (int, const juce::String&) {}

bool QuillbeatProcessor::hasEditor() const { return true; }
juce::AudioProcessorEditor* QuillbeatProcessor::createEditor() { return new QuillbeatEditor (*this); }

void QuillbeatProcessor::setWindowSize (int width, int height) noexcept
{
    windowWidth.store (width, std::memory_order_relaxed);
    windowHeight.store (height, std::memory_order_relaxed);
}

juce::String QuillbeatProcessor::getWebState() const
{
    const std::scoped_lock lock (stateLock);
    return webState;
}

void QuillbeatProcessor::setWebStateFromPage (const juce::String& text)
{
    JUCE_ASSERT_MESSAGE_THREAD

    {
        const std::scoped_lock lock (stateLock);
        webState = text;
    }

    // Outside the lock: hosts may ask for the state from inside this call.
    updateHostDisplay (ChangeDetails().withNonParameterStateChanged (true));
}

void QuillbeatProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    quillbeat::SessionState state;
    {
        const std::scoped_lock lock (stateLock);
        state.windowWidth = getWindowWidth();
        state.windowHeight = getWindowHeight();
        state.webState = webState;
    }

    const auto json = quillbeat::encodeSessionState (state);
    destData.append (json.toRawUTF8(), json.getNumBytesAsUTF8());
}

void QuillbeatProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto state = quillbeat::decodeSessionState (data, sizeInBytes);

    if (! state.has_value())
        return;

    {
        const std::scoped_lock lock (stateLock);
        setWindowSize (state->windowWidth, state->windowHeight);
        webState = state->webState;
    }

    stateLoads.fetch_add (1, std::memory_order_release);
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuillbeatProcessor();
}
