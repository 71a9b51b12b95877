#pragma once

#include <juce_gui_extra/juce_gui_extra.h>

#include <functional>
#include <optional>

namespace juce::detail
{
// The framework's own step of its message loop; the test drives the loop
// itself, as a host would.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce::detail

// Runs the message loop for a while.
inline void pumpFor (int milliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;

    while (juce::Time::getMillisecondCounter() < end)
        if (! juce::detail::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
}

// Runs the message loop until the condition holds; false on timeout.
inline bool pumpUntil (const std::function<bool()>& condition, int timeoutMilliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMilliseconds;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= end)
            return false;

        if (! juce::detail::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
    }

    return true;
}

// Evaluates an expression in the page and waits for its value; nothing if it
// failed or took too long.
inline std::optional<juce::var> evaluateInPage (juce::WebBrowserComponent& view, const juce::String& expression,
                                                int timeoutMilliseconds = 5000)
{
    auto done = std::make_shared<bool> (false);
    auto value = std::make_shared<std::optional<juce::var>>();

    view.evaluateJavascript (expression, [done, value] (juce::WebBrowserComponent::EvaluationResult result)
    {
        if (const auto* v = result.getResult())
            *value = *v;

        *done = true;
    });

    if (! pumpUntil ([&] { return *done; }, timeoutMilliseconds))
        return std::nullopt;

    return *value;
}

// Polls an expression in the page until it is true.
inline bool pageBecomes (juce::WebBrowserComponent& view, const juce::String& expression, int timeoutMilliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMilliseconds;

    while (juce::Time::getMillisecondCounter() < end)
    {
        if (const auto v = evaluateInPage (view, "!!(" + expression + ")", 1000); v.has_value() && (bool) *v)
            return true;

        pumpFor (50);
    }

    return false;
}
