#pragma once

// What a host hands an effect's process() for one block: one input bus and
// one output bus of 32-bit samples, in real time, under the given transport.
// The VST3-level tests and the benchmarks fill it the same way.

#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>

namespace vst3host
{
inline Steinberg::Vst::ProcessData blockData (Steinberg::Vst::AudioBusBuffers& input,
                                              Steinberg::Vst::AudioBusBuffers& output,
                                              Steinberg::int32 numSamples,
                                              Steinberg::Vst::ProcessContext* context)
{
    Steinberg::Vst::ProcessData data {};
    data.processMode = Steinberg::Vst::kRealtime;
    data.symbolicSampleSize = Steinberg::Vst::kSample32;
    data.numSamples = numSamples;
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &input;
    data.outputs = &output;
    data.processContext = context;
    return data;
}

} // namespace vst3host
