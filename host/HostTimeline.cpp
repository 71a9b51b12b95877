#include "HostTimeline.h"

#include <cmath>

namespace quillbeat::host
{

namespace
{
    // Seconds times tempo lands a hair below a bar line often enough
    // (31.999999999999996 for bar 9 in 4/4) to show the last tick of the bar
    // before; this much of a quarter note is forgiven.
    constexpr double ppqTolerance = 1.0e-9;

    bool isPlayableTempo (double bpm) { return std::isfinite (bpm) && bpm > 0.0; }

    std::int64_t floorDivide (std::int64_t a, std::int64_t b)
    {
        const auto q = a / b;
        return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
    }
} // namespace

bool HostTimeline::setBaseTempo (double bpm) noexcept
{
    if (! isPlayableTempo (bpm))
        return false;

    baseBpm = bpm;
    return true;
}

bool HostTimeline::setTimeSignature (int newNumerator, int newDenominator) noexcept
{
    if (newNumerator < 1 || newDenominator < 1)
        return false;

    numerator = newNumerator;
    denominator = newDenominator;
    return true;
}

bool HostTimeline::addTempoStep (TempoStep step) noexcept
{
    if (step.bar < 1 || ! isPlayableTempo (step.bpm))
        return false;

    int at = 0;
    while (at < numSteps && steps[(size_t) at].bar < step.bar)
        ++at;

    if (at < numSteps && steps[(size_t) at].bar == step.bar)
    {
        steps[(size_t) at] = step;
        return true;
    }

    if (numSteps == maxTempoSteps)
        return false;

    for (int i = numSteps; i > at; --i)
        steps[(size_t) i] = steps[(size_t) i - 1];

    steps[(size_t) at] = step;
    ++numSteps;
    return true;
}

bool HostTimeline::setTempoSteps (std::span<const TempoStep> newSteps) noexcept
{
    auto candidate = *this;
    candidate.clearTempoSteps();

    for (const auto& step : newSteps)
        if (! candidate.addTempoStep (step))
            return false;

    steps = candidate.steps;
    numSteps = candidate.numSteps;
    return true;
}

bool HostTimeline::setLoop (LoopRange newLoop) noexcept
{
    const auto noRange = newLoop.firstBar == 0 && newLoop.lastBar == 0;

    if (noRange ? newLoop.enabled : ! newLoop.hasRange())
        return false;

    loop = newLoop;
    return true;
}

double HostTimeline::ppqToSeconds (double ppq) const noexcept
{
    double segmentPpq = 0.0, segmentSeconds = 0.0, bpm = baseBpm;

    for (int i = 0; i < numSteps; ++i)
    {
        const auto& step = steps[(size_t) i];
        const auto stepPpq = barToPpq (step.bar);

        if (ppq < stepPpq)
            break;

        segmentSeconds += (stepPpq - segmentPpq) * 60.0 / bpm;
        segmentPpq = stepPpq;
        bpm = step.bpm;
    }

    return segmentSeconds + (ppq - segmentPpq) * 60.0 / bpm;
}

double HostTimeline::secondsToPpq (double seconds) const noexcept
{
    double segmentPpq = 0.0, segmentSeconds = 0.0, bpm = baseBpm;

    for (int i = 0; i < numSteps; ++i)
    {
        const auto& step = steps[(size_t) i];
        const auto stepPpq = barToPpq (step.bar);
        const auto stepSeconds = segmentSeconds + (stepPpq - segmentPpq) * 60.0 / bpm;

        if (seconds < stepSeconds)
            break;

        segmentSeconds = stepSeconds;
        segmentPpq = stepPpq;
        bpm = step.bpm;
    }

    return segmentPpq + (seconds - segmentSeconds) * bpm / 60.0;
}

double HostTimeline::tempoAtBar (std::int64_t bar) const noexcept
{
    auto bpm = baseBpm;

    for (int i = 0; i < numSteps && steps[(size_t) i].bar <= bar; ++i)
        bpm = steps[(size_t) i].bpm;

    return bpm;
}

MusicalPosition HostTimeline::musicalPositionAt (double ppq) const noexcept
{
    const auto beatsPerQuarterNote = denominator / 4.0;
    const auto exactTicks = std::floor ((ppq + ppqTolerance) * beatsPerQuarterNote * ticksPerBeat);

    // Far beyond any song; also keeps the conversion below defined.
    if (! (std::abs (exactTicks) < 1.0e15))
        return {};

    const auto ticks = (std::int64_t) exactTicks;
    const auto ticksPerBar = (std::int64_t) numerator * ticksPerBeat;
    const auto barIndex = floorDivide (ticks, ticksPerBar);
    const auto inBar = ticks - barIndex * ticksPerBar;

    return { barIndex + 1, (int) (inBar / ticksPerBeat) + 1, (int) (inBar % ticksPerBeat) };
}

std::string formatBarBeatTick (const MusicalPosition& position)
{
    auto tick = std::to_string (position.tick);
    tick.insert (0, tick.size() < 3 ? 3 - tick.size() : 0, '0');
    return std::to_string (position.bar) + "." + std::to_string (position.beat) + "." + tick;
}

} // namespace quillbeat::host
