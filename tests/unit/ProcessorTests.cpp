#include "AllocationCounter.h"
#include "FakePlayHead.h"

#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <random>

namespace
{
using Set = juce::AudioChannelSet;

struct LayoutCase
{
    const char* name;
    Set input, output;
    bool supported;
};

TEST (Processor, AcceptsOnlyMatchingMonoOrStereoLayouts)
{
    const LayoutCase cases[] = {
        { "mono/mono", Set::mono(), Set::mono(), true },
        { "stereo/stereo", Set::stereo(), Set::stereo(), true },
        { "mono/stereo", Set::mono(), Set::stereo(), false },
        { "stereo/mono", Set::stereo(), Set::mono(), false },
        { "5.1/5.1", Set::create5point1(), Set::create5point1(), false },
        { "stereo/5.1", Set::stereo(), Set::create5point1(), false },
        { "disabled/stereo", Set::disabled(), Set::stereo(), false },
        { "stereo/disabled", Set::stereo(), Set::disabled(), false },
        { "quad/quad", Set::quadraphonic(), Set::quadraphonic(), false },
    };

    QuillbeatProcessor processor;

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (c.input);
        layout.outputBuses.add (c.output);
        EXPECT_EQ (processor.checkBusesLayoutSupported (layout), c.supported) << c.name;
    }
}

