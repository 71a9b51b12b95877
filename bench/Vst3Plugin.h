#pragma once

// A VST3 bundle loaded through the SDK's own hosting classes, one instance of
// it connected the way hosts connect them, and that instance set up to process
// stereo blocks under a playing transport. The benchmarks drive Quillbeat and
// the baseline through exactly the same calls.

#include <public.sdk/source/vst/hosting/hostclasses.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>

#include "../tests/support/Vst3Instance.h"
#include "../tests/support/Vst3ProcessData.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench
{
using namespace Steinberg;
using namespace Steinberg::Vst;

inline VST3::Hosting::Module::Ptr loadModule (const std::string& bundle)
{
    std::string error;
    auto module = VST3::Hosting::Module::create (bundle, error);
    if (module == nullptr)
        throw std::runtime_error ("cannot load " + bundle + ": " + error);
    return module;
}

// An instance of the bundle's audio effect, initialised and connected.
class PluginInstance : public vst3host::Vst3Instance
{
public:
    PluginInstance (const VST3::Hosting::PluginFactory& factory, FUnknown* hostContext)
        : Vst3Instance (factory, hostContext)
    {
        if (! valid())
            throw std::runtime_error ("the bundle's audio effect does not initialise with a controller");
    }
};

// An instance active and processing stereo blocks, with a transport playing at
// 128 bpm in 4/4 that moves on by one block on every call.
class StereoProcessing
{
public:
    static constexpr int32 blockSize = 512;
    static constexpr double sampleRate = 48000.0;

    explicit StereoProcessing (PluginInstance& instanceToUse) : instance (instanceToUse)
    {
        auto& processor = *instance.processor;
        SpeakerArrangement stereo = SpeakerArr::kStereo;
        ProcessSetup setup { kRealtime, kSample32, blockSize, sampleRate };

        if (processor.setBusArrangements (&stereo, 1, &stereo, 1) != kResultTrue
            || processor.setupProcessing (setup) != kResultOk)
            throw std::runtime_error ("the effect refuses stereo at 48 kHz");

        instance.component->activateBus (kAudio, kInput, 0, true);
        instance.component->activateBus (kAudio, kOutput, 0, true);
        instance.component->setActive (true);
        processor.setProcessing (true);

        // Quiet noise in, so nothing is denormal or silent by accident.
        for (int32 i = 0; i < blockSize; ++i)
        {
            inputLeft[(size_t) i] = 0.25f * (float) ((i * 7919) % 1000 - 500) / 500.0f;
            inputRight[(size_t) i] = -inputLeft[(size_t) i];
        }

        inputBus.numChannels = 2;
        inputBus.channelBuffers32 = inputs;
        outputBus.numChannels = 2;
        outputBus.channelBuffers32 = outputs;

        // Everything a DAW tells a plug-in, so every value the capture keeps is there to keep.
        context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid | ProcessContext::kTimeSigValid
                        | ProcessContext::kProjectTimeMusicValid | ProcessContext::kBarPositionValid
                        | ProcessContext::kCycleActive | ProcessContext::kCycleValid | ProcessContext::kSystemTimeValid;
        context.cycleStartMusic = 0.0;
        context.cycleEndMusic = 1.0e6;
        context.sampleRate = sampleRate;
        context.tempo = 128.0;
        context.timeSigNumerator = 4;
        context.timeSigDenominator = 4;
        context.projectTimeSamples = (TSamples) (12.5 * sampleRate);

        data = vst3host::blockData (inputBus, outputBus, blockSize, &context);
    }

    ~StereoProcessing()
    {
        instance.processor->setProcessing (false);
        instance.component->setActive (false);
    }

    StereoProcessing (const StereoProcessing&) = delete;
    StereoProcessing& operator= (const StereoProcessing&) = delete;

    // The host's side of a block: the transport moves on, then one process() call.
    void advanceTransport() noexcept
    {
        context.projectTimeSamples += blockSize;
        const auto quarterNotes = (double) context.projectTimeSamples / sampleRate * context.tempo / 60.0;
        context.projectTimeMusic = quarterNotes;
        context.barPositionMusic = quarterNotes - std::fmod (quarterNotes, 4.0);
        context.systemTime += (TSamples) (1.0e9 * blockSize / sampleRate);
    }

    tresult process() noexcept { return instance.processor->process (data); }

    // Whether the last block came out as it went in, as a passthrough's must.
    bool passedThrough() const { return outputLeft == inputLeft && outputRight == inputRight; }

private:
    PluginInstance& instance;
    std::vector<float> inputLeft = std::vector<float> (blockSize), inputRight = std::vector<float> (blockSize);
    std::vector<float> outputLeft = std::vector<float> (blockSize), outputRight = std::vector<float> (blockSize);
    float* inputs[2] = { inputLeft.data(), inputRight.data() };
    float* outputs[2] = { outputLeft.data(), outputRight.data() };
    AudioBusBuffers inputBus {}, outputBus {};
    ProcessContext context {};
    ProcessData data {};
};

} // namespace bench
