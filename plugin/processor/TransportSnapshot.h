#pragma once

#include "SeqLock.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <type_traits>

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
//
// The record holds the play head's position exactly as the host gave it
// (its own flags say what the host supplied) and is published through a
// sequence-counted snapshot, so the audio thread copies a few words and never
// waits; the readers pick the values out. It also carries what today's
// readings keep across blocks: the last tempo, signature, seconds and flags
// any block supplied.
class TransportSnapshot
{
public:
    TransportSnapshot() = default;

    // Starts the block counter elsewhere than zero, so its wrap-around can be tested.
    explicit TransportSnapshot (std::int32_t initialBlockCount) noexcept;

    struct Block;

    // Audio thread only: count the block and copy what the play head reports.
    // No allocation, no lock, no system call. Hands back the record just
    // published, so whatever else the block stamps agrees with it exactly.
    const Block& capture (juce::AudioPlayHead* playHead, double sampleRate = 0.0) noexcept;

    // Any thread.
    TransportReading read() const noexcept;
    PlayheadReading readPlayhead() const noexcept;

    struct Block
    {
        juce::AudioPlayHead::PositionInfo position;   // the newest block's, when `hasPosition`
        std::int64_t captureTimeNs = 0;
        double sampleRate = 0.0;
        std::int32_t blockCount = 0;
        bool captured = false, hasPosition = false;

        // What today's readings show: the last of each any block supplied.
        bool connected = false, playing = false, recording = false;
        std::int32_t timeSigNum = 4, timeSigDen = 4;
        double bpm = 120.0, positionSecs = 0.0;
    };

private:
    Block latest;                 // the audio thread's own copy, never read elsewhere
    SeqLock<Block> published;

    static_assert (std::is_trivially_copyable_v<juce::AudioPlayHead::PositionInfo>);
};

} // namespace quillbeat
