#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

namespace quillbeat::host
{

// The stand-in host's transport: the window's transport bar (or the command
// line) sets it on the message thread, the audio thread reports it to the
// plug-in and moves the position on while playing. All lock-free.
class HostPlayHead final : public juce::AudioPlayHead
{
public:
    void setPlaying (bool shouldPlay) noexcept { playing.store (shouldPlay); }
    void setRecording (bool shouldRecord) noexcept { recording.store (shouldRecord); }
    void setTempo (double newBpm) noexcept { bpm.store (newBpm); }
    void setTimeSignature (int numerator, int denominator) noexcept;
    void returnToZero() noexcept { zeroRequested.store (true); }

    bool isPlaying() const noexcept { return playing.load(); }
    bool isRecording() const noexcept { return recording.load(); }
    double getTempo() const noexcept { return bpm.load(); }
    juce::int64 getPositionSamples() const noexcept { return positionSamples.load(); }

    // Audio thread: what the plug-in sees during the coming block.
    juce::Optional<PositionInfo> getPosition() const override;

    // Audio thread, after each block.
    void advance (int numSamples, double sampleRate) noexcept;

private:
    std::atomic<bool> playing { false }, recording { false }, zeroRequested { false };
    std::atomic<double> bpm { 120.0 };
    std::atomic<int> timeSig { (4 << 8) | 4 };  // numerator and denominator, read together
    std::atomic<juce::int64> positionSamples { 0 };
    std::atomic<double> currentSampleRate { 48000.0 };
};

} // namespace quillbeat::host
