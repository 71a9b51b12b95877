#include "TransportSnapshot.h"

#include "MonotonicClock.h"

#include <cmath>

namespace quillbeat
{

namespace
{
    template <typename T>
    std::optional<T> fromJuce (const juce::Optional<T>& value) noexcept
    {
        return value.hasValue() ? std::optional<T> (*value) : std::nullopt;
    }
} // namespace

TransportSnapshot::TransportSnapshot (std::int32_t initialBlockCount) noexcept
{
    latest.blockCount = initialBlockCount;
    published.write (latest);
}

const TransportSnapshot::Block& TransportSnapshot::capture (juce::AudioPlayHead* playHead, double sampleRate) noexcept
{
    auto& b = latest;

    // Counting in unsigned arithmetic wraps modulo 2^32 without undefined behaviour.
    b.blockCount = static_cast<std::int32_t> (static_cast<std::uint32_t> (b.blockCount) + 1u);
    b.captured = true;
    b.captureTimeNs = monotonicNanoseconds();
    b.sampleRate = sampleRate;
    b.hasPosition = false;

    if (playHead != nullptr)
    {
        if (const auto position = playHead->getPosition())
        {
            b.position = *position;
            b.hasPosition = true;

            // Today's readings keep what earlier blocks said when this one is silent.
            b.connected = true;
            b.playing = position->getIsPlaying();
            b.recording = position->getIsRecording();

            if (const auto tempo = position->getBpm())
                b.bpm = *tempo;

            if (const auto signature = position->getTimeSignature())
            {
                b.timeSigNum = signature->numerator;
                b.timeSigDen = signature->denominator;
            }

            if (const auto seconds = position->getTimeInSeconds())
                b.positionSecs = *seconds;
        }
    }

    published.write (b);
    return b;
}

TransportReading TransportSnapshot::read() const noexcept
{
    const auto b = published.read();
    return { b.connected, b.blockCount, b.playing, b.recording, b.bpm, b.timeSigNum, b.timeSigDen, b.positionSecs };
}

PlayheadReading TransportSnapshot::readPlayhead() const noexcept
{
    const auto b = published.read();

    PlayheadReading r;
    r.connected = b.connected;
    r.blockCount = b.blockCount;
    r.captureTimeNs = b.captured ? std::optional<std::int64_t> (b.captureTimeNs) : std::nullopt;

    if (b.captured && std::isfinite (b.sampleRate) && b.sampleRate > 0.0)
        r.sampleRate = b.sampleRate;

    if (! b.hasPosition)
        return r;

    const auto& p = b.position;
    r.playing = p.getIsPlaying();
    r.recording = p.getIsRecording();
    r.looping = p.getIsLooping();
    r.bpm = fromJuce (p.getBpm());
    r.positionSecs = fromJuce (p.getTimeInSeconds());
    r.positionSamples = fromJuce (p.getTimeInSamples());
    r.ppqPosition = fromJuce (p.getPpqPosition());
    r.ppqLastBarStart = fromJuce (p.getPpqPositionOfLastBarStart());
    r.barCount = fromJuce (p.getBarCount());
    r.hostTimeNs = fromJuce (p.getHostTimeNs());

    if (const auto signature = p.getTimeSignature())
    {
        r.timeSigNum = signature->numerator;
        r.timeSigDen = signature->denominator;
    }

    if (const auto loop = p.getLoopPoints())
    {
        r.ppqLoopStart = loop->ppqStart;
        r.ppqLoopEnd = loop->ppqEnd;
    }

    return r;
}

} // namespace quillbeat
