#include "AllocationCounter.h"

#include <HandOver.h>
#include <HostOptions.h>
#include <SignalSource.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

namespace
{
using quillbeat::host::describeSignalChoice;
using quillbeat::host::HandOver;
using quillbeat::host::parseHostOptions;
using quillbeat::host::SignalSource;
using quillbeat::host::SignalChoice;

constexpr double rate = 48000.0;

juce::StringArray args (const char* line) { return juce::StringArray::fromTokens (line, " ", {}); }

struct Stereo
{
    std::vector<float> left, right;
};

// Plays `total` samples of a freshly prepared source in blocks of the sizes
// given, taken in turn, as the audio thread would.
Stereo play (SignalSource& source, int total, std::vector<int> blockSizes = { 512 })
{
    source.prepare (rate);
    Stereo out { std::vector<float> ((size_t) total, 7.0f), std::vector<float> ((size_t) total, 7.0f) };

    for (int done = 0, turn = 0; done < total; ++turn)
    {
        const auto n = std::min (blockSizes[(size_t) turn % blockSizes.size()], total - done);
        source.fill (out.left.data() + done, out.right.data() + done, n);
        done += n;
    }

    return out;
}

std::unique_ptr<SignalSource> make (const SignalChoice& choice)
{
    juce::String error;
    auto source = SignalSource::create (choice, error);
    EXPECT_NE (source, nullptr) << error;
    return source;
}

float peakOf (const std::vector<float>& x)
{
    float peak = 0.0f;
    for (auto s : x)
        peak = std::max (peak, std::abs (s));
    return peak;
}

double rmsOf (const std::vector<float>& x)
{
    double sum = 0.0;
    for (auto s : x)
        sum += (double) s * s;
    return std::sqrt (sum / (double) x.size());
}

double toDb (double gain) { return 20.0 * std::log10 (gain); }

// A 32-bit float WAV, so what is read back can be compared exactly.
juce::File writeWav (const juce::File& file, double sampleRate, int channels, int length,
                     const std::function<float (int channel, int index)>& sample)
{
    file.deleteFile();
    juce::AudioBuffer<float> data (channels, length);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < length; ++i)
            data.setSample (ch, i, sample (ch, i));

    std::unique_ptr<juce::OutputStream> stream (file.createOutputStream());
    std::unique_ptr<juce::AudioFormatWriter> writer (
        juce::WavAudioFormat().createWriterFor (stream.get(), sampleRate, (unsigned int) channels, 32, {}, 0));
    EXPECT_NE (writer, nullptr);
    stream.release();   // the writer owns it now
    EXPECT_TRUE (writer->writeFromAudioSampleBuffer (data, 0, length));
    return file;
}

TEST (StandInHostSignal, CommandLineTable)
{
    const struct
    {
        const char* line;
        const char* signal;     // as describeSignalChoice names it; nullptr for a line refused
    } cases[] = {
        { "", "test noise" },
        { "--signal sine:997:-6", "sine 997 Hz -6.0 dBFS" },
        { "--signal sine:440.5:0", "sine 440.5 Hz 0.0 dBFS" },
        { "--signal sine:23999.9:-120", "sine 23999.9 Hz -120.0 dBFS" },
        { "--signal noise:-12.5", "noise -12.5 dBFS" },
        { "--signal silence", "silence" },
        { "--gui --input loop.wav", "file loop.wav" },
        { "--signal", nullptr },
        { "--input", nullptr },
        { "--signal sine", nullptr },
        { "--signal sine:997", nullptr },
        { "--signal sine:997:-6:0", nullptr },
        { "--signal sine:0:-6", nullptr },
        { "--signal sine:-5:-6", nullptr },
        { "--signal sine:24000:-6", nullptr },     // Nyquist at the host's 48 kHz clock
        { "--signal sine:x:-6", nullptr },
        { "--signal sine:997:1", nullptr },
        { "--signal sine:997:+3", nullptr },
        { "--signal sine:997:-121", nullptr },
        { "--signal sine:997:-6.0.1", nullptr },
        { "--signal sine:997:", nullptr },
        { "--signal noise", nullptr },
        { "--signal noise:0.5", nullptr },
        { "--signal noise:loud", nullptr },
        { "--signal silence:0", nullptr },
        { "--signal square:100:-6", nullptr },
        { "--signal SINE:997:-6", nullptr },
        { "--signal silence --signal silence", nullptr },
        { "--signal sine:997:-6 --input loop.wav", nullptr },
        { "--input a.wav --input b.wav", nullptr },
    };

    for (const auto& c : cases)
    {
        const auto parsed = parseHostOptions (args (c.line), {});
        ASSERT_EQ (parsed.options.has_value(), c.signal != nullptr) << c.line << ": " << parsed.error;

        if (c.signal == nullptr)
        {
            EXPECT_TRUE (parsed.error.isNotEmpty()) << c.line;
            continue;
        }

        EXPECT_EQ (describeSignalChoice (parsed.options->signal), juce::String (c.signal)) << c.line;
        EXPECT_FALSE (parsed.options->headless) << c.line << ": the signal alone leaves the run in the window";
    }

    const auto input = parseHostOptions (args ("--input sounds/loop.wav"), {});
    ASSERT_TRUE (input.options.has_value());
    EXPECT_EQ (input.options->signal.file, juce::File::getCurrentWorkingDirectory().getChildFile ("sounds/loop.wav"));
}

