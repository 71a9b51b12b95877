#pragma once

#include "FuzzTarget.h"

#include <juce_javascript/juce_javascript.h>

#include <optional>

// Checks that need a real JavaScript engine (QuickJS, through the framework),
// as the unit tests do in PageScript.h, but with one engine kept for the whole
// run: building an engine per input would cost more than the code under test.
class JavascriptChecks
{
public:
    JavascriptChecks()
    {
        const auto setUp = engine.execute ("var window = {};"
                                           "function parseJsonStrictly (text) { return JSON.parse (text); }"
                                           "function assignedTransport() { return JSON.stringify (window.__transportData); }");
        FUZZ_CHECK (setUp.wasOk(), "the JavaScript helpers do not run");
    }

    // What a page script assigned to window.__transportData, read back through
    // JSON.stringify and the engine's JSON.parse, so it also proves the value
    // serialises. Nothing when the script does not run.
    std::optional<juce::var> transportAssignedBy (const juce::String& script)
    {
        // A leftover from the previous script must never pass for this one's result.
        if (engine.execute ("window.__transportData = undefined;").failed() || engine.execute (script).failed())
            return std::nullopt;

        const auto json = call ("assignedTransport", juce::var());

        if (! json.has_value() || ! json->isString())
            return std::nullopt;

        return parseJson (json->toString());
    }

    // The text read by the engine's JSON.parse, which holds to the JSON grammar
    // more strictly than the framework's own reader. Nothing when it is not JSON.
    std::optional<juce::var> parseJson (const juce::String& text) { return call ("parseJsonStrictly", text); }

    // Adds a target's own functions to the engine, for call() to reach.
    bool define (const juce::String& script) { return engine.execute (script).wasOk(); }

    // A function's result, or nothing when it throws.
    std::optional<juce::var> call (const char* function, const juce::var& argument)
    {
        juce::Result result = juce::Result::ok();
        const juce::var::NativeFunctionArgs args { juce::var(), &argument, argument.isVoid() ? 0 : 1 };
        auto value = engine.callFunction (function, args, &result);

        if (result.failed())
            return std::nullopt;

        return value;
    }

private:
    juce::JavascriptEngine engine;
};
