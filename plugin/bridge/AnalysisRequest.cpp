#include "AnalysisRequest.h"

#include "NativeAnswer.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace quillbeat
{

namespace
{
    const juce::StringArray knownKeys { "levels", "spectrum", "waveform", "framesPerSecond", "fftSize",
                                        "bandsPerOctave", "spectrumChannels", "waveformSlices" };

    // A whole number, from any of the number types a page's JSON arrives as.
    std::optional<int> wholeNumber (const juce::var& value)
    {
        if (value.isInt())
            return (int) value;

        if (! value.isInt64() && ! value.isDouble())
            return {};

        const auto number = (double) value;

        if (! std::isfinite (number) || number != std::floor (number) || std::abs (number) > 1.0e9)
            return {};

        return (int) number;
    }

    juce::String listOf (std::initializer_list<int> values)
    {
        juce::StringArray texts;
        for (auto v : values)
            texts.add (juce::String (v));
        return texts.joinIntoString (", ");
    }

    // Why `value` cannot be `key`, or nothing when it was applied to `settings`.
    std::optional<juce::String> apply (const juce::String& key, const juce::var& value, AnalysisSettings& settings)
    {
        const auto got = " (got " + describeValueType (value) + ")";

        if (key == "levels" || key == "spectrum" || key == "waveform")
        {
            if (! value.isBool())
                return key + " must be true or false" + got;

            (key == "levels" ? settings.levels : key == "spectrum" ? settings.spectrum : settings.waveform) = (bool) value;
            return {};
        }

        if (key == "spectrumChannels")
        {
            if (! value.isString() || (value.toString() != "sum" && value.toString() != "each"))
                return juce::String ("spectrumChannels must be \"sum\" or \"each\"") + got;

            settings.spectrumPerChannel = value.toString() == "each";
            return {};
        }

        const auto number = wholeNumber (value);

        if (key == "framesPerSecond")
        {
            if (! number || *number < AnalysisSettings::minFramesPerSecond || *number > AnalysisSettings::maxFramesPerSecond)
                return "framesPerSecond must be a whole number from " + juce::String (AnalysisSettings::minFramesPerSecond)
                     + " to " + juce::String (AnalysisSettings::maxFramesPerSecond) + got;

            settings.framesPerSecond = *number;
            return {};
        }

        if (key == "fftSize")
        {
            const auto sizes = { 1024, 2048, 4096 };

            if (! number || std::find (sizes.begin(), sizes.end(), *number) == sizes.end())
                return "fftSize must be one of " + listOf (sizes) + got;

            settings.fftSize = *number;
            return {};
        }

        if (key == "bandsPerOctave")
        {
            const auto resolutions = { 1, 2, 3, 6, 12, 24 };

            if (! number || std::find (resolutions.begin(), resolutions.end(), *number) == resolutions.end())
                return "bandsPerOctave must be one of " + listOf (resolutions) + got;

            settings.bandsPerOctave = *number;
            return {};
        }

        jassert (key == "waveformSlices");

        if (! number || *number < 1 || *number > AnalysisSettings::maxWaveformSlices)
            return "waveformSlices must be a whole number from 1 to " + juce::String (AnalysisSettings::maxWaveformSlices) + got;

        settings.waveformSlices = *number;
        return {};
    }
} // namespace

AnalysisRequest readAnalysisRequest (const juce::Array<juce::var>& arguments)
{
    if (arguments.size() != 1)
        return { std::nullopt, "setAnalysis takes one argument, an object of settings or null to stop; it got "
                                   + juce::String (arguments.size()) };

    const auto& value = arguments.getReference (0);

    if (value.isVoid() || value.isUndefined())
        return {};

    const auto* object = value.getDynamicObject();

    if (object == nullptr || value.isArray())
        return { std::nullopt, "the settings must be an object, or null to stop (got " + describeValueType (value) + ")" };

    AnalysisSettings settings;

    for (const auto& property : object->getProperties())
    {
        const auto key = property.name.toString();

        if (! knownKeys.contains (key))
            return { std::nullopt, "unknown key \"" + key + "\"; the keys are " + knownKeys.joinIntoString (", ") };

        if (auto refusal = apply (key, property.value, settings))
            return { std::nullopt, *refusal };
    }

    if (! settings.levels && ! settings.spectrum && ! settings.waveform)
        return {};

    return { settings, {} };
}

} // namespace quillbeat
