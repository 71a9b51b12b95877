#pragma once

#include <juce_javascript/juce_javascript.h>

#include <optional>

// Runs a script meant for the page in a real JavaScript engine, with an empty
// `window`, and gives back what it assigned to window.__transportData: parsed
// from JSON.stringify, so it also proves the value serialises. Nothing when
// the script fails to run.
inline std::optional<juce::var> transportAssignedBy (const juce::String& script)
{
    juce::JavascriptEngine engine;

    if (engine.execute ("var window = {};").failed() || engine.execute (script).failed())
        return std::nullopt;

    juce::Result result = juce::Result::ok();
    const auto json = engine.evaluate ("JSON.stringify(window.__transportData)", &result);

    if (result.failed())
        return std::nullopt;

    juce::var parsed;

    if (juce::JSON::parse (json.toString(), parsed).failed())
        return std::nullopt;

    return parsed;
}