TEST (StandInHostSignal, SineHasItsPeakAndRmsAndKeepsItsPhaseAcrossOddBlocks)
{
    const SignalChoice choice { SignalChoice::Kind::sine, 997.0, -6.0 };
    auto source = make (choice);
    const auto total = (int) rate;

    const auto inOddBlocks = play (*source, total, { 1, 7, 63, 511, 1021, 4093 });
    const auto inOneBlock = play (*source, total, { total });

    EXPECT_EQ (inOddBlocks.left, inOneBlock.left);
    EXPECT_EQ (inOddBlocks.left, inOddBlocks.right);

    const auto amplitude = std::pow (10.0, -6.0 / 20.0);
    for (int i = 0; i < total; i += 97)
        ASSERT_NEAR (inOddBlocks.left[(size_t) i], amplitude * std::sin (juce::MathConstants<double>::twoPi * 997.0 * i / rate), 1e-6)
            << "sample " << i;

    EXPECT_NEAR (toDb (peakOf (inOddBlocks.left)), -6.0, 0.01);
    EXPECT_NEAR (toDb (rmsOf (inOddBlocks.left)), -6.0 - 3.0103, 0.01);
    EXPECT_EQ (source->describe(), "sine 997 Hz -6.0 dBFS");
}

TEST (StandInHostSignal, NoiseStaysWithinItsPeakAndSilenceIsZero)
{
    auto noise = make ({ SignalChoice::Kind::noise, 0.0, -12.0 });
    const auto heard = play (*noise, (int) rate, { 5, 512, 333 });
    const auto amplitude = (float) std::pow (10.0, -12.0 / 20.0);

    EXPECT_EQ (heard.left, heard.right);
    EXPECT_LE (peakOf (heard.left), amplitude);
    EXPECT_GT (peakOf (heard.left), 0.99f * amplitude);
    EXPECT_NEAR (rmsOf (heard.left), amplitude / std::sqrt (3.0), 0.02 * amplitude);   // white, uniform

    auto silence = make ({ SignalChoice::Kind::silence });
    const auto quiet = play (*silence, 1000, { 17 });
    EXPECT_EQ (peakOf (quiet.left), 0.0f);
    EXPECT_EQ (peakOf (quiet.right), 0.0f);
}

TEST (StandInHostSignal, TestNoiseDiffersBetweenChannelsAndRepeatsEverySecond)
{
    auto source = make ({});
    const auto heard = play (*source, 2 * (int) rate + 10, { 511 });

    EXPECT_NE (heard.left, heard.right);
    EXPECT_LE (peakOf (heard.left), 0.25f);
    for (size_t i = 0; i < (size_t) rate + 10; i += 101)
        ASSERT_EQ (heard.left[i], heard.left[i + (size_t) rate]) << "sample " << i;
}

TEST (StandInHostSignal, WavFileIsReadWholeAndLooped)
{
    const auto folder = juce::File::createTempFile ("signal-wav");
    ASSERT_TRUE (folder.createDirectory());
    const auto ramp = [] (int, int i) { return (float) i / 128.0f - 0.5f; };
    const auto mirrored = [] (int ch, int i) { return (ch == 0 ? 1.0f : -1.0f) * (float) i / 128.0f; };

    const struct
    {
        const char* name;
        int channels;
        std::function<float (int, int)> sample;
    } files[] = {
        { "mono.wav", 1, ramp },          // the same on both channels
        { "stereo.wav", 2, mirrored },    // each channel its own
    };

    for (const auto& f : files)
    {
        const auto length = 100;
        auto source = make ({ SignalChoice::Kind::file, 0.0, 0.0, writeWav (folder.getChildFile (f.name), rate, f.channels, length, f.sample) });
        ASSERT_NE (source, nullptr);

        const auto heard = play (*source, 3 * length + 13, { 7, 64, 1 });
        for (int i = 0; i < 3 * length + 13; ++i)
        {
            ASSERT_EQ (heard.left[(size_t) i], f.sample (0, i % length)) << f.name << " sample " << i;
            ASSERT_EQ (heard.right[(size_t) i], f.sample (f.channels - 1, i % length)) << f.name << " sample " << i;
        }

        EXPECT_TRUE (source->warningAt (rate).isEmpty()) << f.name;
        EXPECT_TRUE (source->describe().startsWith ("file " + juce::String (f.name))) << source->describe();
    }

    folder.deleteRecursively();
}

