#include "TransportSnapshot.h"

#include "MonotonicClock.h"

#include <cmath>

namespace quillbeat
{

namespace
{
    using Block = TransportSnapshot::Block;

    void setBit (Block& block, Block::Bit bit, bool on) noexcept
    {
        block.bits = on ? (block.bits | bit) : (block.bits & ~static_cast<std::uint32_t> (bit));
    }

    void takePosition (Block& b, const juce::AudioPlayHead::PositionInfo& position) noexcept
    {
        b.bits |= Block::connected | Block::position;
        setBit (b, Block::playing, position.getIsPlaying());
        setBit (b, Block::recording, position.getIsRecording());
        setBit (b, Block::looping, position.getIsLooping());

        if (const auto tempo = position.getBpm())
        {
            b.bpm = *tempo;
            b.bits |= Block::hasBpm;
        }

        if (const auto signature = position.getTimeSignature())
        {
            b.timeSigNum = signature->numerator;
            b.timeSigDen = signature->denominator;
            b.bits |= Block::hasTimeSignature;
        }

        if (const auto seconds = position.getTimeInSeconds())
        {
            b.positionSecs = *seconds;
            b.bits |= Block::hasSeconds;
        }

        if (const auto samples = position.getTimeInSamples())
        {
            b.positionSamples = *samples;
            b.bits |= Block::hasSamples;
        }

        if (const auto ppq = position.getPpqPosition())
        {
            b.ppqPosition = *ppq;
            b.bits |= Block::hasPpq;
        }

        if (const auto barStart = position.getPpqPositionOfLastBarStart())
        {
            b.ppqLastBarStart = *barStart;
            b.bits |= Block::hasLastBarStart;
        }

        if (const auto bars = position.getBarCount())
        {
            b.barCount = *bars;
            b.bits |= Block::hasBarCount;
        }

        if (const auto loop = position.getLoopPoints())
        {
            b.ppqLoopStart = loop->ppqStart;
            b.ppqLoopEnd = loop->ppqEnd;
            b.bits |= Block::hasLoopPoints;
        }

        if (const auto hostTime = position.getHostTimeNs())
        {
            b.hostTimeNs = *hostTime;
            b.bits |= Block::hasHostTime;
        }
    }

    template <typename T>
    std::optional<T> when (bool present, T value) noexcept
    {
        return present ? std::optional<T> (value) : std::nullopt;
    }
} // namespace

TransportSnapshot::TransportSnapshot (std::int32_t initialBlockCount) noexcept
{
    latest.blockCount = initialBlockCount;
    published.write (latest);
}

void TransportSnapshot::capture (juce::AudioPlayHead* playHead, double sampleRate) noexcept
{
    auto& b = latest;

    // Counting in unsigned arithmetic wraps modulo 2^32 without undefined behaviour.
    b.blockCount = static_cast<std::int32_t> (static_cast<std::uint32_t> (b.blockCount) + 1u);

    // What only this block can say starts absent; the connection stays, and
    // the last playing and recording flags stay for today's readings.
    b.bits &= Block::connected | Block::playing | Block::recording;
    b.bits |= Block::captured;
    b.captureTimeNs = monotonicNanoseconds();
    b.sampleRate = sampleRate;

    if (playHead != nullptr)
        if (const auto position = playHead->getPosition())
            takePosition (b, *position);

    published.write (b);
}

TransportReading TransportSnapshot::read() const noexcept
{
    const auto b = published.read();
    return { b.has (Block::connected), b.blockCount, b.has (Block::playing), b.has (Block::recording),
             b.bpm, b.timeSigNum, b.timeSigDen, b.positionSecs };
}

PlayheadReading TransportSnapshot::readPlayhead() const noexcept
{
    const auto b = published.read();
    const auto position = b.has (Block::position);

    PlayheadReading r;
    r.connected = b.has (Block::connected);
    r.blockCount = b.blockCount;
    r.playing = when (position, b.has (Block::playing));
    r.recording = when (position, b.has (Block::recording));
    r.looping = when (position, b.has (Block::looping));
    r.bpm = when (b.has (Block::hasBpm), b.bpm);
    r.timeSigNum = when<int> (b.has (Block::hasTimeSignature), b.timeSigNum);
    r.timeSigDen = when<int> (b.has (Block::hasTimeSignature), b.timeSigDen);
    r.positionSecs = when (b.has (Block::hasSeconds), b.positionSecs);
    r.positionSamples = when (b.has (Block::hasSamples), b.positionSamples);
    r.ppqPosition = when (b.has (Block::hasPpq), b.ppqPosition);
    r.ppqLastBarStart = when (b.has (Block::hasLastBarStart), b.ppqLastBarStart);
    r.barCount = when (b.has (Block::hasBarCount), b.barCount);
    r.ppqLoopStart = when (b.has (Block::hasLoopPoints), b.ppqLoopStart);
    r.ppqLoopEnd = when (b.has (Block::hasLoopPoints), b.ppqLoopEnd);
    r.sampleRate = when (b.has (Block::captured) && std::isfinite (b.sampleRate) && b.sampleRate > 0.0, b.sampleRate);
    r.hostTimeNs = when (b.has (Block::hasHostTime), b.hostTimeNs);
    r.captureTimeNs = when (b.has (Block::captured), b.captureTimeNs);
    return r;
}

} // namespace quillbeat
