#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <memory>
#include <optional>
#include <vector>

namespace quillbeat::host
{

// Which signal the host feeds the plug-in, as the command line and the
// window's menu name it.
struct SignalChoice
{
    enum class Kind { testNoise, sine, noise, silence, file };

    Kind kind = Kind::testNoise;
    double frequencyHz = 0.0;   // sine
    double peakDb = 0.0;        // sine and noise: dBFS of the peak
    juce::File file {};         // a WAV file, played in a loop

    bool operator== (const SignalChoice&) const = default;
};

// The host's own clock runs at 48 kHz, so a sine must stay below 24 kHz.
inline constexpr double highestSineHz = 24000.0;
inline constexpr double lowestPeakDb = -120.0;

// "sine:997:-6", "noise:-12" or "silence". Nothing, with the reason in
// `error`, for text that makes no sense.
std::optional<SignalChoice> parseSignalChoice (const juce::String& text, juce::String& error);

// "sine 997 Hz -6.0 dBFS", "noise -12.0 dBFS", "silence", "test noise" or "file loop.wav".
juce::String describeSignalChoice (const SignalChoice&);

// Fills blocks with one signal, the same on both channels, except the test
// noise, whose channels differ so that a swap of left and right shows.
// Everything is made on the message thread (create, prepare); fill() runs on
// the audio thread and neither allocates nor locks.
class SignalSource
{
public:
    // Reads a WAV file whole (message thread). Nothing, with the reason in `error`, on failure.
    static std::unique_ptr<SignalSource> create (const SignalChoice&, juce::String& error);

    // Message thread, while fill() is not running: the rate the host runs at.
    // Starts the signal from its beginning.
    void prepare (double sampleRate);

    void fill (float* left, float* right, int numSamples) noexcept;

    const SignalChoice& getChoice() const noexcept { return choice; }
    juce::String describe() const;

    // What a listener should know about this signal at this rate: a file
    // recorded at another rate (it plays at the host's rate, not resampled),
    // or a sine above the rate's Nyquist frequency. Empty when nothing.
    juce::String warningAt (double sampleRate) const;

private:
    explicit SignalSource (const SignalChoice& s) : choice (s) {}

    void fillFromLoop (float* left, float* right, int numSamples) noexcept;

    SignalChoice choice;
    float amplitude = 0.0f;

    double phase = 0.0, phaseStep = 0.0;    // sine, in cycles
    juce::uint32 noiseState = 1;            // noise: xorshift32, never zero

    // The test noise and a file: left and right, played in a loop.
    juce::AudioBuffer<float> loop;
    double loopRate = 0.0;                  // a file's own rate
    bool fileIsStereo = false;
    int loopPosition = 0;
};

} // namespace quillbeat::host
