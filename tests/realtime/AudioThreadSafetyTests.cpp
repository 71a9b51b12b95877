#include "RealtimeWatch.h"

#include "MovingTransport.h"

#include <analysis/AudioAnalyser.h>
#include <processor/QuillbeatProcessor.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <thread>

namespace
{
// Calls `body` `calls` times on a thread of its own, as a host's audio thread
// does, with only `body` watched. `beforeEach` plays the host's part between
// calls (moving the transport) and is not watched.
RealtimeViolations watchOnDedicatedThread (int calls,
                                           const std::function<void (int)>& beforeEach,
                                           const std::function<void()>& body)
{
    RealtimeViolations violations;

    std::thread audio ([&]
    {
        for (int call = 0; call < calls; ++call)
        {
            beforeEach (call);

            const ScopedRealtimeWatch watch (violations);
            body();
        }
    });

    audio.join();
    return violations;
}

struct StreamFormat
{
    double sampleRate;
    int blockSize;
};

// How a case reads in the test list; by default gtest shows the raw bytes.
void PrintTo (const StreamFormat& format, std::ostream* out)
{
    *out << format.sampleRate << " Hz, " << format.blockSize << " samples";
}

class AudioThreadSafety : public ::testing::TestWithParam<StreamFormat>
{
};

// Plays a second of audio (never fewer blocks than it takes to pass every
// transport phase) with only processBlock watched.
void expectRealtimeSafe (const StreamFormat& format, bool analysing)
{
    const auto [sampleRate, blockSize] = format;

    QuillbeatProcessor processor;
    FakePlayHead playHead;
    processor.setPlayHead (&playHead);
    processor.prepareToPlay (sampleRate, blockSize);

    if (analysing)
        processor.startAnalysis();

    // Half scale, so the frame read afterwards shows the samples arrived.
    juce::AudioBuffer<float> buffer (2, blockSize);
    for (int ch = 0; ch < 2; ++ch)
        juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), 0.5f, blockSize);
    juce::MidiBuffer midi;

    const auto blocks = juce::jmax (64, juce::roundToInt (sampleRate / blockSize));

    const auto violations = watchOnDedicatedThread (
        blocks,
        [&] (int block) { playHead.position = movingTransportAt (block, block * blockSize / sampleRate); },
        [&] { processor.processBlock (buffer, midi); });

    EXPECT_FALSE (violations.any()) << violations;

    // The transport did move under processBlock: every block was seen.
    const auto reading = processor.readTransport();
    EXPECT_TRUE (reading.connected);
    EXPECT_EQ (reading.blockCount, blocks);

    // And the tap took every sample, or none at all.
    EXPECT_EQ (processor.getAudioTap().writeIndex(), analysing ? (std::uint64_t) blocks * (std::uint64_t) blockSize : 0u);

    if (analysing)
    {
        quillbeat::AudioAnalyser analyser (processor.getAudioTap());
        const auto frame = analyser.nextFrame();
        ASSERT_TRUE (frame.has_value());
        EXPECT_EQ (frame->blockCount, blocks);
        EXPECT_NEAR (frame->levels.at (0).peakDb, -6.02, 0.01);
    }

    processor.releaseResources();
}

TEST_P (AudioThreadSafety, ProcessBlockNeitherAllocatesNorLocksNorBlocks)
{
    expectRealtimeSafe (GetParam(), false);
}

TEST_P (AudioThreadSafety, ProcessBlockFeedingTheAnalysisNeitherAllocatesNorLocksNorBlocks)
{
    expectRealtimeSafe (GetParam(), true);
}

std::string formatName (const ::testing::TestParamInfo<StreamFormat>& info)
{
    return std::to_string (juce::roundToInt (info.param.sampleRate)) + "Hz_" + std::to_string (info.param.blockSize);
}

constexpr StreamFormat streamFormats[] = {
    { 44100.0, 1 }, { 44100.0, 64 }, { 44100.0, 512 }, { 44100.0, 1024 }, { 44100.0, 4096 },
    { 48000.0, 1 }, { 48000.0, 64 }, { 48000.0, 512 }, { 48000.0, 1024 }, { 48000.0, 4096 },
    { 96000.0, 1 }, { 96000.0, 64 }, { 96000.0, 512 }, { 96000.0, 1024 }, { 96000.0, 4096 },
    { 48000.0, 8192 }, { 192000.0, 8192 }, { 22050.0, 7 },
};

INSTANTIATE_TEST_SUITE_P (Formats, AudioThreadSafety, ::testing::ValuesIn (streamFormats), formatName);

// The watch is live: each kind of fault, committed on the watched thread
// through the same harness, is caught. Some go through the framework or the
// C++ library, so calls made from inside shared libraries are seen too.
TEST (RealtimeWatch, CatchesFaultsOnTheWatchedThread)
{
    std::mutex mutex;
    juce::CriticalSection criticalSection;
    juce::WaitableEvent event;

    struct Fault
    {
        const char* name;
        std::function<void()> commit;
        std::size_t RealtimeViolations::*counter;
    };

    const Fault faults[] = {
        { "operator new", [] { auto p = std::make_unique<int> (1); }, &RealtimeViolations::allocations },
        { "juce::HeapBlock", [] { juce::HeapBlock<float> block (64); }, &RealtimeViolations::allocations },
        { "std::mutex", [&] { const std::scoped_lock lock (mutex); }, &RealtimeViolations::locks },
        { "juce::CriticalSection try-lock", [&] { const juce::ScopedTryLock lock (criticalSection); }, &RealtimeViolations::locks },
        { "sleep", [] { std::this_thread::sleep_for (std::chrono::microseconds (1)); }, &RealtimeViolations::blockingCalls },
        { "juce::WaitableEvent", [&] { event.wait (1.0); }, &RealtimeViolations::blockingCalls },
    };

    for (const auto& fault : faults)
    {
        const auto violations = watchOnDedicatedThread (1, [] (int) {}, fault.commit);
        EXPECT_GT (violations.*fault.counter, 0u) << fault.name << ": " << violations;
    }
}

// A play head that takes a lock and allocates, as a careless host's might: the
// watch sees into processBlock, down to what it calls back into.
struct CarelessPlayHead final : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override
    {
        const std::scoped_lock lock (mutex);
        const auto label = std::make_unique<juce::String> ("position");
        return FakePlayHead::playing (120.0, 4, 4, 1.0);
    }

    mutable std::mutex mutex;
};

TEST (RealtimeWatch, SeesCallsMadeInsideProcessBlock)
{
    QuillbeatProcessor processor;
    CarelessPlayHead playHead;
    processor.setPlayHead (&playHead);
    processor.prepareToPlay (48000.0, 64);

    juce::AudioBuffer<float> buffer (2, 64);
    juce::MidiBuffer midi;

    const auto violations = watchOnDedicatedThread (4, [] (int) {}, [&] { processor.processBlock (buffer, midi); });

    EXPECT_EQ (violations.locks, 4u) << violations;
    EXPECT_GE (violations.allocations, 4u) << violations;
}

} // namespace