TEST (StandInHostSignal, WarnsOfWhatPlaysOtherwiseThanWritten)
{
    const auto file = writeWav (juce::File::createTempFile (".wav"), 44100.0, 1, 10, [] (int, int) { return 0.0f; });
    auto wav = make ({ SignalChoice::Kind::file, 0.0, 0.0, file });
    ASSERT_NE (wav, nullptr);
    EXPECT_TRUE (wav->warningAt (48000.0).contains ("44100")) << wav->warningAt (48000.0);
    EXPECT_TRUE (wav->warningAt (44100.0).isEmpty());
    file.deleteFile();

    auto sine = make ({ SignalChoice::Kind::sine, 23000.0, -6.0 });
    EXPECT_TRUE (sine->warningAt (44100.0).contains ("Nyquist")) << sine->warningAt (44100.0);
    EXPECT_TRUE (sine->warningAt (48000.0).isEmpty());
}

TEST (StandInHostSignal, FilesThatCannotPlayAreRefusedWithTheReason)
{
    const auto folder = juce::File::createTempFile ("signal-bad");
    ASSERT_TRUE (folder.createDirectory());
    folder.getChildFile ("text.wav").replaceWithText ("not a wave");
    const auto silent = [] (int, int) { return 0.0f; };
    writeWav (folder.getChildFile ("three.wav"), rate, 3, 10, silent);
    writeWav (folder.getChildFile ("empty.wav"), rate, 1, 0, silent);

    const struct
    {
        const char* name;
        const char* reason;
    } cases[] = {
        { "missing.wav", "cannot read" },
        { "text.wav", "cannot read" },
        { "three.wav", "3 channels" },
        { "empty.wav", "no samples" },
    };

    for (const auto& c : cases)
    {
        juce::String error;
        EXPECT_EQ (SignalSource::create ({ SignalChoice::Kind::file, 0.0, 0.0, folder.getChildFile (c.name) }, error), nullptr) << c.name;
        EXPECT_TRUE (error.contains (c.reason)) << c.name << ": " << error;
    }

    folder.deleteRecursively();
}

TEST (StandInHostSignal, FillingAllocatesNothing)
{
    const auto file = writeWav (juce::File::createTempFile (".wav"), rate, 2, 300, [] (int, int i) { return (float) i / 300.0f; });
    const SignalChoice choices[] = {
        {}, { SignalChoice::Kind::sine, 997.0, -6.0 }, { SignalChoice::Kind::noise, 0.0, -12.0 },
        { SignalChoice::Kind::silence }, { SignalChoice::Kind::file, 0.0, 0.0, file },
    };
    std::vector<float> left (4096), right (4096);

    for (const auto& choice : choices)
    {
        auto source = make (choice);
        ASSERT_NE (source, nullptr);
        source->prepare (rate);

        const ScopedAllocationCounter allocations;
        for (int n : { 1, 511, 4096, 333 })
            source->fill (left.data(), right.data(), n);
        EXPECT_EQ (allocations.count(), 0u) << describeSignalChoice (choice);
    }

    file.deleteFile();
}

// What the window does while audio runs: a new signal every few moments,
// the audio thread taking whichever is newest at each block.
TEST (StandInHostSignal, HandOverNeverFreesWhatTheAudioThreadUsesAndEndsOnTheNewest)
{
    // Counts a destruction while the audio thread says it is inside a block
    // with this object: freeing it then would be a use after free.
    struct Probe
    {
        Probe (int n, std::atomic<int>& f) : number (n), freedWhileInUse (f) {}
        ~Probe() { if (busy.load()) freedWhileInUse.fetch_add (1); }

        const int number;
        std::atomic<bool> busy { false };
        std::atomic<int>& freedWhileInUse;
    };

    constexpr int sends = 20000;
    std::atomic<int> freedWhileInUse { 0 }, lastUsed { 0 };
    std::atomic<bool> stop { false };
    HandOver<Probe> handOver;
    handOver.send (std::make_unique<Probe> (0, freedWhileInUse));

    std::thread audio ([&]
    {
        while (! stop.load())
        {
            auto* probe = handOver.current();
            probe->busy = true;
            for (int spin = 0; spin < 50; ++spin)   // a block's work, long enough to be caught in
                lastUsed.store (probe->number);
            probe->busy = false;
        }
    });

    size_t mostKept = 0;
    for (int i = 1; i <= sends; ++i)
    {
        handOver.send (std::make_unique<Probe> (i, freedWhileInUse));
        mostKept = std::max (mostKept, handOver.kept());
        if (i % 64 == 0)
            std::this_thread::yield();
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (5);
    while (lastUsed.load() != sends && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();

    stop = true;
    audio.join();

    EXPECT_EQ (freedWhileInUse.load(), 0);
    EXPECT_EQ (lastUsed.load(), sends) << "the audio thread did not reach the newest";
    EXPECT_LE (mostKept, 2u) << "old ones pile up instead of being freed";
}

} // namespace