TEST (Processor, DeclaresStereoBusesAndNoMidi)
{
    QuillbeatProcessor processor;

    ASSERT_EQ (processor.getBusCount (true), 1);
    ASSERT_EQ (processor.getBusCount (false), 1);
    EXPECT_EQ (processor.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (processor.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (processor.getBus (true, 0)->getCurrentLayout(), Set::stereo());
    EXPECT_EQ (processor.getBus (false, 0)->getCurrentLayout(), Set::stereo());
    EXPECT_TRUE (processor.getBus (true, 0)->isEnabledByDefault());
    EXPECT_TRUE (processor.getBus (false, 0)->isEnabledByDefault());

    EXPECT_EQ (processor.getName(), "Quillbeat");
    EXPECT_FALSE (processor.acceptsMidi());
    EXPECT_FALSE (processor.producesMidi());
    EXPECT_FALSE (processor.isMidiEffect());
    EXPECT_FALSE (processor.supportsDoublePrecisionProcessing());
    EXPECT_EQ (processor.getTailLengthSeconds(), 0.0);
    EXPECT_TRUE (processor.hasEditor());
    EXPECT_TRUE (processor.getParameters().isEmpty());
}

TEST (Processor, OffersOneUnnamedProgramThatIgnoresChanges)
{
    QuillbeatProcessor processor;

    EXPECT_EQ (processor.getNumPrograms(), 1);
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    EXPECT_EQ (processor.getProgramName (0), "");

    processor.setCurrentProgram (0);
    processor.changeProgramName (0, "Renamed");

    EXPECT_EQ (processor.getCurrentProgram(), 0);
    EXPECT_EQ (processor.getProgramName (0), "");
}

// Fills both channels with noise including denormals, signed zeros and extremes,
// so any arithmetic on the samples would show in the comparison.
void fillWithAwkwardSamples (juce::AudioBuffer<float>& buffer, std::mt19937& random)
{
    std::uniform_int_distribution<std::uint32_t> bits;
    const float specials[] = { 0.0f, -0.0f, 1.0e-40f, -1.0e-40f, 1.0f, -1.0f, 3.4e38f, -3.4e38f };

    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            float value;

            if (i < (int) std::size (specials))
                value = specials[i];
            else
            {
                // Any finite bit pattern, NaNs excluded so comparison by value stays meaningful.
                do
                {
                    const auto word = bits (random);
                    std::memcpy (&value, &word, sizeof value);
                } while (! std::isfinite (value));
            }

            buffer.setSample (ch, i, value);
        }
}

TEST (Processor, PassesStereoAudioThroughBitForBitWhileTheTransportMoves)
{
    QuillbeatProcessor processor;
    FakePlayHead playHead;
    processor.setPlayHead (&playHead);
    processor.prepareToPlay (48000.0, 512);

    std::mt19937 random (1234);
    juce::MidiBuffer midi;
    double seconds = 0.0;

    for (int block = 0; block < 64; ++block)
    {
        const int size = 1 + block * 13 % 512;
        juce::AudioBuffer<float> buffer (2, size);
        fillWithAwkwardSamples (buffer, random);
        juce::AudioBuffer<float> original (buffer);

        // Alternate between playing, recording, stopped and no position at all.
        switch (block % 4)
        {
            case 0: playHead.position = FakePlayHead::playing (90.0 + block, 4, 4, seconds); break;
            case 1: playHead.position = FakePlayHead::playing (128.0, 7, 8, seconds); playHead.position->setIsRecording (true); break;
            case 2: playHead.position = juce::AudioPlayHead::PositionInfo {}; break;
            default: playHead.position = {}; break;
        }

        processor.processBlock (buffer, midi);
        seconds += size / 48000.0;

        for (int ch = 0; ch < 2; ++ch)
            ASSERT_EQ (std::memcmp (buffer.getReadPointer (ch), original.getReadPointer (ch), sizeof (float) * (size_t) size), 0)
                << "block " << block << " channel " << ch;
        EXPECT_TRUE (midi.isEmpty());
    }

    processor.releaseResources();
}

// Hosts hand over blocks of several thousand samples; whole calls of every
// such size come back bit for bit, with and without a page analysing them.
TEST (Processor, PassesLongBlocksThroughBitForBitWithAndWithoutAnalysis)
{
    std::mt19937 random (97);
    juce::MidiBuffer midi;

    for (const auto analysing : { false, true })
    {
        for (const auto size : { 1024, 2048, 3000, 4096, 8192 })
        {
            QuillbeatProcessor processor;
            FakePlayHead playHead;
            processor.setPlayHead (&playHead);
            processor.prepareToPlay (48000.0, size);

            if (analysing)
                processor.startAnalysis();

            for (int call = 0; call < 12; ++call)
            {
                playHead.position = FakePlayHead::playing (120.0, 4, 4, call * size / 48000.0);
                juce::AudioBuffer<float> buffer (2, size);
                fillWithAwkwardSamples (buffer, random);

                // Not-a-number and infinities too: compared as bytes, they must survive as well.
                buffer.setSample (1, size - 1, std::numeric_limits<float>::quiet_NaN());
                buffer.setSample (0, size / 2, -std::numeric_limits<float>::infinity());
                const juce::AudioBuffer<float> original (buffer);

                processor.processBlock (buffer, midi);

                for (int ch = 0; ch < 2; ++ch)
                    ASSERT_EQ (std::memcmp (buffer.getReadPointer (ch), original.getReadPointer (ch), sizeof (float) * (size_t) size), 0)
                        << (analysing ? "analysing, " : "not analysing, ") << size << " samples, call " << call << ", channel " << ch;
            }

            EXPECT_EQ (processor.getAudioTap().writeIndex(), analysing ? (std::uint64_t) (12 * size) : 0u) << size;
        }
    }
}

TEST (Processor, ProcessBlockDoesNotAllocate)
{
    QuillbeatProcessor processor;
    FakePlayHead playHead;
    playHead.position = FakePlayHead::playing (128.0, 4, 4, 12.5);
    processor.setPlayHead (&playHead);
    processor.prepareToPlay (44100.0, 4096);

    juce::AudioBuffer<float> buffer (2, 4096);
    buffer.clear();
    juce::MidiBuffer midi;

    {
        const ScopedAllocationCounter counterWorks;
        auto probe = std::make_unique<int> (1);
        ASSERT_EQ (counterWorks.count(), 1u);
    }

    const ScopedAllocationCounter allocations;

    for (int i = 0; i < 1000; ++i)
        processor.processBlock (buffer, midi);

    EXPECT_EQ (allocations.count(), 0u);
}

} // namespace
