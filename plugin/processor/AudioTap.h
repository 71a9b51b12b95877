#pragma once

#include "SeqLock.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace quillbeat
{

// The audio passing through, handed from the audio thread to one reader on
// the message thread: a ring of samples per channel and, per block, a stamp
// saying which transport reading the block belongs to and where it ends in
// the ring.
//
// Nothing is allocated until a page first asks (allocate(), message thread),
// and the storage stays until the tap is destroyed, so the audio thread never
// sees it come or go. A full ring overwrites the oldest samples; every sample
// has a 64-bit index that only grows, so the reader can tell exactly which
// samples it missed.
class AudioTap
{
public:
    static constexpr int capacity = 1 << 16;   // per channel: over 200 ms at 192 kHz
    static constexpr int maxChannels = 2;

    // What the transport capture recorded for the block being written.
    struct BlockInfo
    {
        std::int32_t blockCount = 0;
        std::optional<std::int64_t> positionSamples;
        std::optional<double> ppqPosition;
        std::int64_t captureTimeNs = 0;
        double sampleRate = 0.0;
    };

    // The newest block's stamp, as the reader gets it.
    struct Stamp
    {
        std::uint32_t generation = 0;       // which start of the analysis the block belongs to
        std::int32_t blockCount = 0;
        std::int32_t channels = 0;          // 0 until a block has been written
        bool hasPositionSamples = false, hasPpqPosition = false;
        std::int64_t positionSamples = 0;   // the play head's, at the block's start
        double ppqPosition = 0.0;
        std::int64_t captureTimeNs = 0;
        double sampleRate = 0.0;
        std::uint64_t generationStart = 0;  // index of the generation's first sample
        std::uint64_t endIndex = 0;         // index one past the block's last sample
    };

    AudioTap() = default;

    // Message thread. Allocates the ring the first time; later calls do nothing.
    void allocate();
    bool isAllocated() const noexcept { return storage.load (std::memory_order_acquire) != nullptr; }

    // Any thread: the next block written starts a new generation, and the
    // reader starts afresh from it.
    void restart() noexcept { requestedGeneration.fetch_add (1, std::memory_order_release); }
    std::uint32_t generation() const noexcept { return requestedGeneration.load (std::memory_order_acquire); }

    // Audio thread only. Copies the block's first one or two channels into the
    // ring (only the newest `capacity` samples of a longer block), then
    // publishes its stamp. Never blocks, allocates or calls the system; does
    // nothing before allocate(), nor for a block without channels or samples.
    void write (const float* const* channels, int numChannels, int numSamples, const BlockInfo& info) noexcept;

    // Any thread: how many samples per channel have been written, ever.
    std::uint64_t writeIndex() const noexcept { return written.load (std::memory_order_acquire); }

    // Reader: the newest block's stamp, whole.
    Stamp readStamp() const noexcept { return stamp.read(); }

    // Reader: copies samples [from, to) of `numChannels` channels into
    // destination[ch][0 .. to - from). `to` must not be past the newest stamp's
    // endIndex. Returns the first index whose sample is known whole: anything
    // before it had been overwritten (before or during the copy) and its
    // destination holds no meaningful value.
    std::uint64_t read (std::uint64_t from, std::uint64_t to, float* const* destination, int numChannels) const noexcept;

private:
    static constexpr std::uint64_t mask = capacity - 1;

    // Samples are atomics so that a reader overlapping the writer is never a
    // data race; stores are release and loads acquire (plain moves on x86),
    // which lets the reader tell afterwards whether a copy overlapped.
    std::unique_ptr<std::atomic<float>[]> owned;
    std::atomic<std::atomic<float>*> storage { nullptr };

    // Index one past the last sample the writer may be overwriting, set
    // before the samples themselves; and one past the last sample written.
    std::atomic<std::uint64_t> claimed { 0 }, written { 0 };
    std::atomic<std::uint32_t> requestedGeneration { 0 };
    SeqLock<Stamp> stamp;

    // The writer's own state.
    std::uint64_t writerIndex = 0, writerGenerationStart = 0;
    std::uint32_t writerGeneration = 0;

    static_assert (std::atomic<float>::is_always_lock_free);
    static_assert ((capacity & (capacity - 1)) == 0);
};

} // namespace quillbeat
