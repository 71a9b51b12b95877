#include "SignalSource.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <limits>
#include <random>

namespace quillbeat::host
{

namespace
{
    constexpr int testNoiseLength = 48000;     // a second per channel at the host's clock rate
    constexpr juce::uint32 noiseSeed = 0x9e3779b9u;

    // A plain decimal number: an optional minus, digits, at most one point.
    std::optional<double> parseNumber (const juce::String& text)
    {
        const auto digits = text.startsWithChar ('-') ? text.substring (1) : text;

        if (! digits.containsOnly ("0123456789.") || ! digits.containsAnyOf ("0123456789")
            || digits.indexOfChar ('.') != digits.lastIndexOfChar ('.'))
            return {};

        return text.getDoubleValue();
    }

    std::optional<double> parsePeak (const juce::String& text, juce::String& error)
    {
        const auto db = parseNumber (text);

        if (! db.has_value() || *db > 0.0 || *db < lowestPeakDb)
        {
            error = "'" + text + "' is not a peak level in dBFS from " + juce::String (lowestPeakDb, 0) + " to 0";
            return {};
        }

        return db;
    }

    juce::String formatNumber (double value, int decimals)
    {
        auto text = juce::String (value, decimals);
        return decimals == 0 || ! text.containsChar ('.') ? text : text.trimCharactersAtEnd ("0").trimCharactersAtEnd (".");
    }

    // xorshift32: a fixed, allocation-free sequence; its output mapped to [-1, 1).
    float nextNoise (juce::uint32& state) noexcept
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (float) ((double) state / 2147483648.0 - 1.0);
    }
} // namespace

std::optional<SignalChoice> parseSignalChoice (const juce::String& text, juce::String& error)
{
    juce::StringArray parts;
    parts.addTokens (text.trim(), ":", {});
    const auto kind = parts[0];

    if (kind == "silence" && parts.size() == 1)
        return SignalChoice { SignalChoice::Kind::silence };

    if (kind == "noise" && parts.size() == 2)
    {
        const auto db = parsePeak (parts[1], error);
        return db.has_value() ? std::optional (SignalChoice { SignalChoice::Kind::noise, 0.0, *db }) : std::nullopt;
    }

    if (kind == "sine" && parts.size() == 3)
    {
        const auto hz = parseNumber (parts[1]);

        if (! hz.has_value() || *hz <= 0.0 || *hz >= highestSineHz)
        {
            error = "'" + parts[1] + "' is not a frequency above 0 and below " + juce::String (highestSineHz, 0) + " Hz";
            return {};
        }

        const auto db = parsePeak (parts[2], error);
        return db.has_value() ? std::optional (SignalChoice { SignalChoice::Kind::sine, *hz, *db }) : std::nullopt;
    }

    error = "'" + text + "' is not sine:FREQ:DBFS, noise:DBFS or silence";
    return {};
}

juce::String describeSignalChoice (const SignalChoice& choice)
{
    switch (choice.kind)
    {
        case SignalChoice::Kind::sine:
            return "sine " + formatNumber (choice.frequencyHz, 3) + " Hz " + juce::String (choice.peakDb, 1) + " dBFS";
        case SignalChoice::Kind::noise: return "noise " + juce::String (choice.peakDb, 1) + " dBFS";
        case SignalChoice::Kind::silence: return "silence";
        case SignalChoice::Kind::file: return "file " + choice.file.getFileName();
        case SignalChoice::Kind::testNoise: break;
    }

    return "test noise";
}

