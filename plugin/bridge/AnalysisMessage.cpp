#include "AnalysisMessage.h"

#include "RenderableNumber.h"

#include <cmath>

namespace quillbeat
{

namespace
{
    constexpr double nanosecondsPerMillisecond = 1.0e6;

    // To 1 / perUnit, dividing last so the result is the double nearest the
    // decimal (12.35, not 12.350000000000001); never -0.
    double rounded (double value, double perUnit) { return std::round (value * perUnit) / perUnit + 0.0; }

    // Finite, at or above the floor, to 0.01 dB.
    double decibels (double value)
    {
        if (std::isnan (value) || value < AnalysisFrame::floorDb)
            return AnalysisFrame::floorDb;

        return rounded (toRenderableNumber (value), 100.0);
    }

    double sampleValue (float value) { return std::isfinite (value) ? rounded ((double) value, 1.0e4) : 0.0; }

    template <typename Convert>
    juce::var rowsOf (const std::vector<std::vector<float>>& rows, Convert convert)
    {
        juce::Array<juce::var> result;
        result.ensureStorageAllocated ((int) rows.size());

        for (const auto& row : rows)
        {
            juce::Array<juce::var> values;
            values.ensureStorageAllocated ((int) row.size());

            for (auto v : row)
                values.add (convert (v));

            result.add (std::move (values));
        }

        return result;
    }

    juce::var levelsOf (const AnalysisFrame& frame)
    {
        if (frame.levels.empty())
            return {};

        juce::Array<juce::var> channels;

        for (const auto& level : frame.levels)
        {
            auto object = std::make_unique<juce::DynamicObject>();
            object->setProperty ("peakDb", decibels (level.peakDb));
            object->setProperty ("rmsDb", decibels (level.rmsDb));
            object->setProperty ("clipped", level.clipped);
            object->setProperty ("nonFinite", (juce::int64) level.nonFinite);
            channels.add (juce::var (object.release()));
        }

        return channels;
    }

    juce::var spectrumOf (const AnalysisFrame& frame)
    {
        if (! frame.hasSpectrum())
            return {};

        auto object = std::make_unique<juce::DynamicObject>();
        object->setProperty ("fftSize", frame.fftSize);
        object->setProperty ("lowHz", frame.lowHz);
        object->setProperty ("bandsPerOctave", frame.bandsPerOctave);
        object->setProperty ("db", rowsOf (frame.bandDb, [] (float v) { return decibels ((double) v); }));
        return juce::var (object.release());
    }

    juce::var waveformOf (const AnalysisFrame& frame)
    {
        if (! frame.hasWaveform())
            return {};

        auto object = std::make_unique<juce::DynamicObject>();
        object->setProperty ("min", rowsOf (frame.waveformMin, sampleValue));
        object->setProperty ("max", rowsOf (frame.waveformMax, sampleValue));
        return juce::var (object.release());
    }
} // namespace

juce::var buildAnalysisFrameObject (const AnalysisFrame& frame, std::int64_t sentTimeNs)
{
    auto object = std::make_unique<juce::DynamicObject>();
    object->setProperty ("blockCount", (int) frame.blockCount);
    object->setProperty ("positionSamples", frame.positionSamples ? juce::var ((juce::int64) *frame.positionSamples) : juce::var());
    // "+ 0.0" turns a host's -0 into 0, which JSON and the page read alike. The
    // framework writes large numbers to 15 digits, so a sample rate near the
    // largest double would reach the page as Infinity: it is held to 32 bits.
    object->setProperty ("ppqPosition", frame.ppqPosition ? juce::var (toRenderableNumber (*frame.ppqPosition) + 0.0) : juce::var());
    object->setProperty ("captureTimeMs", (double) frame.captureTimeNs / nanosecondsPerMillisecond);
    object->setProperty ("sentTimeMs", (double) sentTimeNs / nanosecondsPerMillisecond);
    object->setProperty ("sampleRate", std::isfinite (frame.sampleRate) ? toRenderableNumber (frame.sampleRate) + 0.0 : 0.0);
    object->setProperty ("samples", (juce::int64) frame.samples);
    object->setProperty ("droppedSamples", (juce::int64) frame.droppedSamples);
    object->setProperty ("channels", frame.channels);
    object->setProperty ("levels", levelsOf (frame));
    object->setProperty ("spectrum", spectrumOf (frame));
    object->setProperty ("waveform", waveformOf (frame));
    return juce::var (object.release());
}

} // namespace quillbeat
