#pragma once

#include "HostTimeline.h"

#include <processor/SeqLock.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

namespace quillbeat::host
{

// The stand-in host's transport: the window's transport bar (or the command
// line) sets it on the message thread, the audio thread reports it to the
// plug-in and moves the position on while playing. The position is kept in
// samples; quarter notes, bars and tempo come from the timeline at that
// position. Settings reach the audio thread through a sequence-counted snapshot,
// so neither side ever waits for the other.
class HostPlayHead final : public juce::AudioPlayHead
{
public:
    HostPlayHead();

    // Message thread (one thread at a time).
    void setPlaying (bool shouldPlay) noexcept { playing.store (shouldPlay); }
    void setRecording (bool shouldRecord) noexcept { recording.store (shouldRecord); }
    void setTempo (double newBpm) noexcept;                          // the base tempo, before any step
    void setTimeSignature (int numerator, int denominator) noexcept;
    bool setTempoSteps (std::span<const TempoStep> steps) noexcept;  // false: refused, nothing changed
    bool setLoop (LoopRange loop) noexcept;
    void seekToBar (int bar) noexcept;                               // at the next block boundary
    void returnToZero() noexcept { seekToBar (1); }

    // Before audio starts, or on the audio thread when the device is prepared.
    void setSampleRate (double newSampleRate) noexcept;

    bool isPlaying() const noexcept { return playing.load(); }
    bool isRecording() const noexcept { return recording.load(); }
    double getTempo() const noexcept { return settings.getBaseTempo(); }
    juce::int64 getPositionSamples() const noexcept { return positionSamples.load(); }
    double getSampleRate() const noexcept { return sampleRate.load(); }

    // Message thread: the timeline as last set, and where the position is on it.
    const HostTimeline& getTimeline() const noexcept { return settings; }
    double getPositionPpq() const noexcept;
    MusicalPosition getMusicalPosition() const noexcept { return settings.musicalPositionAt (getPositionPpq()); }
    double getCurrentTempo() const noexcept { return settings.tempoAtPpq (getPositionPpq()); }

    // Audio thread: what the plug-in sees during the coming block.
    juce::Optional<PositionInfo> getPosition() const override;

    // Audio thread, after each block: moves the position on while playing and
    // wraps it at the loop end, carrying the overshoot past the loop start.
    void advance (int numSamples, double sampleRate) noexcept;

private:
    void publish() noexcept { shared.write (settings); }

    // Audio thread, at a block boundary: takes the latest settings and any
    // pending seek. getPosition() does this too, so a seek asked for between
    // blocks is already in place for the block that asks where it is.
    void catchUp() const noexcept;
    juce::int64 samplesAt (double ppq, double rate) const noexcept;

    HostTimeline settings;                      // message thread's copy
    SeqLock<HostTimeline> shared;

    // The audio thread's last good copy; getPosition() is const by JUCE's
    // contract but is where a block first meets the settings.
    mutable HostTimeline current;

    std::atomic<bool> playing { false }, recording { false };
    mutable std::atomic<int> seekRequest { 0 }; // a bar to go to, 0 for none
    mutable std::atomic<juce::int64> positionSamples { 0 };
    std::atomic<double> sampleRate { 48000.0 };
};

} // namespace quillbeat::host
