#pragma once

#include "SeqLock.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdint>
#include <optional>

namespace quillbeat
{

// One reading of the host transport, as today's page messages carry it: a
// value the newest block lacked keeps what an earlier block reported.
struct TransportReading
{
    bool connected = false;
    std::int32_t blockCount = 0;
    bool playing = false;
    bool recording = false;
    double bpm = 120.0;
    int timeSigNum = 4;
    int timeSigDen = 4;
    double positionSecs = 0.0;
};

// Everything the host's play head reported for the newest block, all from
// that one block. A value the host did not supply for it is empty.
struct PlayheadReading
{
    bool connected = false;             // some block has carried a position
    std::int32_t blockCount = 0;
    std::optional<bool> playing, recording, looping;
    std::optional<double> bpm;
    std::optional<int> timeSigNum, timeSigDen;
    std::optional<double> positionSecs;
    std::optional<std::int64_t> positionSamples;
    std::optional<double> ppqPosition, ppqLastBarStart;
    std::optional<std::int64_t> barCount;
    std::optional<double> ppqLoopStart, ppqLoopEnd;
    std::optional<double> sampleRate;
    std::optional<std::uint64_t> hostTimeNs;
    std::optional<std::int64_t> captureTimeNs;   // monotonicNanoseconds() at the capture
};

// The host transport as last seen on the audio thread. The audio thread
// publishes one record per block; the message thread reads it without a lock
// and always gets all of its members from the same block.
class TransportSnapshot
{
public:
    TransportSnapshot() = default;

    // Starts the block counter elsewhere than zero, so its wrap-around can be tested.
    explicit TransportSnapshot (std::int32_t initialBlockCount) noexcept;

    // Audio thread only: count the block and copy what the play head reports.
    // No allocation, no lock, no system call.
    void capture (juce::AudioPlayHead* playHead, double sampleRate = 0.0) noexcept;

    // Any thread.
    TransportReading read() const noexcept;
    PlayheadReading readPlayhead() const noexcept;

    // The block record. Presence bits say what the newest block supplied;
    // playing, recording, tempo, signature and seconds keep their last
    // supplied values for today's readings.
    struct Block
    {
        enum Bit : std::uint32_t
        {
            connected = 1u << 0,
            position = 1u << 1,
            playing = 1u << 2,
            recording = 1u << 3,
            looping = 1u << 4,
            hasBpm = 1u << 5,
            hasTimeSignature = 1u << 6,
            hasSeconds = 1u << 7,
            hasSamples = 1u << 8,
            hasPpq = 1u << 9,
            hasLastBarStart = 1u << 10,
            hasBarCount = 1u << 11,
            hasLoopPoints = 1u << 12,
            hasHostTime = 1u << 13,
            captured = 1u << 14
        };

        std::uint32_t bits = 0;
        std::int32_t blockCount = 0;
        double bpm = 120.0;
        std::int32_t timeSigNum = 4, timeSigDen = 4;
        double positionSecs = 0.0;
        std::int64_t positionSamples = 0;
        double ppqPosition = 0.0, ppqLastBarStart = 0.0;
        std::int64_t barCount = 0;
        double ppqLoopStart = 0.0, ppqLoopEnd = 0.0;
        double sampleRate = 0.0;
        std::uint64_t hostTimeNs = 0;
        std::int64_t captureTimeNs = 0;

        bool has (Bit bit) const noexcept { return (bits & bit) != 0; }
    };

private:
    Block latest;                // the audio thread's own copy, never read elsewhere
    SeqLock<Block> published;
};

} // namespace quillbeat
