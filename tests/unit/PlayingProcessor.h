#pragma once

#include "FakePlayHead.h"

#include <processor/QuillbeatProcessor.h>

#include <cstdint>
#include <functional>

// A processor prepared for one stream format and fed blocks of a signal, the
// play head moving with them (samples and quarter notes at 120 bpm).
struct PlayingProcessor
{
    // The sample of `channel` at session index `index`.
    using Signal = std::function<float (int channel, std::int64_t index)>;

    QuillbeatProcessor processor;
    FakePlayHead playHead;
    juce::MidiBuffer midi;
    double sampleRate;
    int channels;
    std::int64_t played = 0;

    PlayingProcessor (double rate, int maximumBlockSize, int numChannels = 2) : sampleRate (rate), channels (numChannels)
    {
        const auto set = numChannels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
        processor.setBusesLayout ({ { set }, { set } });
        processor.setPlayHead (&playHead);
        prepare (rate, maximumBlockSize);
    }

    // As a host does it: the format first, then prepareToPlay.
    void prepare (double rate, int maximumBlockSize)
    {
        sampleRate = rate;
        processor.setRateAndBufferSizeDetails (rate, maximumBlockSize);
        processor.prepareToPlay (rate, maximumBlockSize);
    }

    ~PlayingProcessor() { processor.setPlayHead (nullptr); }

    void play (int blocks, int size, const Signal& signal)
    {
        juce::AudioBuffer<float> buffer (channels, size);

        for (int b = 0; b < blocks; ++b)
        {
            for (int ch = 0; ch < channels; ++ch)
                for (int i = 0; i < size; ++i)
                    buffer.setSample (ch, i, signal (ch, played + i));

            const auto seconds = (double) played / sampleRate;
            auto position = FakePlayHead::playing (120.0, 4, 4, seconds);
            position.setTimeInSamples (played);
            position.setPpqPosition (seconds * 2.0);
            playHead.position = position;

            processor.processBlock (buffer, midi);
            played += size;
        }
    }

    void play (int blocks, int size, float value = 0.25f)
    {
        play (blocks, size, [value] (int, std::int64_t) { return value; });
    }
};
