#include "AnalysisMessage.h"

#include "AnalysisRequest.h"
#include "RenderableNumber.h"

#include <charconv>
#include <cmath>
#include <string>

namespace quillbeat
{

namespace
{
    constexpr double nanosecondsPerMillisecond = 1.0e6;

    // To 1 / perUnit, dividing last so the result is the double nearest the
    // decimal (12.35, not 12.350000000000001).
    double rounded (double value, double perUnit) { return std::round (value * perUnit) / perUnit; }

    // Finite, at or above the floor, to 0.01 dB.
    double decibels (double value)
    {
        if (std::isnan (value) || value < AnalysisFrame::floorDb)
            return AnalysisFrame::floorDb;

        return rounded (toRenderableNumber (value), 100.0);
    }

    double sampleValue (double value) { return std::isfinite (value) ? rounded (value, 1.0e4) : 0.0; }

    // A JSON text written straight into one string.
    class JsonText
    {
    public:
        explicit JsonText (size_t expectedSize) { text.reserve (expectedSize); }

        JsonText& raw (const char* s)
        {
            text += s;
            return *this;
        }

        JsonText& key (const char* name)
        {
            if (needsComma)
                text += ',';
            text += '"';
            text += name;
            text += "\":";
            needsComma = false;
            return *this;
        }

        // The shortest text that reads back as the same double; -0 as 0.
        JsonText& number (double value)
        {
            separate();
            char buffer[32];
            const auto result = std::to_chars (buffer, buffer + sizeof (buffer), value + 0.0);
            text.append (buffer, result.ptr);
            return *this;
        }

        JsonText& integer (std::int64_t value)
        {
            separate();
            char buffer[24];
            const auto result = std::to_chars (buffer, buffer + sizeof (buffer), value);
            text.append (buffer, result.ptr);
            return *this;
        }

        JsonText& boolean (bool value)
        {
            separate();
            text += value ? "true" : "false";
            return *this;
        }

        JsonText& null()
        {
            separate();
            text += "null";
            return *this;
        }

        JsonText& open (char bracket)
        {
            separate();
            text += bracket;
            needsComma = false;
            return *this;
        }

        JsonText& close (char bracket)
        {
            text += bracket;
            needsComma = true;
            return *this;
        }

        template <typename Convert>
        JsonText& rows (const std::vector<std::vector<float>>& rows, Convert convert)
        {
            open ('[');
            for (const auto& row : rows)
            {
                open ('[');
                for (auto v : row)
                    number (convert ((double) v));
                close (']');
            }
            return close (']');
        }

        juce::String toString() const { return juce::String::fromUTF8 (text.data(), (int) text.size()); }

    private:
        void separate()
        {
            if (needsComma)
                text += ',';
            needsComma = true;
        }

        std::string text;
        bool needsComma = false;
    };

    size_t expectedSizeOf (const AnalysisFrame& frame)
    {
        size_t values = 0;
        for (const auto* rows : { &frame.bandDb, &frame.waveformMin, &frame.waveformMax })
            for (const auto& row : *rows)
                values += row.size();
        return 400 + 8 * values;
    }
} // namespace

juce::String renderAnalysisFrame (const AnalysisFrame& frame, std::int64_t sentTimeNs)
{
    JsonText json (expectedSizeOf (frame));
    json.open ('{');
    json.key ("blockCount").integer (frame.blockCount);
    json.key ("positionSamples");
    frame.positionSamples ? json.integer (*frame.positionSamples) : json.null();
    json.key ("ppqPosition");
    frame.ppqPosition ? json.number (toRenderableNumber (*frame.ppqPosition)) : json.null();
    json.key ("captureTimeMs").number ((double) frame.captureTimeNs / nanosecondsPerMillisecond);
    json.key ("sentTimeMs").number ((double) sentTimeNs / nanosecondsPerMillisecond);
    json.key ("sampleRate").number (std::isfinite (frame.sampleRate) ? toRenderableNumber (frame.sampleRate) : 0.0);
    json.key ("samples").integer (frame.samples);
    json.key ("droppedSamples").integer (frame.droppedSamples);
    json.key ("channels").integer (frame.channels);

    json.key ("levels");
    if (frame.levels.empty())
        json.null();
    else
    {
        json.open ('[');
        for (const auto& level : frame.levels)
        {
            json.open ('{');
            json.key ("peakDb").number (decibels (level.peakDb));
            json.key ("rmsDb").number (decibels (level.rmsDb));
            json.key ("clipped").boolean (level.clipped);
            json.key ("nonFinite").integer (level.nonFinite);
            json.close ('}');
        }
        json.close (']');
    }

    json.key ("spectrum");
    if (! frame.hasSpectrum())
        json.null();
    else
    {
        json.open ('{');
        json.key ("fftSize").integer (frame.fftSize);
        json.key ("lowHz").number (frame.lowHz);
        json.key ("bandsPerOctave").integer (frame.bandsPerOctave);
        json.key ("db").rows (frame.bandDb, decibels);
        json.close ('}');
    }

    json.key ("waveform");
    if (! frame.hasWaveform())
        json.null();
    else
    {
        json.open ('{');
        json.key ("min").rows (frame.waveformMin, sampleValue);
        json.key ("max").rows (frame.waveformMax, sampleValue);
        json.close ('}');
    }

    json.close ('}');
    return json.toString();
}

juce::String analysisFrameEventScript (const juce::String& frameJson)
{
    // The text holds no quote or backslash of its own: only numbers, keys,
    // brackets, true, false and null.
    return juce::String ("window.__JUCE__.backend.emitByBackend(\"") + analysisFrameEventName + "\",'" + frameJson + "');";
}

} // namespace quillbeat
