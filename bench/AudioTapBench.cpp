// What feeding the page's analysis costs the audio thread: processBlock of
// the real processor, stereo at 48 kHz under a playing transport, with a page
// asking for analysis and without, in instructions per sample counted by
// callgrind (exact, whatever else the machine does). Without a page asking,
// processBlock loads one flag more than before; with one, it copies the block
// into the ring and publishes the block's stamp.
//
//   QuillbeatAudioTapBench                              prints the table rows
//   QuillbeatAudioTapBench --count-instructions N on|off  (under callgrind) N-sample
//                                                       blocks, collecting only
//                                                       inside processBlock

#include "BenchTable.h"
#include "Callgrind.h"
#include "ChildRun.h"

#include "../tests/unit/FakePlayHead.h"

#include <processor/QuillbeatProcessor.h>

#include <valgrind/callgrind.h>

#include <cstring>
#include <iostream>

namespace
{
constexpr int warmUpBlocks = 64;
constexpr int countedSamples = 1 << 18;

int countInstructionsInsideProcessBlock (int blockSize, bool analysing)
{
    if (! RUNNING_ON_VALGRIND)
    {
        std::cerr << "--count-instructions only means something under callgrind\n";
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    QuillbeatProcessor processor;
    FakePlayHead playHead;
    processor.setPlayHead (&playHead);
    processor.setRateAndBufferSizeDetails (48000.0, blockSize);
    processor.prepareToPlay (48000.0, blockSize);

    if (analysing)
        processor.startAnalysis();

    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::Random random (3);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < blockSize; ++i)
            buffer.setSample (ch, i, random.nextFloat() - 0.5f);
    juce::MidiBuffer midi;

    double seconds = 0.0;
    const auto blocks = countedSamples / blockSize;

    for (int i = 0; i < warmUpBlocks + blocks; ++i)
    {
        playHead.position = FakePlayHead::playing (128.0, 4, 4, seconds);
        seconds += blockSize / 48000.0;

        if (i >= warmUpBlocks)
            CALLGRIND_TOGGLE_COLLECT;
        processor.processBlock (buffer, midi);
        if (i >= warmUpBlocks)
            CALLGRIND_TOGGLE_COLLECT;
    }

    processor.setPlayHead (nullptr);
    std::cout << blocks * blockSize << '\n';
    return 0;
}

std::optional<double> instructionsPerSample (int blockSize, bool analysing)
{
    const auto run = bench::runUnderCallgrind ({ bench::ownExecutable(), "--count-instructions", std::to_string (blockSize),
                                                 analysing ? "on" : "off" },
                                               false);
    const auto samples = run.has_value() ? bench::numberIn (run->child) : std::nullopt;
    if (! samples.has_value() || *samples <= 0)
        return std::nullopt;
    return run->instructions / *samples;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc == 4 && std::strcmp (argv[1], "--count-instructions") == 0)
        return countInstructionsInsideProcessBlock (std::atoi (argv[2]), std::strcmp (argv[3], "on") == 0);

    if (! bench::valgrindInstalled())
    {
        std::cerr << "QuillbeatAudioTapBench: valgrind is not installed\n";
        return 1;
    }

    bool ok = true;
    for (const auto blockSize : { 32, 512, 4096 })
    {
        const auto on = instructionsPerSample (blockSize, true), off = instructionsPerSample (blockSize, false);
        ok = ok && on.has_value() && off.has_value();
        bench::print ({ "Audio thread",
                        "processBlock, stereo, " + std::to_string (blockSize)
                            + "-sample blocks: instructions per sample with a page asking for analysis vs without (callgrind)",
                        on ? bench::format ("%.1f", *on) : "n/a", off ? bench::format ("%.1f", *off) : "n/a",
                        on && off ? bench::ratio (*on, *off) : "n/a", "" });
    }

    return ok ? 0 : 1;
}
