#include "PlayingProcessor.h"

#include <analysis/AudioAnalyser.h>
#include <processor/AudioTap.h>

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <thread>
#include <vector>

namespace
{
using quillbeat::AudioTap;

// A value every sample index maps to exactly, so a sample read back names
// the index it was written at (modulo 2^24, far beyond one ring).
float valueAt (std::uint64_t index) { return (float) (index & 0xffffffu); }

// Writes `count` samples of the index ramp, the second channel negated.
void writeRamp (AudioTap& tap, std::uint64_t firstIndex, int count, std::int32_t blockCount = 0)
{
    std::vector<float> left ((size_t) count), right ((size_t) count);

    for (int i = 0; i < count; ++i)
    {
        left[(size_t) i] = valueAt (firstIndex + (std::uint64_t) i);
        right[(size_t) i] = -left[(size_t) i];
    }

    const float* channels[] = { left.data(), right.data() };
    AudioTap::BlockInfo info;
    info.blockCount = blockCount;
    tap.write (channels, 2, count, info);
}

TEST (AudioTap, NothingIsAllocatedOrWrittenWhileNoPageAsks)
{
    PlayingProcessor p (48000.0, 512);
    p.play (40, 512);

    auto& tap = p.processor.getAudioTap();
    EXPECT_FALSE (p.processor.isAnalysing());
    EXPECT_FALSE (tap.isAllocated());
    EXPECT_EQ (tap.writeIndex(), 0u);
    EXPECT_EQ (tap.readStamp().channels, 0);

    p.processor.startAnalysis();
    p.play (3, 512);
    EXPECT_TRUE (tap.isAllocated());
    EXPECT_EQ (tap.writeIndex(), 3u * 512u);

    // Stopped, processBlock leaves the tap alone again.
    p.processor.stopAnalysis();
    p.play (10, 512);
    EXPECT_FALSE (p.processor.isAnalysing());
    EXPECT_EQ (tap.writeIndex(), 3u * 512u);
}

TEST (AudioTap, EachBlockIsStampedWithWhatTheTransportCaptureRecorded)
{
    PlayingProcessor p (48000.0, 256);
    p.processor.startAnalysis();

    for (int block = 0; block < 5; ++block)
    {
        p.play (1, 256);
        const auto stamp = p.processor.getAudioTap().readStamp();
        const auto reading = p.processor.readPlayhead();

        EXPECT_EQ (stamp.blockCount, reading.blockCount) << block;
        EXPECT_EQ (stamp.captureTimeNs, reading.captureTimeNs.value_or (-1)) << block;
        ASSERT_TRUE (stamp.hasPositionSamples && stamp.hasPpqPosition) << block;
        EXPECT_EQ (stamp.positionSamples, *reading.positionSamples) << block;
        EXPECT_EQ (stamp.ppqPosition, *reading.ppqPosition) << block;
        EXPECT_EQ (stamp.sampleRate, 48000.0) << block;
        EXPECT_EQ (stamp.channels, 2) << block;
        EXPECT_EQ (stamp.endIndex, (std::uint64_t) (block + 1) * 256u) << block;
    }

    // A block without a position stamps no position.
    p.playHead.position = {};
    juce::AudioBuffer<float> buffer (1, 16);
    buffer.clear();
    p.processor.processBlock (buffer, p.midi);
    const auto stamp = p.processor.getAudioTap().readStamp();
    EXPECT_FALSE (stamp.hasPositionSamples || stamp.hasPpqPosition);
    EXPECT_EQ (stamp.channels, 1);
}

// The ring keeps the newest `capacity` samples; a read that reaches further
// back learns exactly where what it got becomes whole.
TEST (AudioTap, OverflowDropsTheOldestAndSaysExactlyHowMany)
{
    const struct
    {
        const char* label;
        std::vector<int> blocks;   // written in turn, then read from index 0
        std::uint64_t firstWhole;
    } cases[] = {
        { "exactly full", { 4096, AudioTap::capacity - 4096 }, 0 },
        { "one over", { AudioTap::capacity, 1 }, 1 },
        { "many blocks over", std::vector<int> (20, 4000), 20u * 4000u - AudioTap::capacity },
        { "one block longer than the ring", { AudioTap::capacity + 1234 }, 1234 },
        { "one sample blocks", std::vector<int> (AudioTap::capacity + 7, 1), 7 },
    };

    std::vector<float> left (AudioTap::capacity + 2048), right (left.size());
    float* destination[] = { left.data(), right.data() };

    for (const auto& c : cases)
    {
        AudioTap tap;
        tap.allocate();
        std::uint64_t end = 0;

        for (const auto size : c.blocks)
        {
            writeRamp (tap, end, size);
            end += (std::uint64_t) size;
        }

        ASSERT_EQ (tap.writeIndex(), end) << c.label;
        ASSERT_EQ (tap.readStamp().endIndex, end) << c.label;

        const auto from = end > AudioTap::capacity ? end - AudioTap::capacity - 1 : 0;
        const auto whole = tap.read (from, end, destination, 2);
        EXPECT_EQ (whole, std::max (from, c.firstWhole)) << c.label;

        auto wrong = 0;
        for (auto index = whole; index < end; ++index)
            if (! juce::exactlyEqual (left[index - from], valueAt (index)) || ! juce::exactlyEqual (right[index - from], -valueAt (index)))
                ++wrong;

        EXPECT_EQ (wrong, 0) << c.label;
    }
}

TEST (AudioTap, TheAnalyserCountsWhatTheRingDroppedAndAnalysesOnlyTheNewest)
{
    PlayingProcessor p (48000.0, 4096);
    p.processor.startAnalysis();
    quillbeat::AudioAnalyser analyser (p.processor.getAudioTap());
    analyser.setSettings ({ true, false, false });

    p.play (1, 1000);
    const auto first = analyser.nextFrame();
    ASSERT_TRUE (first.has_value());
    EXPECT_EQ (first->samples, 1000);
    EXPECT_EQ (first->droppedSamples, 0);
    EXPECT_FALSE (analyser.nextFrame().has_value()) << "no block since the last frame";

    // 777 full-scale samples the ring will have lost, then a full ring of quieter ones.
    p.play (1, 777, 1.0f);
    p.play (16, AudioTap::capacity / 16, 0.25f);

    const auto frame = analyser.nextFrame();
    ASSERT_TRUE (frame.has_value());
    EXPECT_EQ (frame->samples, AudioTap::capacity);
    EXPECT_EQ (frame->droppedSamples, 777);
    EXPECT_FALSE (frame->levels[0].clipped) << "the dropped samples were left out";
    EXPECT_NEAR (frame->levels[0].peakDb, -12.04, 0.01);

    p.play (1, 64);
    const auto next = analyser.nextFrame();
    ASSERT_TRUE (next.has_value());
    EXPECT_EQ (next->samples, 64);
    EXPECT_EQ (next->droppedSamples, 777) << "counted since the analysis started";
}

// A reader that falls as far behind as the ring allows, copying the oldest
// samples while the writer overwrites them: whatever it accepts is exactly
// what was written at that index.
TEST (AudioTap, ALaggingReaderNeverAcceptsATornSample)
{
    AudioTap tap;
    tap.allocate();
    std::atomic<bool> stop { false };
    std::uint64_t writtenTotal = 0;

    std::thread writer ([&]
    {
        for (std::int32_t block = 0; ! stop.load (std::memory_order_relaxed); ++block)
        {
            const auto size = 1 + block * 37 % 700;
            writeRamp (tap, writtenTotal, size, block);
            writtenTotal += (std::uint64_t) size;
        }
    });

    std::vector<float> left (AudioTap::capacity), right (AudioTap::capacity);
    float* destination[] = { left.data(), right.data() };
    int reads = 0, overlapped = 0, torn = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (400);

    while (std::chrono::steady_clock::now() < deadline || reads < 20)
    {
        const auto end = tap.readStamp().endIndex;

        if (end < AudioTap::capacity)
            continue;

        const auto from = end - AudioTap::capacity;
        const auto whole = tap.read (from, end, destination, 2);
        ++reads;

        if (whole > from)
            ++overlapped;

        for (auto index = whole; index < end; ++index)
            if (! juce::exactlyEqual (left[index - from], valueAt (index)) || ! juce::exactlyEqual (right[index - from], -valueAt (index)))
                ++torn;
    }

    stop = true;
    writer.join();

    EXPECT_EQ (torn, 0);
    EXPECT_GT (reads, 0);
    std::cout << reads << " lagging reads, " << overlapped << " overlapped by the writer\n";
}

TEST (AudioTap, ANewStreamFormatOrANewStartBeginsAfresh)
{
    PlayingProcessor p (48000.0, 512);
    p.processor.startAnalysis();
    quillbeat::AudioAnalyser analyser (p.processor.getAudioTap());

    p.play (4, 512);
    ASSERT_TRUE (analyser.nextFrame().has_value());

    // Let the ring overflow, so there is a drop count to forget.
    p.play (140, 512);

    const struct
    {
        const char* label;
        std::function<void()> change;
        double rate;
    } steps[] = {
        { "same format again", [&] { p.prepare (48000.0, 512); }, -1.0 },
        { "another rate", [&] { p.prepare (96000.0, 512); }, 96000.0 },
        { "another block size", [&] { p.prepare (96000.0, 1024); }, 96000.0 },
        { "stopped and started", [&] { p.processor.stopAnalysis(); p.processor.startAnalysis(); }, 96000.0 },
    };

    for (const auto& step : steps)
    {
        const auto generation = p.processor.getAudioTap().generation();
        step.change();
        const auto afresh = step.rate > 0.0;
        EXPECT_EQ (p.processor.getAudioTap().generation() != generation, afresh) << step.label;

        if (afresh)
        {
            EXPECT_FALSE (analyser.nextFrame().has_value()) << step.label << ": nothing until the next block";
        }

        p.play (3, 100);
        const auto frame = analyser.nextFrame();
        ASSERT_TRUE (frame.has_value()) << step.label;

        if (afresh)
        {
            EXPECT_EQ (frame->samples, 300) << step.label;
            EXPECT_EQ (frame->droppedSamples, 0) << step.label;
            EXPECT_EQ (frame->sampleRate, step.rate) << step.label;
        }
        else
        {
            EXPECT_EQ (frame->samples, AudioTap::capacity) << step.label << ": picks up where it was";
            EXPECT_GT (frame->droppedSamples, 0) << step.label;
        }
    }
}

} // namespace
