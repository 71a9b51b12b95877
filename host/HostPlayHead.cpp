#include "HostPlayHead.h"

#include <chrono>

namespace quillbeat::host
{

HostPlayHead::HostPlayHead() : shared (settings), current (settings) {}

void HostPlayHead::setTempo (double newBpm) noexcept
{
    if (settings.setBaseTempo (newBpm))
        publish();
}

void HostPlayHead::setTimeSignature (int numerator, int denominator) noexcept
{
    if (settings.setTimeSignature (numerator, denominator))
        publish();
}

bool HostPlayHead::setTempoSteps (std::span<const TempoStep> steps) noexcept
{
    if (! settings.setTempoSteps (steps))
        return false;

    publish();
    return true;
}

bool HostPlayHead::setLoop (LoopRange loop) noexcept
{
    if (! settings.setLoop (loop))
        return false;

    publish();
    return true;
}

void HostPlayHead::seekToBar (int bar) noexcept
{
    seekRequest.store (juce::jmax (1, bar));
}

void HostPlayHead::setSampleRate (double newSampleRate) noexcept
{
    if (newSampleRate > 0.0)
        sampleRate.store (newSampleRate);
}

double HostPlayHead::getPositionPpq() const noexcept
{
    return settings.secondsToPpq ((double) positionSamples.load() / sampleRate.load());
}

juce::int64 HostPlayHead::samplesAt (double ppq, double rate) const noexcept
{
    return (juce::int64) std::llround (current.ppqToSeconds (ppq) * rate);
}

void HostPlayHead::catchUp() const noexcept
{
    if (const auto latest = shared.tryRead())
        current = *latest;

    if (const auto bar = seekRequest.exchange (0); bar > 0)
        positionSamples.store (samplesAt (current.barToPpq (bar), sampleRate.load()));
}

juce::Optional<juce::AudioPlayHead::PositionInfo> HostPlayHead::getPosition() const
{
    catchUp();

    const auto samples = positionSamples.load();
    const auto seconds = (double) samples / sampleRate.load();
    const auto ppq = current.secondsToPpq (seconds);
    const auto bar = current.barAtPpq (ppq);
    const auto loop = current.getLoop();

    PositionInfo info;
    info.setIsPlaying (playing.load());
    info.setIsRecording (recording.load());
    info.setBpm (current.tempoAtBar (bar));
    info.setTimeSignature (TimeSignature { current.getNumerator(), current.getDenominator() });
    info.setTimeInSamples (samples);
    info.setTimeInSeconds (seconds);
    info.setPpqPosition (ppq);
    info.setPpqPositionOfLastBarStart (current.barToPpq (bar));
    info.setBarCount (bar - 1);
    info.setIsLooping (loop.isActive());

    if (loop.hasRange())
        info.setLoopPoints (LoopPoints { current.loopStartPpq(), current.loopEndPpq() });

    // steady_clock is CLOCK_MONOTONIC here, read through the vDSO: no system call.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    info.setHostTimeNs ((uint64_t) std::chrono::duration_cast<std::chrono::nanoseconds> (now).count());
    return info;
}

void HostPlayHead::advance (int numSamples, double newSampleRate) noexcept
{
    setSampleRate (newSampleRate);
    if (const auto latest = shared.tryRead())
        current = *latest;

    if (playing.load())
    {
        const auto rate = sampleRate.load();
        const auto from = positionSamples.load();
        auto to = from + numSamples;

        // Only a crossing wraps: a position already past the loop end (a seek,
        // or a loop moved behind the play position) plays on, as in a DAW.
        if (const auto loop = current.getLoop(); loop.isActive())
        {
            const auto loopStart = samplesAt (current.loopStartPpq(), rate);
            const auto loopEnd = samplesAt (current.loopEndPpq(), rate);

            if (from < loopEnd && to >= loopEnd && loopEnd > loopStart)
                to = loopStart + (to - loopEnd) % (loopEnd - loopStart);
        }

        positionSamples.store (to);
    }

    catchUp();
}

} // namespace quillbeat::host