std::unique_ptr<SignalSource> SignalSource::create (const SignalChoice& choice, juce::String& error)
{
    std::unique_ptr<SignalSource> source (new SignalSource (choice));
    source->amplitude = (float) juce::Decibels::decibelsToGain (choice.peakDb, lowestPeakDb - 1.0);

    if (choice.kind == SignalChoice::Kind::testNoise)
    {
        // Left and right read different seconds of the same noise.
        std::mt19937 random (2024);
        std::uniform_real_distribution<float> noise (-0.25f, 0.25f);
        source->loop.setSize (2, testNoiseLength);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < testNoiseLength; ++i)
                source->loop.setSample (ch, i, noise (random));
    }
    else if (choice.kind == SignalChoice::Kind::file)
    {
        const auto name = choice.file.getFullPathName();
        auto stream = choice.file.createInputStream();
        std::unique_ptr<juce::AudioFormatReader> reader (
            stream != nullptr ? juce::WavAudioFormat().createReaderFor (stream.release(), true) : nullptr);

        if (reader == nullptr)
            return (error = "cannot read " + name + " as a WAV file"), nullptr;
        if (reader->numChannels < 1 || reader->numChannels > 2)
            return (error = name + " has " + juce::String (reader->numChannels) + " channels; the host plays mono or stereo"), nullptr;
        if (reader->sampleRate <= 0.0)
            return (error = name + " gives no sample rate"), nullptr;
        if (reader->lengthInSamples < 1 || reader->lengthInSamples > std::numeric_limits<int>::max())
            return (error = name + " holds no samples, or too many to keep in memory"), nullptr;

        const auto length = (int) reader->lengthInSamples;
        source->loop.setSize (2, length);
        if (! reader->read (&source->loop, 0, length, 0, true, reader->numChannels > 1))
            return (error = "cannot read the samples of " + name), nullptr;
        if (reader->numChannels == 1)
            source->loop.copyFrom (1, 0, source->loop, 0, 0, length);
        source->loopRate = reader->sampleRate;
        source->fileIsStereo = reader->numChannels > 1;
    }

    return source;
}

void SignalSource::prepare (double sampleRate)
{
    phase = 0.0;
    phaseStep = choice.frequencyHz / sampleRate;
    noiseState = noiseSeed;
    loopPosition = 0;
}

void SignalSource::fill (float* left, float* right, int numSamples) noexcept
{
    switch (choice.kind)
    {
        case SignalChoice::Kind::sine:
            for (int i = 0; i < numSamples; ++i)
            {
                left[i] = right[i] = amplitude * (float) std::sin (juce::MathConstants<double>::twoPi * phase);
                phase += phaseStep;
                phase -= std::floor (phase);   // in [0, 1): no precision lost however long it runs
            }
            return;

        case SignalChoice::Kind::noise:
            for (int i = 0; i < numSamples; ++i)
                left[i] = right[i] = amplitude * nextNoise (noiseState);
            return;

        case SignalChoice::Kind::silence:
            juce::FloatVectorOperations::clear (left, numSamples);
            juce::FloatVectorOperations::clear (right, numSamples);
            return;

        case SignalChoice::Kind::testNoise:
        case SignalChoice::Kind::file:
            fillFromLoop (left, right, numSamples);
            return;
    }
}

void SignalSource::fillFromLoop (float* left, float* right, int numSamples) noexcept
{
    const auto length = loop.getNumSamples();

    for (int done = 0; done < numSamples;)
    {
        const auto run = juce::jmin (numSamples - done, length - loopPosition);
        juce::FloatVectorOperations::copy (left + done, loop.getReadPointer (0, loopPosition), run);
        juce::FloatVectorOperations::copy (right + done, loop.getReadPointer (1, loopPosition), run);
        done += run;
        loopPosition = (loopPosition + run) % length;
    }
}

juce::String SignalSource::describe() const
{
    if (choice.kind != SignalChoice::Kind::file)
        return describeSignalChoice (choice);

    return describeSignalChoice (choice) + " (" + (fileIsStereo ? "stereo, " : "mono, ") + juce::String (loopRate, 0) + " Hz, "
         + juce::String ((double) loop.getNumSamples() / loopRate, 3) + " s)";
}

juce::String SignalSource::warningAt (double sampleRate) const
{
    if (choice.kind == SignalChoice::Kind::file && ! juce::exactlyEqual (loopRate, sampleRate))
        return choice.file.getFileName() + " was recorded at " + juce::String (loopRate, 0) + " Hz and plays, not resampled, at the host's "
             + juce::String (sampleRate, 0) + " Hz";

    if (choice.kind == SignalChoice::Kind::sine && choice.frequencyHz >= sampleRate / 2.0)
        return "a sine at " + formatNumber (choice.frequencyHz, 3) + " Hz is above the Nyquist frequency at " + juce::String (sampleRate, 0)
             + " Hz, so it folds back";

    return {};
}

} // namespace quillbeat::host
