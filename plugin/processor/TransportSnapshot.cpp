#include "TransportSnapshot.h"

namespace quillbeat
{

void TransportSnapshot::capture (juce::AudioPlayHead* playHead) noexcept
{
    // Only the audio thread writes the counter, so a plain load and store do
    // (no locked read-modify-write). Counting in unsigned arithmetic wraps
    // modulo 2^32 without undefined behaviour.
    const auto count = static_cast<std::uint32_t> (blockCount.load (std::memory_order_relaxed));
    blockCount.store (static_cast<std::int32_t> (count + 1u), std::memory_order_relaxed);

    if (playHead == nullptr)
        return;

    const auto position = playHead->getPosition();

    if (! position.hasValue())
        return;

    playing.store (position->getIsPlaying(), std::memory_order_relaxed);
    recording.store (position->getIsRecording(), std::memory_order_relaxed);

    if (const auto tempo = position->getBpm())
        bpm.store (*tempo, std::memory_order_relaxed);

    if (const auto signature = position->getTimeSignature())
    {
        timeSigNum.store (signature->numerator, std::memory_order_relaxed);
        timeSigDen.store (signature->denominator, std::memory_order_relaxed);
    }

    if (const auto seconds = position->getTimeInSeconds())
        positionSecs.store (*seconds, std::memory_order_relaxed);

    connected.store (true, std::memory_order_release);
}

TransportReading TransportSnapshot::read() const noexcept
{
    TransportReading reading;
    reading.connected = connected.load (std::memory_order_acquire);
    reading.blockCount = blockCount.load (std::memory_order_relaxed);
    reading.playing = playing.load (std::memory_order_relaxed);
    reading.recording = recording.load (std::memory_order_relaxed);
    reading.bpm = bpm.load (std::memory_order_relaxed);
    reading.timeSigNum = timeSigNum.load (std::memory_order_relaxed);
    reading.timeSigDen = timeSigDen.load (std::memory_order_relaxed);
    reading.positionSecs = positionSecs.load (std::memory_order_relaxed);
    return reading;
}

} // namespace quillbeat
