#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <cstdint>

namespace quillbeat
{

// One reading of the host transport, as the editor and the page bridge see it.
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

// The host transport as last seen on the audio thread. The audio thread writes
// it once per block; the message thread reads it without a lock. Every member
// is its own relaxed atomic so no reader sees a torn value; `connected` is
// stored last with release order, so a reader that sees it true (acquire) sees
// the values of at least the block that set it.
class TransportSnapshot
{
public:
    TransportSnapshot() = default;

    // Starts the block counter elsewhere than zero, so its wrap-around can be tested.
    explicit TransportSnapshot (std::int32_t initialBlockCount) noexcept : blockCount (initialBlockCount) {}

    // Audio thread only: count the block and copy what the play head reports.
    // No allocation, no lock, no system call.
    void capture (juce::AudioPlayHead* playHead) noexcept;

    // Any thread.
    TransportReading read() const noexcept;

private:
    std::atomic<bool> connected { false };
    std::atomic<std::int32_t> blockCount { 0 };
    std::atomic<bool> playing { false };
    std::atomic<bool> recording { false };
    std::atomic<double> bpm { 120.0 };
    std::atomic<int> timeSigNum { 4 };
    std::atomic<int> timeSigDen { 4 };
    std::atomic<double> positionSecs { 0.0 };

    static_assert (std::atomic<double>::is_always_lock_free);
    static_assert (std::atomic<std::int32_t>::is_always_lock_free);
};

} // namespace quillbeat
