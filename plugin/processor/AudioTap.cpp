#include "AudioTap.h"

#include <algorithm>

namespace quillbeat
{

void AudioTap::allocate()
{
    if (owned != nullptr)
        return;

    owned = std::make_unique<std::atomic<float>[]> ((size_t) capacity * maxChannels);

    for (size_t i = 0; i < (size_t) capacity * maxChannels; ++i)
        owned[i].store (0.0f, std::memory_order_relaxed);

    storage.store (owned.get(), std::memory_order_release);
}

void AudioTap::write (const float* const* channels, int numChannels, int numSamples, const BlockInfo& info) noexcept
{
    auto* const ring = storage.load (std::memory_order_acquire);

    // A block without audio leaves the ring and its stamp as they were.
    if (ring == nullptr || numSamples <= 0 || numChannels <= 0)
        return;

    const auto channelCount = std::min (numChannels, maxChannels);

    if (const auto requested = requestedGeneration.load (std::memory_order_acquire); requested != writerGeneration)
    {
        writerGeneration = requested;
        writerGenerationStart = writerIndex;
    }

    const auto end = writerIndex + (std::uint64_t) numSamples;

    // A block longer than the ring keeps only its newest samples; the index
    // still counts all of them, so the reader sees the rest as dropped.
    const auto kept = std::min (numSamples, capacity);
    const auto skipped = numSamples - kept;
    const auto first = end - (std::uint64_t) kept;

    // Claim first: a reader that sees any of the new samples also sees the
    // claim, and so knows its copy overlapped this write.
    claimed.store (end, std::memory_order_relaxed);

    // At most two runs: up to the ring's end, then from its start.
    const auto offset = (int) (first & mask);
    const auto beforeWrap = std::min (kept, capacity - offset);

    for (int ch = 0; ch < channelCount; ++ch)
    {
        const auto* source = channels[ch] + skipped;
        auto* const row = ring + (size_t) ch * capacity;

        for (int i = 0; i < beforeWrap; ++i)
            row[offset + i].store (source[i], std::memory_order_release);

        for (int i = beforeWrap; i < kept; ++i)
            row[i - beforeWrap].store (source[i], std::memory_order_release);
    }

    writerIndex = end;
    written.store (end, std::memory_order_release);

    Stamp s;
    s.generation = writerGeneration;
    s.blockCount = info.blockCount;
    s.channels = channelCount;
    s.hasPositionSamples = info.positionSamples.has_value();
    s.positionSamples = info.positionSamples.value_or (0);
    s.hasPpqPosition = info.ppqPosition.has_value();
    s.ppqPosition = info.ppqPosition.value_or (0.0);
    s.captureTimeNs = info.captureTimeNs;
    s.sampleRate = info.sampleRate;
    s.generationStart = writerGenerationStart;
    s.endIndex = end;
    stamp.write (s);
}

std::uint64_t AudioTap::read (std::uint64_t from, std::uint64_t to, float* const* destination, int numChannels) const noexcept
{
    const auto* const ring = storage.load (std::memory_order_acquire);

    if (ring == nullptr || to <= from)
        return to;

    // Whatever lies a full ring or more behind the newest sample is gone already.
    const auto oldestKept = to > (std::uint64_t) capacity ? to - (std::uint64_t) capacity : 0;
    const auto start = std::max (from, oldestKept);
    const auto channelCount = std::clamp (numChannels, 0, maxChannels);

    const auto count = (int) (to - start);
    const auto offset = (int) (start & mask);
    const auto beforeWrap = std::min (count, capacity - offset);

    for (int ch = 0; ch < channelCount; ++ch)
    {
        const auto* const row = ring + (size_t) ch * capacity;
        auto* const out = destination[ch] + (start - from);

        for (int i = 0; i < beforeWrap; ++i)
            out[i] = row[offset + i].load (std::memory_order_acquire);

        for (int i = beforeWrap; i < count; ++i)
            out[i] = row[i - beforeWrap].load (std::memory_order_acquire);
    }

    // Loaded after every sample: any sample overwritten during the copy is
    // at an index the writer had claimed past by now.
    const auto claim = claimed.load (std::memory_order_acquire);
    const auto oldestWhole = claim > (std::uint64_t) capacity ? claim - (std::uint64_t) capacity : 0;
    return std::min (to, std::max (start, oldestWhole));
}

} // namespace quillbeat
