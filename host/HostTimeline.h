#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace quillbeat::host
{

// A tempo that holds from the start of `bar` until the next step.
struct TempoStep
{
    int bar = 1;
    double bpm = 120.0;     // quarter notes per minute

    bool operator== (const TempoStep&) const = default;
};

// Where the host itself says it is: bar from 1, beat from 1 in the time
// signature's note value (an eighth in 7/8), tick from 0 to ticksPerBeat - 1.
struct MusicalPosition
{
    std::int64_t bar = 1;
    int beat = 1;
    int tick = 0;

    bool operator== (const MusicalPosition&) const = default;
};

// A loop over whole bars, both ends included: 9-10 runs from the start of
// bar 9 to the start of bar 11. Bars of 0 mean no range has been chosen.
struct LoopRange
{
    bool enabled = false;
    int firstBar = 0, lastBar = 0;

    bool hasRange() const noexcept { return firstBar >= 1 && lastBar >= firstBar; }
    bool isActive() const noexcept { return enabled && hasRange(); }

    bool operator== (const LoopRange&) const = default;
};

// The stand-in host's timeline: a base tempo with a few tempo steps at bar
// starts, one time signature throughout, and a loop. Trivially copyable and
// of fixed size, so the play head can hand it to the audio thread whole.
class HostTimeline
{
public:
    static constexpr int maxTempoSteps = 8;
    static constexpr int ticksPerBeat = 960;

    // Each setter refuses (returns false, changes nothing) what cannot be played.
    bool setBaseTempo (double bpm) noexcept;
    bool setTimeSignature (int numerator, int denominator) noexcept;
    bool addTempoStep (TempoStep step) noexcept;                       // a step on an existing bar replaces it
    bool setTempoSteps (std::span<const TempoStep> steps) noexcept;    // all or nothing
    void clearTempoSteps() noexcept { numSteps = 0; }
    bool setLoop (LoopRange newLoop) noexcept;

    double getBaseTempo() const noexcept { return baseBpm; }
    int getNumerator() const noexcept { return numerator; }
    int getDenominator() const noexcept { return denominator; }
    std::span<const TempoStep> getTempoSteps() const noexcept { return { steps.data(), (size_t) numSteps }; }
    LoopRange getLoop() const noexcept { return loop; }

    double quarterNotesPerBar() const noexcept { return numerator * 4.0 / denominator; }
    double barToPpq (std::int64_t bar) const noexcept { return (double) (bar - 1) * quarterNotesPerBar(); }
    std::int64_t barAtPpq (double ppq) const noexcept { return musicalPositionAt (ppq).bar; }
    double lastBarStartPpq (double ppq) const noexcept { return barToPpq (barAtPpq (ppq)); }

    double ppqToSeconds (double ppq) const noexcept;
    double secondsToPpq (double seconds) const noexcept;
    double tempoAtBar (std::int64_t bar) const noexcept;
    double tempoAtPpq (double ppq) const noexcept { return tempoAtBar (barAtPpq (ppq)); }

    // Counted in whole ticks from the timeline's start, so bar and beat
    // boundaries fall where the bar arithmetic puts them.
    MusicalPosition musicalPositionAt (double ppq) const noexcept;

    double loopStartPpq() const noexcept { return barToPpq (loop.firstBar); }
    double loopEndPpq() const noexcept { return barToPpq ((std::int64_t) loop.lastBar + 1); }

private:
    double baseBpm = 120.0;
    int numerator = 4, denominator = 4;
    std::array<TempoStep, maxTempoSteps> steps {};   // sorted by bar, one per bar
    int numSteps = 0;
    LoopRange loop;
};

// "9.4.733": bar, beat and a three-digit tick.
std::string formatBarBeatTick (const MusicalPosition& position);

} // namespace quillbeat::host
